// CXmlDoc: one XML document held as a single UTF-16 text plus a compact index
// of its elements (eight 32-bit words per element, in large segments).
//
// This header declares the document model, parsing, escaping and the
// internals they share. Navigation, editing and file reading are added to the
// same class by their own sources.
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
    enum MarkupDocFlags {
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
    enum MarkupNodeFlags {
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
    enum MarkupNodeType {
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
    };

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
    bool x_ParseDoc();
    int x_ParseElem(int iPosParent, TokenPos& token);
    static void x_AppendResult(CLuStringW& strResult, const wchar_t* szId, const wchar_t* szValue,
                               int nResultFlags, int nValue = -1, int nValue2 = -1);
    static CLuStringW x_EncodeCDATASection(const wchar_t* szData);
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
};
