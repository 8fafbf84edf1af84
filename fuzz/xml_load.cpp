// Arbitrary bytes as a file: loaded, read back, saved. Also checks that
// DetectUTF8 agrees with a loop of the UTF-8 decoder, that UTF8To16's
// counting and writing calls agree on every input and that it writes what
// the decoder reads, one character at a time.
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "vidozir/xmldoc.h"

namespace {

void Fail(const char* what) {
    std::fprintf(stderr, "%s\n", what);
    std::abort();
}

// The file the fuzzer's bytes are written to, in Windows form.
const std::wstring& FileName() {
    static const std::wstring name = [] {
        std::string path = "/tmp/vidozir-fuzz-xml-load-" + std::to_string(getpid());
        std::wstring wide(path.begin(), path.end());
        for (wchar_t& c : wide) {
            c = c == L'/' ? L'\\' : c;
        }
        return wide;
    }();
    return name;
}

void CheckConverters(const char* p, int n) {
    // DetectUTF8 is the decoder applied to every byte at or above 0x80.
    const char* q = p;
    bool bValid = true;
    int nNonASCII = 0;
    while (q < p + n && *q) {
        if (static_cast<unsigned char>(*q) < 0x80) {
            ++q;
            continue;
        }
        ++nNonASCII;
        if (CXmlDoc::DecodeCharUTF8(q, p + n) == -1) {
            bValid = false;
            break;
        }
    }
    int nDetected = -1;
    if (CXmlDoc::DetectUTF8(p, n, &nDetected, nullptr) != bValid || nDetected != nNonASCII) {
        Fail("DetectUTF8 disagrees with the decoder");
    }
    const int nUnits = CXmlDoc::UTF8To16(nullptr, p, n);
    std::vector<unsigned short> units(static_cast<size_t>(nUnits) + 2, 0xABCD);
    const int nBytes = CXmlDoc::UTF8To16(units.data(), p, n);
    if (nBytes < 0 || nBytes > n || units[static_cast<size_t>(nUnits) + 1] != 0xABCD) {
        Fail("UTF8To16 wrote past the size it counted");
    }
    // The units are those of the decoder, one character at a time.
    std::vector<unsigned short> each;
    for (q = p; q < p + n && *q;) {
        const int nChar = CXmlDoc::DecodeCharUTF8(q, p + n);
        unsigned short pair[2];
        int nPair = 0;
        CXmlDoc::EncodeCharUTF16(nChar == -1 ? '?' : nChar, pair, nPair);
        each.insert(each.end(), pair, pair + nPair);
    }
    if (each.size() != static_cast<size_t>(nUnits) ||
        !std::equal(each.begin(), each.end(), units.begin()) || nBytes != q - p) {
        Fail("UTF8To16 disagrees with the decoder");
    }
    units[static_cast<size_t>(nUnits)] = 0;
    const int nUtf8 = CXmlDoc::UTF16To8(nullptr, units.data(), 0);
    std::vector<char> utf8(static_cast<size_t>(nUtf8) + 1);
    if (CXmlDoc::UTF16To8(utf8.data(), units.data(), nUtf8 + 1) != nUtf8 || utf8[nUtf8] != 0) {
        Fail("UTF16To8 sizes disagree");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const char* p = reinterpret_cast<const char*>(data);
    CheckConverters(p, static_cast<int>(size));

    const std::wstring& name = FileName();
    std::string native(name.begin(), name.end());
    for (char& c : native) {
        c = c == '\\' ? '/' : c;
    }
    if (FILE* fp = std::fopen(native.c_str(), "wb")) {
        std::fwrite(data, 1, size, fp);
        std::fclose(fp);
    }
    CXmlDoc doc;
    doc.Load(name.c_str());
    const CLuStringW strText = doc.GetDoc();
    const CLuStringW strError = doc.GetError();
    if (!doc.Save(name.c_str())) {
        Fail("saving the loaded document failed");
    }
    CXmlDoc again;
    again.Load(name.c_str());
    std::remove(native.c_str());
    return 0;
}
