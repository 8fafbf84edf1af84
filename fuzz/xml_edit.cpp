// Drives a document through navigation and edits chosen by the fuzzer. The
// input is a document text (UTF-16, two bytes per unit) up to the first 0
// unit, then two bytes per operation: the operation and an argument picking
// a text from a small pool. Edits put their text in as given, so markup that
// is not well formed can leave an index that no longer describes the text
// around it: that must never crash. While every text used so far is one
// that keeps text and index in step, the index is also checked after each
// step.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "vidozir/xmldoc.h"

namespace {

class FuzzDoc : public CXmlDoc {
public:
    void Check(int nStep) const {
        CLuStringW strProblem;
        if (!x_CheckElemIndex(&strProblem)) {
            CLuStringA narrow;
            narrow.Format("step %d: %ls", nStep, strProblem.GetString());
            std::fprintf(stderr, "index check failed: %s\n", narrow.GetString());
            std::abort();
        }
    }
};

// Texts from kFirstMalformed on are fragments that are not well formed.
const wchar_t* const kTexts[] = {
    L"a",         L"b c",      L"x]]>y",        L"q\"'",
    L"",          L"<k/>",     L"<k>t</k>",     L"text",
    L" \r\n ",    L"<a/><b/>", L"<k><j/></k>x", L"<?pi a='1'?>",
    L"1<2&3",     L"</z>",     L"<k>",          L"<!x>",
    L"<![CDATA[", L"--",
};
constexpr int kFirstMalformed = 12;
constexpr int kTextCount = sizeof(kTexts) / sizeof(kTexts[0]);
const int kNodeTypes[] = {1, 2, 4, 8, 16, 32, 64, 128, 0};
constexpr int kNodeTypeCount = sizeof(kNodeTypes) / sizeof(kNodeTypes[0]);

// Whether a node of nType made from szText reads back as that one node:
// escaped text, CDATA and comments do; the others take their text as it
// stands, which only a plain word keeps inside the node.
bool KeepsStep(int nType, const wchar_t* szText) {
    if (nType == 2 || nType == 4 || nType == 8 || nType == 32) {
        return true;
    }
    for (const wchar_t* p = szText; *p; ++p) {
        if (*p < L'a' || *p > L'z') {
            return false;
        }
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<wchar_t> units;
    size_t i = 0;
    for (; i + 1 < size; i += 2) {
        const wchar_t unit = static_cast<wchar_t>(data[i] | (data[i + 1] << 8));
        if (!unit) {
            i += 2;
            break;
        }
        units.push_back(unit);
    }
    units.push_back(0);
    FuzzDoc doc;
    doc.SetDoc(units.data());
    doc.Check(-1);
    int nStep = 0;
    bool bInStep = true;
    for (; i + 1 < size; i += 2, ++nStep) {
        const int nOp = data[i] % 32;
        const int nText = data[i + 1] % kTextCount;
        const wchar_t* szText = kTexts[nText];
        const int nNodeType = kNodeTypes[data[i + 1] % kNodeTypeCount];
        if ((nOp >= 12 && nOp <= 15) || nOp == 20) {
            bInStep = bInStep && nText < kFirstMalformed;
        } else if (nOp == 10 || nOp == 11) {
            bInStep = bInStep && KeepsStep(nNodeType, szText);
        } else if (nOp == 18) {
            bInStep = bInStep && (doc.GetNodeType() <= 1 || KeepsStep(doc.GetNodeType(), szText));
        }
        const int nFlags = data[i + 1] & (CXmlDoc::NodeWithCdata | CXmlDoc::NodeWithNoLines |
                                          CXmlDoc::NodeWithXhtmlSpace | CXmlDoc::NodeWithNoEnd);
        switch (nOp) {
            case 0:
                doc.FindElem();
                break;
            case 1:
                doc.FindChildElem();
                break;
            case 2:
                doc.IntoElem();
                break;
            case 3:
                doc.OutOfElem();
                break;
            case 4:
                doc.FindNode(nNodeType);
                break;
            case 5:
                doc.ResetPos();
                break;
            case 6:
                doc.AddElem(L"e", szText, nFlags);
                break;
            case 7:
                doc.InsertElem(L"e", szText, nFlags);
                break;
            case 8:
                doc.AddChildElem(L"c", szText, nFlags);
                break;
            case 9:
                doc.InsertChildElem(L"c", szText, nFlags);
                break;
            case 10:
                doc.AddNode(nNodeType, szText);
                break;
            case 11:
                doc.InsertNode(nNodeType, szText);
                break;
            case 12:
                doc.AddSubDoc(szText);
                break;
            case 13:
                doc.InsertSubDoc(szText);
                break;
            case 14:
                doc.AddChildSubDoc(szText);
                break;
            case 15:
                doc.InsertChildSubDoc(szText);
                break;
            case 16:
                doc.SetAttrib(L"a", szText);
                break;
            case 17:
                doc.SetChildAttrib(L"b", szText);
                break;
            case 18:
                doc.SetData(szText, nFlags);
                break;
            case 19:
                doc.SetChildData(szText, nFlags);
                break;
            case 20:
                doc.SetElemContent(szText);
                break;
            case 21:
                doc.RemoveElem();
                break;
            case 22:
                doc.RemoveChildElem();
                break;
            case 23:
                doc.RemoveNode();
                break;
            case 24:
                doc.SavePos(L"p");
                break;
            case 25:
                doc.RestorePos(L"p");
                break;
            case 26:
                doc.SetData(static_cast<int>(data[i + 1]) - 128);
                break;
            case 27:
                doc.SetAttrib(L"a", static_cast<int>(data[i + 1]));
                break;
            case 28:
                doc.GetData();
                doc.GetChildData();
                doc.GetTagName();
                break;
            case 29:
                doc.GetAttrib(L"a");
                doc.GetAttribName(data[i + 1] % 3);
                break;
            case 30:
                doc.GetSubDoc();
                doc.GetElemContent();
                doc.GetError();
                break;
            default:
                doc.ResetChildPos();
                break;
        }
        if (bInStep) {
            doc.Check(nStep);
        }
    }
    return 0;
}
