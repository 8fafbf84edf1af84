// CXmlDoc's document model: members, the segmented element table, the saved
// position maps, construction, copying and the whole-text operations.
#include "markup/xml_internal.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <new>

using vidozir::xml::kStreamFlags;

// ---- element table ----

void CXmlDoc::ElemPosTable::Grow(int nNewSize) {
    if (nNewSize <= m_nSize) {
        return;
    }
    // A block of nSize records holding the nUsed records of pOld (a block of
    // exactly nUsed, freed), the rest cleared: each record is written once.
    // Through realloc, which grows a block where it lies when it can: the
    // table and a text being built both grow by half again, and a segment
    // moved up behind the text each time would make the text move instead.
    auto moved = [](ElemPos* pOld, int nUsed, int nSize) {
        auto* pNew = static_cast<ElemPos*>(std::realloc(pOld, sizeof(ElemPos) * nSize));
        if (!pNew) {
            throw std::bad_alloc();
        }
        std::memset(pNew + nUsed, 0, sizeof(ElemPos) * (nSize - nUsed));
        return pNew;
    };
    const bool bEmpty = m_nSize == 0;
    const int nLastSeg = bEmpty ? 0 : (m_nSize - 1) >> SegmentBits;
    int nWantSeg = (nNewSize - 1) >> SegmentBits;
    // Never more than one new segment at a time.
    if (nWantSeg > nLastSeg + 1) {
        nNewSize = (nLastSeg + 2) * SegmentSize;
        nWantSeg = nLastSeg + 1;
    }
    if (nWantSeg >= m_nSegs) {
        const int nNewSegs = 4 + 2 * nWantSeg;
        ElemPos** pNew = new ElemPos*[nNewSegs]();
        if (m_pSegs) {
            std::memcpy(pNew, m_pSegs, sizeof(ElemPos*) * m_nSegs);
            delete[] m_pSegs;
        }
        m_pSegs = pNew;
        m_nSegs = nNewSegs;
    }
    if (nWantSeg > nLastSeg || bEmpty) {
        // Starting a new segment: the current last one becomes a full block.
        const int nInLast = bEmpty ? 0 : m_nSize - nLastSeg * SegmentSize;
        if (nWantSeg > nLastSeg && nInLast < SegmentSize) {
            m_pSegs[nLastSeg] = moved(bEmpty ? nullptr : m_pSegs[nLastSeg], nInLast, SegmentSize);
        }
    }
    const int nInNew = nNewSize - nWantSeg * SegmentSize;
    const bool bSameSeg = nWantSeg == nLastSeg && !bEmpty;
    m_pSegs[nWantSeg] = moved(bSameSeg ? m_pSegs[nLastSeg] : nullptr,
                              bSameSeg ? m_nSize - nLastSeg * SegmentSize : 0, nInNew);
    m_nSize = nNewSize;
}

void CXmlDoc::ElemPosTable::CopyFrom(const ElemPosTable& source, int nUsed) {
    Free();
    const int nSize = std::max(nUsed, 8);
    const int nSegs = ((nSize - 1) >> SegmentBits) + 1;
    m_pSegs = new ElemPos*[nSegs]();
    m_nSegs = nSegs;
    for (int nSeg = 0; nSeg < nSegs; ++nSeg) {
        const int nFirst = nSeg * SegmentSize;
        const int nCount = std::min<int>(SegmentSize, nSize - nFirst);
        m_pSegs[nSeg] = static_cast<ElemPos*>(std::calloc(nCount, sizeof(ElemPos)));
        if (!m_pSegs[nSeg]) {
            throw std::bad_alloc();
        }
        const int nCopy = std::min(nCount, source.m_nSize - nFirst);
        if (nCopy > 0) {
            std::memcpy(m_pSegs[nSeg], source.m_pSegs[nSeg], sizeof(ElemPos) * nCopy);
        }
    }
    m_nSize = nSize;
}

void CXmlDoc::ElemPosTable::Free() {
    if (m_pSegs) {
        const int nUsedSegs = m_nSize ? ((m_nSize - 1) >> SegmentBits) + 1 : 0;
        for (int nSeg = 0; nSeg < nUsedSegs; ++nSeg) {
            std::free(m_pSegs[nSeg]);  // segments are malloc blocks (realloc in Grow)
        }
        delete[] m_pSegs;
    }
    m_pSegs = nullptr;
    m_nSize = 0;
    m_nSegs = 0;
}

// ---- saved position maps ----

CXmlDoc::SavedPosMap::SavedPosMap(int nSize) : pTable(new SavedPos*[nSize]()), nMapSize(nSize) {}

CXmlDoc::SavedPosMap::~SavedPosMap() {
    for (int nSlot = 0; nSlot < nMapSize; ++nSlot) {
        delete[] pTable[nSlot];
    }
    delete[] pTable;
}

bool CXmlDoc::SavedPosMapList::GetMap(SavedPosMap*& pMap, int nMap, int nMapSize) {
    int nCount = 0;
    while (pMaps && pMaps[nCount]) {
        ++nCount;
    }
    if (nMap < nCount) {
        pMap = pMaps[nMap];
        return false;
    }
    // A map needs at least one slot: names are hashed modulo its size.
    nMapSize = std::max(nMapSize, 1);
    SavedPosMap** pNew = new SavedPosMap*[nMap + 2]();
    std::copy(pMaps, pMaps + nCount, pNew);
    for (int n = nCount; n <= nMap; ++n) {
        pNew[n] = new SavedPosMap(nMapSize);
    }
    delete[] pMaps;
    pMaps = pNew;
    pMap = pMaps[nMap];
    return true;
}

void CXmlDoc::SavedPosMapList::ReleaseMaps() {
    if (pMaps) {
        for (SavedPosMap** p = pMaps; *p; ++p) {
            delete *p;
        }
        delete[] pMaps;
        pMaps = nullptr;
    }
}

void CXmlDoc::SavedPosMapList::CopyFrom(const SavedPosMapList& source) {
    ReleaseMaps();
    for (int nMap = 0; source.pMaps && source.pMaps[nMap]; ++nMap) {
        const SavedPosMap* pSource = source.pMaps[nMap];
        SavedPosMap* pTarget = nullptr;
        GetMap(pTarget, nMap, pSource->nMapSize);
        for (int nSlot = 0; nSlot < pSource->nMapSize; ++nSlot) {
            const SavedPos* pEntries = pSource->pTable[nSlot];
            if (!pEntries) {
                continue;
            }
            int nUsed = 0;
            while (pEntries[nUsed].nSavedPosFlags & SavedPosUsed) {
                ++nUsed;
                if (pEntries[nUsed - 1].nSavedPosFlags & SavedPosLast) {
                    break;
                }
            }
            if (nUsed == 0) {
                continue;
            }
            SavedPos* pCopy = new SavedPos[nUsed];
            for (int n = 0; n < nUsed; ++n) {
                pCopy[n] = pEntries[n];
                pCopy[n].nSavedPosFlags &= ~SavedPosLast;
            }
            pCopy[nUsed - 1].nSavedPosFlags |= SavedPosLast;
            pTarget->pTable[nSlot] = pCopy;
        }
    }
}

// ---- construction and copying ----

void CXmlDoc::x_InitDoc() {
    m_iParentPos = 0;
    m_iMainPos = 0;
    m_iChildPos = 0;
    m_iNextFreePos = 1;
    m_iReleasedPos = 0;
    m_nNodeType = 0;
    m_nNodeStart = 0;
    m_nNodeLength = 0;
    m_nDocFlags = 0;
    m_pPosMaps = new SavedPosMapList;
    m_pElemTable = new ElemPosTable;
}

CXmlDoc::CXmlDoc() {
    x_InitDoc();
    SetDoc(L"");
}

CXmlDoc::CXmlDoc(XML_CSTR szDoc) {
    x_InitDoc();
    SetDoc(szDoc.pcsz);
}

CXmlDoc::CXmlDoc(int nDocFlags) {
    x_InitDoc();
    SetDoc(L"");
    m_nDocFlags = nDocFlags;
}

CXmlDoc::CXmlDoc(const CXmlDoc& other) {
    x_InitDoc();
    // When the source is in the (never opened) streaming mode the copy keeps
    // an empty text over an empty table.
    *this = other;
}

void CXmlDoc::operator=(const CXmlDoc& other) {
    if (this == &other || (m_nDocFlags & kStreamFlags) || (other.m_nDocFlags & kStreamFlags)) {
        return;
    }
    m_iParentPos = other.m_iParentPos;
    m_iMainPos = other.m_iMainPos;
    m_iChildPos = other.m_iChildPos;
    m_iNextFreePos = other.m_iNextFreePos;
    m_iReleasedPos = other.m_iReleasedPos;
    m_nNodeType = other.m_nNodeType;
    m_nNodeStart = other.m_nNodeStart;
    m_nNodeLength = other.m_nNodeLength;
    m_strDocText = other.m_strDocText;
    m_strResultText = other.m_strResultText;
    m_nDocFlags = other.m_nDocFlags;
    m_pElemTable->CopyFrom(*other.m_pElemTable, other.m_iNextFreePos);
    m_pPosMaps->CopyFrom(*other.m_pPosMaps);
}

CXmlDoc::~CXmlDoc() {
    delete m_pPosMaps;
    delete m_pElemTable;
}

// ---- the whole text ----

bool CXmlDoc::SetDoc(const wchar_t* pDoc) {
    if (m_nDocFlags & kStreamFlags) {
        return false;
    }
    if (pDoc) {
        m_strDocText = pDoc;
    } else {
        m_strDocText.Empty();
        m_pElemTable->Free();
    }
    m_strResultText.Empty();
    return x_ParseDoc();
}

bool CXmlDoc::SetDoc(const CLuStringW& strDoc) {
    if (m_nDocFlags & kStreamFlags) {
        return false;
    }
    if (&strDoc == &m_strDocText) {
        m_strResultText.Empty();
        return x_ParseDoc();
    }
    // The text is copied while it is parsed; the parse reads the source,
    // which holds the same text.
    const int nLength = strDoc.GetLength();
    m_strDocText.Empty();
    CopyBehind copy(strDoc.GetString(), m_strDocText.GetBuffer(nLength), nLength);
    m_strDocText.ReleaseBuffer(nLength);
    m_strResultText.Empty();
    const bool bWellFormed = x_ParseDoc(&copy);
    copy.Through(nLength);
    return bWellFormed;
}

CXmlDoc::Utf8Ahead::Utf8Ahead(const char* pSource, int nSourceBytes, int nUnits, wchar_t* pTarget)
    : pBytes(pSource), nBytes(nSourceBytes), pOut(pTarget) {
    pText = pTarget;
    nSize = nUnits;
    bAll = nSourceBytes == 0;
    Advance(0);
}

int CXmlDoc::Utf8Ahead::Units(const char* pSource, int nSourceBytes) {
    int nUnits = 0;
    for (int i = 0; i < nSourceBytes; ++i) {
        const auto c = static_cast<unsigned char>(pSource[i]);
        nUnits += static_cast<int>((c & 0xC0) != 0x80) + static_cast<int>(c >= 0xF0);
    }
    return nUnits;
}

void CXmlDoc::Utf8Ahead::Advance(int nAt) {
    // Pieces small enough that what the scan reads next is still in the
    // cache; a piece ends before a sequence it would cut.
    constexpr int kAhead = 4096;  // units ready beyond the scan
    while (!bAll && !bFailed && nReady - kAhead < nAt) {
        int nTake = nBytes - nDone < kPiece ? nBytes - nDone : kPiece;
        for (int n = 0; n < 3 && nDone + nTake < nBytes &&
                        (static_cast<unsigned char>(pBytes[nDone + nTake]) & 0xC0) == 0x80;
             ++n) {
            --nTake;
        }
        int nUnits = 0;
        const int nGot =
            vidozir::xml::DecodeWellFormedUtf8(pBytes + nDone, nTake, pOut + nReady, nUnits);
        nDone += nGot;
        nReady += nUnits;
        if (nGot < nTake) {
            bFailed = true;
            break;
        }
        bAll = nDone == nBytes;
    }
    pOut[nReady] = 0;
    nCheckAt = bAll ? INT_MAX : nReady - kAhead;
}

bool CXmlDoc::x_ParseUtf8(const char* pBytes, int nBytes) {
    if (m_nDocFlags & kStreamFlags) {
        return false;
    }
    nBytes = pBytes && nBytes > 0 ? nBytes : 0;
    m_strResultText.Empty();
    m_strDocText.Empty();
    // The text's length, counted before the parse, sizes the record table's
    // reservation as the length of a wide text does, and the text's room:
    // the decoder may write a piece's bytes in units beyond what it has
    // decoded, never more.
    const int nUnits = Utf8Ahead::Units(pBytes, nBytes);
    const int nRoom = std::min(nBytes, nUnits + Utf8Ahead::kPiece);
    Utf8Ahead feed(pBytes, nBytes, nUnits, m_strDocText.GetBuffer(nRoom));
    const bool bWellFormed = x_ParseDoc(&feed);
    if (!feed.bFailed) {
        vidozir::xml::EndDecodedText(m_strDocText, feed.nReady, nRoom);
        return bWellFormed;
    }
    // Anything else as the lenient conversion gives it.
    m_strDocText = vidozir::xml::Utf8Text(pBytes, nBytes);
    m_strResultText.Empty();
    return x_ParseDoc();
}

const CLuStringW& CXmlDoc::GetDoc() const {
    return m_strDocText;
}

int CXmlDoc::GetDocFlags() const {
    return m_nDocFlags;
}

const CLuStringW& CXmlDoc::GetResult() const {
    return m_strResultText;
}

void CXmlDoc::SetDocFlags(int nFlags) {
    m_nDocFlags = nFlags & ~(DocFlagReadFile | DocFlagWriteFile | DocFlagAppendFile);
}

bool CXmlDoc::IsWellFormed() {
    if (m_nDocFlags & DocFlagWriteFile) {
        return true;
    }
    const bool bTable = m_pElemTable->m_nSize > 0;
    const bool bIllFormed = bTable && (ELEM(0).nFlagsLevel & ElemIllFormed);
    if (m_nDocFlags & DocFlagReadFile) {
        return !bIllFormed;
    }
    if (!bTable || bIllFormed) {
        return false;
    }
    const int iRoot = ELEM(0).iElemChild;
    return iRoot != 0 && ELEM(iRoot).iElemNext == 0;
}

bool CXmlDoc::SetMapSize(int nSize, int nMap) {
    if ((m_nDocFlags & kStreamFlags) || nMap < 0) {
        return false;
    }
    SavedPosMap* pMap = nullptr;
    return m_pPosMaps->GetMap(pMap, nMap, nSize);
}

// ---- record handling ----

bool CXmlDoc::x_AllocElemPos(int nNewSize) {
    if (nNewSize == 0) {
        nNewSize = m_iNextFreePos + m_iNextFreePos / 2;
    }
    m_pElemTable->Grow(nNewSize);
    return true;
}

int CXmlDoc::x_GetFreePos() {
    if (m_iNextFreePos >= m_pElemTable->m_nSize) {
        // Half again; a table of fewer than two records grows by at least one.
        x_AllocElemPos(std::max(m_iNextFreePos + m_iNextFreePos / 2, m_iNextFreePos + 1));
    }
    return m_iNextFreePos++;
}

int CXmlDoc::x_ReleasePos(int iPos) {
    ElemPos& elem = ELEM(iPos);
    const int iNext = elem.iElemNext;
    elem.iElemNext = m_iReleasedPos;
    elem.nFlagsLevel = ElemReleased;
    m_iReleasedPos = iPos;
    return iNext;
}

int CXmlDoc::x_GetParent(int iPos) const {
    return ELEM(iPos).iElemParent;
}

void CXmlDoc::x_SetPos(int iPosParent, int iPos, int iPosChild) {
    m_iParentPos = iPosParent;
    m_iMainPos = iPos;
    m_iChildPos = iPosChild;
    m_nNodeStart = 0;
    m_nNodeLength = 0;
    m_nNodeType = iPos ? NodeTypeElement : 0;
}

void CXmlDoc::x_SetNodePos(int iPos, int nNodeType, int nStart, int nLength) {
    m_iMainPos = iPos;
    m_iChildPos = 0;
    m_nNodeType = nNodeType;
    m_nNodeStart = nStart;
    m_nNodeLength = nLength;
}
