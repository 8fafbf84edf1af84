// Parses arbitrary UTF-16 text (two fuzzer bytes per code unit) under every
// combination of the document flags and checks the element index; also
// checks that escaping then unescaping gives the text back.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "vidozir/xmldoc.h"

namespace {

class FuzzDoc : public CXmlDoc {
public:
    explicit FuzzDoc(int nFlags) : CXmlDoc(nFlags) {}
    void Check(const char* what) const {
        CLuStringW strProblem;
        if (!x_CheckElemIndex(&strProblem)) {
            CLuStringA narrow;
            narrow.Format("%s: %ls", what, strProblem.GetString());
            std::fprintf(stderr, "index check failed: %s\n", narrow.GetString());
            std::abort();
        }
        // Records are capped near 1000 characters; one record may pass it.
        if (GetResult().GetLength() > 1000 + 300) {
            std::fprintf(stderr, "result text too long\n");
            std::abort();
        }
    }
};

const int kFlags[] = {CXmlDoc::DocFlagUtf16LeFile,    CXmlDoc::DocFlagUtf8Preamble,
                      CXmlDoc::DocFlagIgnoreCase,     CXmlDoc::DocFlagReadFile,
                      CXmlDoc::DocFlagWriteFile,      CXmlDoc::DocFlagUtf16BeFile,
                      CXmlDoc::DocFlagTrimWhitespace, CXmlDoc::DocFlagCollapseWhitespace};
const int kFlagCount = sizeof(kFlags) / sizeof(kFlags[0]);

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<wchar_t> units;
    units.reserve(size / 2 + 1);
    for (size_t i = 0; i + 1 < size; i += 2) {
        units.push_back(static_cast<wchar_t>(data[i] | (data[i + 1] << 8)));
    }
    units.push_back(0);
    const wchar_t* text = units.data();

    for (int nMask = 0; nMask < (1 << kFlagCount); ++nMask) {
        int nFlags = 0;
        for (int n = 0; n < kFlagCount; ++n) {
            if (nMask & (1 << n)) {
                nFlags |= kFlags[n];
            }
        }
        FuzzDoc doc(nFlags);
        const bool bWellFormed = doc.SetDoc(text);
        if (nFlags & (CXmlDoc::DocFlagReadFile | CXmlDoc::DocFlagWriteFile)) {
            if (bWellFormed || doc.GetDoc().GetLength() != 0) {
                std::abort();  // must have been refused
            }
            continue;
        }
        doc.Check("parse");
        if (bWellFormed != doc.IsWellFormed()) {
            std::abort();
        }
        if ((nFlags & ~CXmlDoc::DocFlagIgnoreCase) == 0) {  // copying is flag-blind
            FuzzDoc copy(0);
            static_cast<CXmlDoc&>(copy) = doc;
            copy.Check("copy");
        }
    }

    const CLuStringW escaped = CXmlDoc::EscapeText(text, CXmlDoc::NodeEscapeQuotes);
    if (CXmlDoc::UnescapeText(escaped) != CLuStringW(text)) {
        std::fprintf(stderr, "escaping does not round-trip\n");
        std::abort();
    }
    for (int nFlags : {0, 256, 512}) {
        const CLuStringW plain = CXmlDoc::UnescapeText(text, -1, nFlags);
        if (plain.GetLength() > CLuStringW(text).GetLength()) {
            std::abort();
        }
    }
    return 0;
}
