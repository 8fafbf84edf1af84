// XML parse throughput of CXmlDoc against pugixml, tinyxml2 and libxml2, in
// MB/s of the UTF-8 input, on the freedesktop.org MIME database (a real 2.4 MB
// file) and on a generated 20 MB document. CXmlDoc is measured twice: from
// text already in UTF-16, and including the UTF-8 to UTF-16 conversion (the
// fair figure: the peers start from UTF-8). Each side also reports the heap
// it holds per element after a parse (bytes_per_elem).
#include <benchmark/benchmark.h>
#include <libxml/parser.h>
#include <malloc.h>
#include <pugixml.hpp>
#include <tinyxml2.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <random>
#include <sstream>
#include <string>

#include "vidozir/xmldoc.h"

namespace {

// A document that parses UTF-8 straight into its own text, as reading a file
// does: the conversion writes into the document's buffer, then it parses.
class Utf8Doc : public CXmlDoc {
public:
    bool ParseUtf8(const std::string& utf8) {
        wchar_t* out = m_strDocText.GetBuffer(static_cast<int>(utf8.size()));
        const int n = Utf8ToUtf16(utf8, out);
        m_strDocText.ReleaseBuffer(n);
        m_strResultText.Empty();
        return x_ParseDoc();
    }
    int Elements() const { return m_iNextFreePos - 1; }
    size_t HeldBytes() const {
        return static_cast<size_t>(m_strDocText.GetAllocLength()) * sizeof(wchar_t) +
               static_cast<size_t>(m_pElemTable->m_nSize) * sizeof(ElemPos);
    }

    // UTF-8 to UTF-16 units, ASCII runs copied in a tight loop; a malformed
    // sequence becomes "?".
    static int Utf8ToUtf16(const std::string& utf8, wchar_t* out) {
        const unsigned char* p = reinterpret_cast<const unsigned char*>(utf8.data());
        const unsigned char* end = p + utf8.size();
        wchar_t* start = out;
        while (p < end) {
            // Eight ASCII bytes at a time while the high bits are clear.
            while (end - p >= 8) {
                uint64_t block;
                std::memcpy(&block, p, 8);
                if (block & 0x8080808080808080ull) {
                    break;
                }
                for (int k = 0; k < 8; ++k) {
                    out[k] = static_cast<wchar_t>(p[k]);
                }
                p += 8;
                out += 8;
            }
            if (p == end) {
                break;
            }
            unsigned c = *p;
            if (c < 0x80) {
                *out++ = static_cast<wchar_t>(c);
                ++p;
                continue;
            }
            int extra = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : -1;
            if (extra < 0 || end - p <= extra) {
                *out++ = L'?';
                ++p;
                continue;
            }
            unsigned code = c & (0x3F >> extra);
            bool ok = true;
            for (int k = 1; k <= extra; ++k) {
                ok = ok && (p[k] & 0xC0) == 0x80;
                code = (code << 6) | (p[k] & 0x3F);
            }
            if (!ok) {
                *out++ = L'?';
                ++p;
                continue;
            }
            p += extra + 1;
            if (code >= 0x10000) {
                *out++ = static_cast<wchar_t>(0xD800 | ((code - 0x10000) >> 10));
                *out++ = static_cast<wchar_t>(0xDC00 | (code & 0x3FF));
            } else {
                *out++ = static_cast<wchar_t>(code);
            }
        }
        return static_cast<int>(out - start);
    }
};

std::string ReadFile(const char* path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// About 20 MB of valid XML: nesting, attributes, references, CDATA,
// comments and some non-ASCII text.
std::string Generate20MB() {
    std::mt19937 rng(20);
    std::string out;
    out.reserve(21 << 20);
    out += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<catalog generated=\"yes\">\n";
    static const char* const words[] = {"alpha",
                                        "beta",
                                        "gamma",
                                        "delta",
                                        "caf\xC3\xA9",
                                        "na\xC3\xAFve",
                                        "\xE6\x97\xA5\xE6\x9C\xAC",
                                        "sync",
                                        "drive",
                                        "folder"};
    auto word = [&] { return words[rng() % 10]; };
    std::function<void(int)> element = [&](int depth) {
        out += "<item id=\"";
        out += std::to_string(rng() % 100000);
        out += "\" name=\"";
        out += word();
        out += " &amp; ";
        out += word();
        out += "\" kind='";
        out += depth % 2 ? "file" : "dir";
        out += "'>";
        const int children = depth < 5 ? static_cast<int>(rng() % 4) : 0;
        for (int n = 0; n < children; ++n) {
            out += "\n  ";
            element(depth + 1);
        }
        switch (rng() % 4) {
            case 0:
                out += "<![CDATA[raw <data> & more ]]>";
                break;
            case 1:
                out += "<!-- note -->";
                break;
            default:
                break;
        }
        out += word();
        out += " &lt;";
        out += word();
        out += "&gt; &#233; ";
        out += word();
        out += "</item>";
    };
    while (out.size() < (20u << 20)) {
        out += "\n";
        element(0);
    }
    out += "\n</catalog>\n";
    return out;
}

struct Input {
    std::string utf8;
    CLuStringW utf16;
    int elements = 0;
};

const Input& GetInput(const std::string& name) {
    static Input mime, gen;
    Input& input = name == "mime" ? mime : gen;
    if (input.utf8.empty()) {
        input.utf8 = name == "mime" ? ReadFile("/usr/share/mime/packages/freedesktop.org.xml")
                                    : Generate20MB();
        wchar_t* out = input.utf16.GetBuffer(static_cast<int>(input.utf8.size()));
        input.utf16.ReleaseBuffer(Utf8Doc::Utf8ToUtf16(input.utf8, out));
        Utf8Doc doc;
        doc.ParseUtf8(input.utf8);
        input.elements = doc.Elements();
    }
    return input;
}

size_t HeapInUse() {
    return mallinfo2().uordblks;
}

// Common frame: skips when the input is missing, reports UTF-8 bytes and the
// heap a parsed document holds per element (measured once, outside timing).
template <typename Setup, typename Parse>
void Run(benchmark::State& state, const std::string& inputName, Setup setup, Parse parse) {
    const Input& input = GetInput(inputName);
    if (input.utf8.empty()) {
        state.SkipWithError("input missing");
        return;
    }
    {
        const size_t before = HeapInUse();
        auto held = setup();
        if (!parse(*held, input)) {
            state.SkipWithError("parse failed");
            return;
        }
        const double bytes = static_cast<double>(HeapInUse() - before);
        state.counters["bytes_per_elem"] = bytes / input.elements;
    }
    auto object = setup();
    for (auto _ : state) {
        benchmark::DoNotOptimize(parse(*object, input));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(input.utf8.size()));
    state.counters["elements"] = input.elements;
}

void CXmlDocUtf8(benchmark::State& state, const std::string& name) {
    Run(
        state, name, [] { return std::make_unique<Utf8Doc>(); },
        [](Utf8Doc& doc, const Input& in) {
            doc.ParseUtf8(in.utf8);
            return doc.Elements() == in.elements;
        });
}

void CXmlDocUtf16(benchmark::State& state, const std::string& name) {
    Run(
        state, name, [] { return std::make_unique<CXmlDoc>(); },
        [](CXmlDoc& doc, const Input& in) {
            doc.SetDoc(in.utf16);
            return doc.GetDoc().GetLength() == in.utf16.GetLength();
        });
}

void Pugixml(benchmark::State& state, const std::string& name) {
    Run(
        state, name, [] { return std::make_unique<pugi::xml_document>(); },
        [](pugi::xml_document& doc, const Input& in) {
            return static_cast<bool>(doc.load_buffer(in.utf8.data(), in.utf8.size()));
        });
}

void Tinyxml2(benchmark::State& state, const std::string& name) {
    Run(
        state, name, [] { return std::make_unique<tinyxml2::XMLDocument>(); },
        [](tinyxml2::XMLDocument& doc, const Input& in) {
            return doc.Parse(in.utf8.data(), in.utf8.size()) == tinyxml2::XML_SUCCESS;
        });
}

// libxml2 builds a new tree per parse; the holder keeps the last one alive
// so that its memory can be counted.
struct LibxmlHolder {
    xmlDocPtr doc = nullptr;
    ~LibxmlHolder() { xmlFreeDoc(doc); }
};

void Libxml2(benchmark::State& state, const std::string& name) {
    Run(
        state, name, [] { return std::make_unique<LibxmlHolder>(); },
        [](LibxmlHolder& holder, const Input& in) {
            xmlFreeDoc(holder.doc);
            holder.doc = xmlReadMemory(in.utf8.data(), static_cast<int>(in.utf8.size()),
                                       "input.xml", nullptr, XML_PARSE_NONET);
            return holder.doc != nullptr;
        });
}

#define XML_PARSE_BENCHMARKS(input)                                                         \
    BENCHMARK_CAPTURE(CXmlDocUtf8, input, #input)->Name("Parse_" #input "_CXmlDoc_Utf8");   \
    BENCHMARK_CAPTURE(CXmlDocUtf16, input, #input)->Name("Parse_" #input "_CXmlDoc_Utf16"); \
    BENCHMARK_CAPTURE(Pugixml, input, #input)->Name("Parse_" #input "_pugixml");            \
    BENCHMARK_CAPTURE(Tinyxml2, input, #input)->Name("Parse_" #input "_tinyxml2");          \
    BENCHMARK_CAPTURE(Libxml2, input, #input)->Name("Parse_" #input "_libxml2")

XML_PARSE_BENCHMARKS(mime);
XML_PARSE_BENCHMARKS(gen20);

}  // namespace
