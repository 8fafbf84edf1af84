// CXmlDoc: one XML document held as a single UTF-16 text plus a compact index
// of its elements (eight 32-bit words per element, in large segments).
//
// Navigation moves three cursors (parent, main and child element) over the
// index; editing splices the text and repairs the index in place.
#pragma once

#include "vidozir/export.h"
#include "vidozir/lustring.h"

// A string argument: one `const wchar_t*` (null where an operation allows it).
struct XML_CSTR {
    XML_CSTR() : pcsz(nullptr) {}
    XML_CSTR(const wchar_t* psz) : pcsz(psz) {}
    XML_CSTR(const CLuStringW& str) : pcsz(str.GetString()) {}
    operator const wchar_t*() const { return pcsz; }
    const wchar_t* pcsz;
};

class VIDOZIR_API CXmlDoc {
public:
    enum DocFlags {
        DocFlagUtf16LeFile = 1,
        DocFlagUtf8Preamble = 4,
        DocFlagIgnoreCase = 8,
        DocFlagReadFile = 16,
        DocFlagWriteFile = 32,
        DocFlagAppendFile = 64,
        DocFlagUtf16BeFile = 128,
        DocFlagTrimWhitespace = 256,
        DocFlagCollapseWhitespace = 512
    };
    enum NodeFlags {
        NodeWithCdata = 0x1,
        NodeWithNoLines = 0x2,
        NodeWithXhtmlSpace = 0x4,
        NodeWithRefs = 0x8,
        NodeWithNoEnd = 0x10,
        NodeEscapeQuotes = 0x100,
        NodeReplace = 0x1000,
        NodeInsert = 0x2000,
        NodeChild = 0x4000
    };
    // Node types: the cursor's node type and the scanner's results.
    enum NodeKind {
        NodeTypeEndTag = 0,  // scanner only
        NodeTypeElement = 1,
        NodeTypeText = 2,
        NodeTypeWhitespace = 4,
        NodeTypeCdataSection = 8,
        NodeTypeProcessingInstruction = 16,
        NodeTypeComment = 32,
        NodeTypeDocumentType = 64,
        NodeTypeLoneEndTag = 128,
        NodeTypeError = 32768,
        NodeTypeScanError = -1,  // scanner only: a malformed or unterminated tag
        NodeTypeScanEnd = -2     // scanner only: end of the text
    };

    CXmlDoc();
    explicit CXmlDoc(XML_CSTR szDoc);
    explicit CXmlDoc(int nDocFlags);
    CXmlDoc(const CXmlDoc& other);
    void operator=(const CXmlDoc& other);
    ~CXmlDoc();

    bool SetDoc(const wchar_t* pDoc);
    bool SetDoc(const CLuStringW& strDoc);
    const CLuStringW& GetDoc() const;
    int GetDocFlags() const;
    void SetDocFlags(int nFlags);
    const CLuStringW& GetResult() const;
    bool IsWellFormed();
    bool SetMapSize(int nSize, int nMap = 0);

    // ---- navigation ----
    void ResetPos();
    void ResetMainPos();
    void ResetChildPos();
    bool FindElem(XML_CSTR szName = XML_CSTR());
    bool FindChildElem(XML_CSTR szName = XML_CSTR());
    bool IntoElem();
    bool OutOfElem();
    int FindNode(int nType = 0);
    int GetNodeType() const;

    // ---- reading ----
    CLuStringW GetTagName() const;
    CLuStringW GetChildTagName() const;
    CLuStringW GetAttrib(XML_CSTR szAttrib) const;
    CLuStringW GetChildAttrib(XML_CSTR szAttrib) const;
    CLuStringW GetAttribName(int n) const;
    bool GetNthAttrib(int n, CLuStringW& strName, CLuStringW& strValue) const;
    CLuStringW GetData();
    CLuStringW GetChildData();
    CLuStringW GetElemContent() const;
    CLuStringW GetSubDoc();
    CLuStringW GetChildSubDoc();
    CLuStringW GetError() const;

    // ---- saved positions ----
    bool SavePos(XML_CSTR szPosName = XML_CSTR(L""), int nMap = 0);
    bool RestorePos(XML_CSTR szPosName = XML_CSTR(L""), int nMap = 0);

    // ---- editing ----
    bool AddElem(XML_CSTR szName, XML_CSTR szValue = XML_CSTR(), int nFlags = 0);
    bool AddElem(XML_CSTR szName, int nValue, int nFlags = 0);
    bool InsertElem(XML_CSTR szName, XML_CSTR szValue = XML_CSTR(), int nFlags = 0);
    bool InsertElem(XML_CSTR szName, int nValue, int nFlags = 0);
    bool AddChildElem(XML_CSTR szName, XML_CSTR szValue = XML_CSTR(), int nFlags = 0);
    bool AddChildElem(XML_CSTR szName, int nValue, int nFlags = 0);
    bool InsertChildElem(XML_CSTR szName, XML_CSTR szValue = XML_CSTR(), int nFlags = 0);
    bool InsertChildElem(XML_CSTR szName, int nValue, int nFlags = 0);
    bool AddNode(int nType, XML_CSTR szText);
    bool InsertNode(int nType, XML_CSTR szText);
    bool AddSubDoc(XML_CSTR szSubDoc);
    bool InsertSubDoc(XML_CSTR szSubDoc);
    bool AddChildSubDoc(XML_CSTR szSubDoc);
    bool InsertChildSubDoc(XML_CSTR szSubDoc);
    bool SetAttrib(XML_CSTR szAttrib, XML_CSTR szValue, int nFlags = 0);
    bool SetAttrib(XML_CSTR szAttrib, int nValue, int nFlags = 0);
    bool SetChildAttrib(XML_CSTR szAttrib, XML_CSTR szValue, int nFlags = 0);
    bool SetChildAttrib(XML_CSTR szAttrib, int nValue, int nFlags = 0);
    bool AddAttrib(XML_CSTR szAttrib, XML_CSTR szValue);
    bool AddAttrib(XML_CSTR szAttrib, int nValue);
    bool AddChildAttrib(XML_CSTR szAttrib, XML_CSTR szValue);
    bool AddChildAttrib(XML_CSTR szAttrib, int nValue);
    bool SetData(XML_CSTR szData, int nFlags = 0);
    bool SetData(int nValue);
    bool SetChildData(XML_CSTR szData, int nFlags = 0);
    bool SetChildData(int nValue);
    bool SetElemContent(XML_CSTR szContent);
    bool RemoveElem();
    bool RemoveChildElem();
    bool RemoveNode();

    // ---- text files and encodings ----
    bool Load(XML_CSTR szFileName);
    bool Save(XML_CSTR szFileName);
    static bool ReadTextFile(XML_CSTR szFileName, CLuStringW& strDoc,
                             CLuStringW* pstrResult = nullptr, int* pnDocFlags = nullptr,
                             CLuStringW* pstrEncoding = nullptr);
    static bool WriteTextFile(XML_CSTR szFileName, const CLuStringW& strDoc,
                              CLuStringW* pstrResult = nullptr, int* pnDocFlags = nullptr,
                              CLuStringW* pstrEncoding = nullptr);
    static void EncodeCharUTF8(int nUChar, char* pszUTF8, int& nUTF8Len);
    static void EncodeCharUTF16(int nUChar, unsigned short* pwszUTF16, int& nUTF16Len);
    static int DecodeCharUTF8(const char*& pszUTF8, const char* pszUTF8End = nullptr);
    static int DecodeCharUTF16(const unsigned short*& pwszUTF16,
                               const unsigned short* pszUTF16End = nullptr);
    static int UTF8To16(unsigned short* pwszUTF16, const char* pszUTF8, int nUTF8Count);
    static int UTF16To8(char* pszUTF8, const unsigned short* pwszUTF16, int nUTF8Count);
    static bool DetectUTF8(const char* pText, int nTextLen, int* pnNonASCII = nullptr,
                           bool* bErrorAtEnd = nullptr);
    static CLuStringW GetDeclaredEncoding(XML_CSTR szDoc);
    static int GetEncodingCodePage(XML_CSTR pszEncoding);

    static CLuStringW EscapeText(XML_CSTR szText, int nFlags = 0);
    static CLuStringW UnescapeText(XML_CSTR szText, int nTextLength = -1, int nFlags = 0);

protected:
    // Record flags, in the upper half of an element's flags-and-level word.
    enum ElemFlags {
        ElemReleased = 0x20000,
        ElemFirst = 0x80000,
        ElemNonEnded = 0x100000,
        ElemIllData = 0x200000,
        ElemIllFormed = 0x800000
    };
    enum ElemLimits {
        ElemLevelMask = 0xFFFF,
        ElemStartTagMax = 0x3FFFFF,  // 22 bits
        ElemEndTagMax = 0x3FF        // 10 bits
    };
    // Scanner node flag: the start tag ends in "/>".
    enum { NodeFlagEmptyElement = 0x10000 };
    // Result record flags of x_AppendResult.
    enum ResultFlags {
        ResultCount = 1,
        ResultType = 2,
        ResultNumber = 4,
        ResultEncoding = 8,
        ResultLength = 16,
        ResultAmend = 32,
        ResultMsg = 64
    };

    // One element: where it lies in the text and how it is linked.
    struct ElemPos {
        int nStart;            // offset of its "<"
        int nLength;           // whole element, start tag to end of end tag
        unsigned nTagLengths;  // bits 0-21 start tag length, 22-31 end tag length
        int nFlagsLevel;       // bits 0-15 level, 16-31 record flags
        int iElemParent;
        int iElemChild;  // first child
        int iElemNext;   // next sibling; chains the released list in a released record
        int iElemPrev;   // previous sibling; the last sibling for a first child

        int StartTagLen() const { return static_cast<int>(nTagLengths & 0x3FFFFF); }
        int EndTagLen() const { return static_cast<int>(nTagLengths >> 22); }
        void SetStartTagLen(int n) {
            nTagLengths = (nTagLengths & ~0x3FFFFFu) | (static_cast<unsigned>(n) & 0x3FFFFFu);
        }
        void SetEndTagLen(int n) {
            nTagLengths = (nTagLengths & 0x3FFFFFu) | (static_cast<unsigned>(n) << 22);
        }
        int Level() const { return nFlagsLevel & ElemLevelMask; }
        void SetLevel(int n) { nFlagsLevel = (nFlagsLevel & ~ElemLevelMask) | (n & ElemLevelMask); }
        bool IsEmptyElement() const { return StartTagLen() == nLength; }
        int StartContent() const { return nStart + StartTagLen(); }
        int ContentLen() const { return nLength - StartTagLen() - EndTagLen(); }
        int StartAfter() const { return nStart + nLength; }
        int StartEndTag() const { return nStart + nLength - EndTagLen(); }
        void Clear() { *this = ElemPos(); }
    };

    // Element records in segments of 65,536; a full segment is never moved.
    struct VIDOZIR_API ElemPosTable {
        enum { SegmentBits = 16, SegmentSize = 1 << SegmentBits, SegmentMask = SegmentSize - 1 };
        ElemPosTable() : m_pSegs(nullptr), m_nSize(0), m_nSegs(0) {}
        ~ElemPosTable() { Free(); }
        ElemPos& operator[](int i) const { return m_pSegs[i >> SegmentBits][i & SegmentMask]; }
        void Grow(int nNewSize);
        void CopyFrom(const ElemPosTable& source, int nUsed);
        void Free();
        ElemPos** m_pSegs;  // segment pointer array
        int m_nSize;        // records the table can hold
        int m_nSegs;        // entries in the segment pointer array

    private:
        ElemPosTable(const ElemPosTable&) = delete;
        ElemPosTable& operator=(const ElemPosTable&) = delete;
    };

    // Saved positions: named cursor triples in hashed maps.
    enum SavedPosFlags { SavedPosMain = 1, SavedPosChild = 2, SavedPosUsed = 4, SavedPosLast = 8 };
    struct SavedPos {
        SavedPos() : iPos(0), nSavedPosFlags(0) {}
        CLuStringW strName;
        int iPos;
        int nSavedPosFlags;
    };
    struct SavedPosMap {
        explicit SavedPosMap(int nSize);
        ~SavedPosMap();
        SavedPos** pTable;  // one entry array per slot, null when empty
        int nMapSize;

    private:
        SavedPosMap(const SavedPosMap&) = delete;
        SavedPosMap& operator=(const SavedPosMap&) = delete;
    };
    struct VIDOZIR_API SavedPosMapList {
        SavedPosMapList() : pMaps(nullptr) {}
        ~SavedPosMapList() { ReleaseMaps(); }
        // Finds map nMap, creating it and every missing lower map with nMapSize
        // slots; true when it created map nMap.
        bool GetMap(SavedPosMap*& pMap, int nMap, int nMapSize = 7);
        void ReleaseMaps();
        void CopyFrom(const SavedPosMapList& source);
        SavedPosMap** pMaps;  // null-terminated

    private:
        SavedPosMapList(const SavedPosMapList&) = delete;
        SavedPosMapList& operator=(const SavedPosMapList&) = delete;
    };

    // One node found by the scanner (or, when editing, a node to insert).
    struct NodePos {
        NodePos() : nNodeType(0), nStart(0), nLength(0), nNodeFlags(0) {}
        explicit NodePos(int nFlags) : nNodeType(0), nStart(0), nLength(0), nNodeFlags(nFlags) {}
        int nNodeType;
        int nStart;
        int nLength;
        int nNodeFlags;
        CLuStringW strMeta;  // an error node's result record; the text to insert
    };

    // The scanner: walks the text node by node without copying it.
    struct VIDOZIR_API TokenPos {
        TokenPos(const wchar_t* szDoc, int nTokenFlags)
            : m_nL(0),
              m_nR(-1),
              m_nNext(0),
              m_pDocText(szDoc),
              m_nTokenFlags(nTokenFlags),
              m_nPreSpaceStart(0),
              m_nPreSpaceLength(0) {}
        int ScanNode(NodePos& node);
        bool MatchName(const wchar_t* szName) const;
        CLuStringW TokenText() const;
        bool SkipToTag(int nStart);
        int Length() const { return m_nR - m_nL + 1; }

        int m_nL;     // first character of the last name found
        int m_nR;     // its last character (m_nL - 1 when empty)
        int m_nNext;  // where the next scan starts
        const wchar_t* m_pDocText;
        int m_nTokenFlags;  // document flags; 0x8000 while the token is a quoted value
        int m_nPreSpaceStart;
        int m_nPreSpaceLength;

    private:
        struct KindScanners;  // one scanner per kind of node (markup/xml_scan.cpp)
    };

    // A path argument of FindElem and FindChildElem, checked once on
    // construction. Only a relative path's first step takes part in a search.
    struct VIDOZIR_API PathPos {
        enum {
            PathAny = 0,
            PathRelative = 1,
            PathAbsolute = 2,
            PathAnywhere = 3,
            PathInvalid = -1
        };
        explicit PathPos(const wchar_t* szPath);
        bool IsAny() const { return nPathType == PathAny; }
        bool IsRelative() const { return nPathType == PathRelative; }
        const wchar_t* FirstStep() const { return pPath + iPathStart; }

        int nPathType;
        bool bReader;  // no reader mode here: always false
        const wchar_t* pPath;
        int i;                // current index into the path
        int iPathAttribName;  // a trailing "/@name", 0 when none
        int iPathStart;       // where the first step begins
        int nLength;

    private:
        bool ParseStep();
        int ParseName();
        bool ParsePredicate();
    };

    // One call of the file functions: the open file, its encoding and the
    // records of the current step; and a conversion of text to or from UTF-16.
    struct TextFile;
    struct TextConversion;

    // Compares n code units of two names, forgiving ASCII case differences
    // under bIgnoreCase until equal units at or above 128 have been passed.
    static bool x_NamesEqual(const wchar_t* a, const wchar_t* b, int n, bool bIgnoreCase);

    void x_InitDoc();
    ElemPos& ELEM(int i) const { return (*m_pElemTable)[i]; }
    bool x_AllocElemPos(int nNewSize = 0);
    int x_GetFreePos();
    int x_ReleasePos(int iPos);
    int x_GetParent(int iPos) const;
    void x_SetPos(int iPosParent, int iPos, int iPosChild);
    // Puts the cursor on a node at nStart (the main position iPos being the
    // element before it); the parent stays, the child position is cleared.
    void x_SetNodePos(int iPos, int nNodeType, int nStart, int nLength);
    bool x_ParseDoc();
    int x_ParseElem(int iPosParent, TokenPos& token);
    // The parse of a text that reaches the document while it is parsed: a
    // copy that follows the scan, or UTF-8 decoded ahead of it
    // (markup/xml_internal.h).
    struct TextFeed;
    struct CopyBehind;
    struct Utf8Ahead;
    bool x_ParseDoc(TextFeed* pFeed);
    int x_ParseElem(int iPosParent, TokenPos& token, TextFeed* pFeed);
    // The document of UTF-8 bytes, as SetDoc of their UTF8To16 conversion;
    // well-formed UTF-8 is decoded and parsed in one pass.
    bool x_ParseUtf8(const char* pBytes, int nBytes);
    static void x_AppendResult(CLuStringW& strResult, const wchar_t* szId, const wchar_t* szValue,
                               int nResultFlags, int nValue = -1, int nValue2 = -1);
    static CLuStringW x_EncodeCDATASection(const wchar_t* szData);

    // Reading.
    CLuStringW x_GetTagName(int iPos) const;
    CLuStringW x_GetAttrib(int iPos, const wchar_t* szAttrib) const;
    CLuStringW x_GetData(int iPos);
    CLuStringW x_GetElemContent(int iPos) const;
    CLuStringW x_GetSubDoc(int iPos);
    CLuStringW x_GetPath(int iPos) const;
    int x_FindElem(int iPosParent, int iPos, PathPos& path) const;
    // Scans the tag that starts at the scanner's next offset for attribute
    // szAttrib (or, when szAttrib is null, for attribute number n); on success
    // the scanner's name span is the value (or the bare name). The text runs
    // at least to nTextEnd (0: not known), which lets quoted values be
    // searched several units at a time.
    static bool x_FindAttrib(TokenPos& token, const wchar_t* szAttrib, int n = 0, int nTextEnd = 0);
    // The tag name of the text at nOffset, as reading a tag name goes.
    static CLuStringW x_TagNameAt(const wchar_t* pText, int nOffset);
    bool x_CheckSavedPos();

    // Editing.
    void x_DocChange(int nLeft, int nReplace, const CLuStringW& strInsert);
    void x_Adjust(int iPos, int nShift, bool bAfterPos = false);
    void x_AdjustForNode(int iPosParent, int iPos, int nShift);
    int x_InsertNew(int iPosParent, int& iPosRel, NodePos& node);
    // As above, with the text to insert given in pieces (markup/xml_edit.cpp)
    // rather than in the node's string.
    struct TextPieces;
    int x_InsertNew(int iPosParent, int& iPosRel, NodePos& node, const TextPieces& text);
    void x_LinkElem(int iPosParent, int iPosBefore, int iPos);
    int x_UnlinkElem(int iPos);
    int x_ReleaseSubDoc(int iPos);
    static bool x_CreateNode(CLuStringW& strNode, int nNodeType, const wchar_t* szText);
    bool x_AddElem(const wchar_t* szName, const wchar_t* szValue, int nFlags);
    bool x_AddElem(const wchar_t* szName, int nValue, int nFlags);
    bool x_AddNode(int nNodeType, const wchar_t* szText, int nNodeFlags);
    bool x_AddSubDoc(const wchar_t* szSubDoc, int nFlags);
    bool x_SetAttrib(int iPos, const wchar_t* szAttrib, const wchar_t* szValue, int nFlags = 0);
    bool x_SetAttrib(int iPos, const wchar_t* szAttrib, int nValue, int nFlags = 0);
    bool x_SetData(int iPos, const wchar_t* szData, int nFlags);
    bool x_SetData(int iPos, int nValue);
    bool x_SetElemContent(const wchar_t* szContent);
    int x_RemoveElem(int iPos);
    void x_RemoveNode(int iPosParent, int& iPos, int& nNodeType, int& nNodeOffset,
                      int& nNodeLength);
    void x_ShiftStarts(int iPos, int nShift);
    int x_ParseFragment(const wchar_t* szText, int nLevel);
    void x_EditTarget(int nFlags, int& iPosParent, int& iPosBefore, NodePos& node) const;
    bool x_ContentScansClean(int iPosParent) const;
    int x_ElemBefore(int iPosParent, int iPos, int nOffset) const;
    void x_ReleaseHidden(int iPosParent, int& iPos, int nStart, int nEnd);
    // Debugging aid for the tests and the fuzzer: checks every link, flag,
    // level and span of the element index; on failure describes the first
    // problem in *pstrProblem.
    bool x_CheckElemIndex(CLuStringW* pstrProblem = nullptr) const;

    CLuStringW m_strDocText;
    CLuStringW m_strResultText;
    int m_iParentPos;
    int m_iMainPos;
    int m_iChildPos;
    int m_iNextFreePos;
    int m_iReleasedPos;
    int m_nNodeType;
    int m_nNodeStart;
    int m_nNodeLength;
    int m_nDocFlags;
    SavedPosMapList* m_pPosMaps;
    ElemPosTable* m_pElemTable;

private:
    struct OpenTagStack;
    void x_EndOpenElems(OpenTagStack& stack, int nKeep, int iPosVirtual, int nOffset2);
    void x_ShiftLevels(int iPos, int nShift);
    int x_NextInSubtree(int iPosTop, int i) const;
    int x_EndWithSpace(int iPos) const;
};
