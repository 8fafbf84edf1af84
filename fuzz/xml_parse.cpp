// Parses arbitrary UTF-16 text (two fuzzer bytes per code unit) under every
// combination of the document flags and checks the element index; also
// checks that escaping then unescaping gives the text back, and that the
// fuzzer bytes parsed as UTF-8 give what their UTF8To16 conversion gives.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "vidozir/xmldoc.h"

namespace {

class FuzzDoc : public CXmlDoc {
public:
    explicit FuzzDoc(int nFlags) : CXmlDoc(nFlags) {}
    bool ParseUtf8(const uint8_t* data, size_t size) {
        return x_ParseUtf8(reinterpret_cast<const char*>(data), static_cast<int>(size));
    }
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

    const char* bytes = reinterpret_cast<const char*>(data);
    const int nBytes = static_cast<int>(size);
    std::vector<unsigned short> utf16(size + 1);
    const int nUnits = CXmlDoc::UTF8To16(nullptr, bytes, nBytes);
    CXmlDoc::UTF8To16(utf16.data(), bytes, nBytes);
    const std::wstring converted(utf16.begin(), utf16.begin() + nUnits);
    FuzzDoc fromBytes(0), fromText(0);
    const bool bWellFormed = fromBytes.ParseUtf8(data, size);
    fromBytes.Check("parse from UTF-8");
    if (bWellFormed != fromText.SetDoc(CLuStringW(converted.c_str(), nUnits)) ||
        fromBytes.GetDoc() != fromText.GetDoc() || fromBytes.GetResult() != fromText.GetResult()) {
        std::fprintf(stderr, "parse from UTF-8 differs from the parse of its conversion\n");
        std::abort();
    }
    return 0;
}
