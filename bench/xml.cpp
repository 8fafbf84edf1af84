// XML parse throughput of CXmlDoc against pugixml, tinyxml2 and libxml2, in
// MB/s of the UTF-8 input, on the freedesktop.org MIME database (a real 2.4 MB
// file) and on a generated 20 MB document. CXmlDoc is measured twice: from
// text already in UTF-16, and including the UTF-8 to UTF-16 conversion (the
// fair figure: the peers start from UTF-8). Each side also reports the heap
// it holds per element after a parse (bytes_per_elem).
//
// Loading files: CXmlDoc's Load against pugixml's load_file and libxml2's
// xmlReadFile on the generated document as UTF-8 without a mark, as UTF-16LE
// with a mark, and as windows-1252; and the UTF-8 to UTF-16 conversion alone
// against ICU's u_strFromUTF8, on ASCII-heavy and on mixed text.
//
// Also, against pugixml: building a document of n elements through the
// editing operations (pugixml builds its tree and writes it to a string, since
// CXmlDoc's text is always its written form), at four sizes so that the time
// per element shows whether building stays linear; and walking every element
// of the parsed 20 MB document, reading one attribute of each.
#include <benchmark/benchmark.h>
#include <libxml/parser.h>
#include <malloc.h>
#include <pugixml.hpp>
#include <tinyxml2.h>
#include <unicode/ustring.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "vidozir/xmldoc.h"
#include "xml_inputs.h"

namespace {

using xml_inputs::Generate20MB;
using xml_inputs::ReadFile;

// A document parsed from UTF-8 by the library's own path: decoded into the
// document's text a piece ahead of the scan.
class Utf8Doc : public CXmlDoc {
public:
    bool ParseUtf8(const std::string& utf8) {
        return x_ParseUtf8(utf8.data(), static_cast<int>(utf8.size()));
    }
    int Elements() const { return m_iNextFreePos - 1; }
    size_t HeldBytes() const {
        return static_cast<size_t>(m_strDocText.GetAllocLength()) * sizeof(wchar_t) +
               static_cast<size_t>(m_pElemTable->m_nSize) * sizeof(ElemPos);
    }

    // The library's converter; where wchar_t is wider than a UTF-16 unit
    // the units are widened into the document's text afterwards.
    static int Utf8ToUtf16(const std::string& utf8, wchar_t* out) {
        const int nBytes = static_cast<int>(utf8.size());
        if (sizeof(wchar_t) == sizeof(unsigned short)) {
            const int n = CXmlDoc::UTF8To16(nullptr, utf8.data(), nBytes);
            CXmlDoc::UTF8To16(reinterpret_cast<unsigned short*>(out), utf8.data(), nBytes);
            return n;
        }
        static std::vector<unsigned short> units;
        const int n = CXmlDoc::UTF8To16(nullptr, utf8.data(), nBytes);
        units.resize(static_cast<size_t>(n) + 1);
        CXmlDoc::UTF8To16(units.data(), utf8.data(), nBytes);
        for (int i = 0; i < n; ++i) {
            out[i] = static_cast<wchar_t>(units[static_cast<size_t>(i)]);
        }
        return n;
    }
};

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

// ---- building a document element by element ----

// The shape the sync client writes for a folder listing: a root "manifest"
// holding n / 10 "folder" elements, each with a "path" attribute and nine
// empty "file" children carrying "name" and "size". The n elements are the
// folders and files (the root comes on top). Names and paths are made once,
// outside timing, so that each side pays only for building and text.
constexpr int kFilesPerFolder = 9;

struct BuildInput {
    std::vector<std::wstring> widePaths, wideNames;
    std::vector<std::string> paths, names;
    std::vector<int> sizes;
};

const BuildInput& GetBuildInput(int n) {
    static std::map<int, BuildInput> inputs;
    BuildInput& in = inputs[n];
    if (in.paths.empty()) {
        const int folders = n / (kFilesPerFolder + 1);
        std::mt19937 rng(static_cast<unsigned>(n));
        for (int f = 0; f < folders; ++f) {
            in.paths.push_back("C:\\Users\\me\\CirrelSync\\Projects\\folder" + std::to_string(f));
            for (int k = 0; k < kFilesPerFolder; ++k) {
                in.names.push_back("document_" + std::to_string(f) + "_" + std::to_string(k) +
                                   ".dat");
                in.sizes.push_back(static_cast<int>(rng() % 10000000));
            }
        }
        for (const std::string& s : in.paths) {
            in.widePaths.emplace_back(s.begin(), s.end());
        }
        for (const std::string& s : in.names) {
            in.wideNames.emplace_back(s.begin(), s.end());
        }
    }
    return in;
}

void BuildCXmlDoc(const BuildInput& in, CXmlDoc& doc) {
    doc.AddElem(L"manifest");
    doc.IntoElem();
    size_t file = 0;
    for (const std::wstring& path : in.widePaths) {
        doc.AddElem(L"folder");
        doc.SetAttrib(L"path", path.c_str());
        for (int k = 0; k < kFilesPerFolder; ++k, ++file) {
            doc.AddChildElem(L"file");
            doc.SetChildAttrib(L"name", in.wideNames[file].c_str());
            doc.SetChildAttrib(L"size", in.sizes[file]);
        }
    }
    doc.OutOfElem();
}

struct StringWriter : pugi::xml_writer {
    std::string text;
    void write(const void* data, size_t size) override {
        text.append(static_cast<const char*>(data), size);
    }
};

// pugixml writes each element on a line of its own with no indentation,
// as close as it comes to the layout CXmlDoc writes.
constexpr unsigned kPugiFormat = pugi::format_indent | pugi::format_no_declaration;

std::string BuildPugixml(const BuildInput& in) {
    pugi::xml_document doc;
    pugi::xml_node root = doc.append_child("manifest");
    size_t file = 0;
    for (const std::string& path : in.paths) {
        pugi::xml_node folder = root.append_child("folder");
        folder.append_attribute("path").set_value(path.c_str());
        for (int k = 0; k < kFilesPerFolder; ++k, ++file) {
            pugi::xml_node node = folder.append_child("file");
            node.append_attribute("name").set_value(in.names[file].c_str());
            node.append_attribute("size").set_value(in.sizes[file]);
        }
    }
    StringWriter writer;
    doc.save(writer, "", kPugiFormat);
    return std::move(writer.text);
}

// Both sides must have built the same tree: CXmlDoc's text, read by pugixml
// and written in pugixml's layout, has to equal pugixml's own text.
bool SameTree(const BuildInput& in) {
    CXmlDoc ours;
    BuildCXmlDoc(in, ours);
    const CLuStringW& wide = ours.GetDoc();
    std::string narrow(wide.GetString(), wide.GetString() + wide.GetLength());
    pugi::xml_document reread;
    if (!reread.load_buffer(narrow.data(), narrow.size())) {
        return false;
    }
    StringWriter writer;
    reread.save(writer, "", kPugiFormat);
    return writer.text == BuildPugixml(in);
}

// Time per element (elements per second, inverted; shown as e.g. "650ns").
benchmark::Counter TimePerElem(int64_t elements) {
    return benchmark::Counter(
        static_cast<double>(elements),
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

template <typename Build>
void RunBuild(benchmark::State& state, int n, Build build) {
    const BuildInput& in = GetBuildInput(n);
    if (!SameTree(in)) {
        state.SkipWithError("the two sides built different documents");
        return;
    }
    size_t textLength = 0;
    for (auto _ : state) {
        textLength = build(in);
        benchmark::DoNotOptimize(textLength);
    }
    const int64_t elements = static_cast<int64_t>(in.paths.size() + in.names.size());
    state.SetItemsProcessed(state.iterations() * elements);
    state.counters["time_per_elem"] = TimePerElem(elements);
    state.counters["text_chars"] = static_cast<double>(textLength);
}

void BuildWithCXmlDoc(benchmark::State& state, int n) {
    RunBuild(state, n, [](const BuildInput& in) {
        CXmlDoc doc;
        BuildCXmlDoc(in, doc);
        return static_cast<size_t>(doc.GetDoc().GetLength());
    });
}

void BuildWithPugixml(benchmark::State& state, int n) {
    RunBuild(state, n, [](const BuildInput& in) { return BuildPugixml(in).size(); });
}

#define XML_BUILD_BENCHMARKS(n)                                              \
    BENCHMARK_CAPTURE(BuildWithCXmlDoc, n, n)->Name("Build_" #n "_CXmlDoc"); \
    BENCHMARK_CAPTURE(BuildWithPugixml, n, n)->Name("Build_" #n "_pugixml")

XML_BUILD_BENCHMARKS(10000);
XML_BUILD_BENCHMARKS(25000);
XML_BUILD_BENCHMARKS(50000);
XML_BUILD_BENCHMARKS(100000);

// ---- walking every element of a parsed document ----

// Depth first through every element of the generated 20 MB document, reading
// the "id" attribute of each; parsing is done once, outside timing. Both sides
// must visit the same elements and read the same total attribute length.
struct WalkResult {
    int64_t elements = 0;
    int64_t idLength = 0;
    bool operator==(const WalkResult& o) const {
        return elements == o.elements && idLength == o.idLength;
    }
};

WalkResult WalkCXmlDoc(CXmlDoc& doc) {
    WalkResult result;
    doc.ResetPos();
    int depth = 0;
    bool found = doc.FindElem();
    while (found || depth > 0) {
        if (found) {
            ++result.elements;
            result.idLength += doc.GetAttrib(L"id").GetLength();
            doc.IntoElem();
            ++depth;
        } else {
            doc.OutOfElem();
            --depth;
        }
        found = doc.FindElem();
    }
    return result;
}

WalkResult WalkPugixml(const pugi::xml_document& doc) {
    WalkResult result;
    pugi::xml_node node = doc.first_child();
    while (node) {
        if (node.type() == pugi::node_element) {
            ++result.elements;
            result.idLength += static_cast<int64_t>(std::strlen(node.attribute("id").value()));
            if (pugi::xml_node child = node.first_child()) {
                node = child;
                continue;
            }
        }
        while (node && !node.next_sibling()) {
            node = node.parent();
        }
        if (node) {
            node = node.next_sibling();
        }
    }
    return result;
}

// The expected result, from a plain pugixml walk of the input.
const WalkResult& ExpectedWalk() {
    static WalkResult expected;
    if (expected.elements == 0) {
        const Input& input = GetInput("gen20");
        pugi::xml_document doc;
        doc.load_buffer(input.utf8.data(), input.utf8.size());
        expected = WalkPugixml(doc);
    }
    return expected;
}

template <typename Doc, typename Walk>
void RunWalk(benchmark::State& state, Doc& doc, Walk walk) {
    const WalkResult& expected = ExpectedWalk();
    if (expected.elements != GetInput("gen20").elements) {
        state.SkipWithError("the element counts of the two parsers differ");
        return;
    }
    if (!(walk(doc) == expected)) {
        state.SkipWithError("the walk missed elements or attributes");
        return;
    }
    for (auto _ : state) {
        WalkResult result = walk(doc);
        benchmark::DoNotOptimize(result);
    }
    state.SetItemsProcessed(state.iterations() * expected.elements);
    state.counters["time_per_elem"] = TimePerElem(expected.elements);
    state.counters["elements"] = static_cast<double>(expected.elements);
}

void WalkWithCXmlDoc(benchmark::State& state) {
    const Input& input = GetInput("gen20");
    CXmlDoc doc;
    doc.SetDoc(input.utf16);
    RunWalk(state, doc, WalkCXmlDoc);
}

void WalkWithPugixml(benchmark::State& state) {
    const Input& input = GetInput("gen20");
    pugi::xml_document doc;
    doc.load_buffer(input.utf8.data(), input.utf8.size());
    RunWalk(state, doc, WalkPugixml);
}

BENCHMARK(WalkWithCXmlDoc)->Name("Walk_CXmlDoc");
BENCHMARK(WalkWithPugixml)->Name("Walk_pugixml");

}  // namespace

// ---- loading files ----

namespace {

// The generated document written once per run as a file in three forms,
// removed when the program ends.
struct LoadInput {
    std::string path;
    int64_t bytes = 0;
    ~LoadInput() {
        if (!path.empty()) {
            std::remove(path.c_str());
        }
    }
};

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

const LoadInput& GetLoadInput(const std::string& form) {
    static std::map<std::string, LoadInput> inputs;
    LoadInput& input = inputs[form];
    if (input.path.empty()) {
        const Input& gen = GetInput("gen20");
        std::string bytes;
        if (form == "utf8") {
            bytes = gen.utf8;
        } else if (form == "utf16le") {
            bytes = "\xFF\xFE";
            for (int i = 0; i < gen.utf16.GetLength(); ++i) {
                bytes += static_cast<char>(gen.utf16[i] & 0xFF);
                bytes += static_cast<char>((gen.utf16[i] >> 8) & 0xFF);
            }
        } else {
            // The same text in windows-1252 ("?" for what it lacks), declared so.
            // Its upper half agrees with Latin-1 from 0xA0, which is all of
            // 1252 the generated text uses beyond ASCII.
            for (int i = 0; i < gen.utf16.GetLength(); ++i) {
                const unsigned c = static_cast<unsigned>(gen.utf16[i]);
                bytes += c < 0x80 || (c >= 0xA0 && c <= 0xFF) ? static_cast<char>(c) : '?';
            }
            const std::string from = "encoding=\"UTF-8\"", to = "encoding=\"windows-1252\"";
            bytes.replace(bytes.find(from), from.size(), to);
        }
        input.path = "/tmp/vidozir-bench-load-" + std::to_string(getpid()) + "-" + form + ".xml";
        WriteFile(input.path, bytes);
        input.bytes = static_cast<int64_t>(bytes.size());
    }
    return input;
}

void LoadCXmlDoc(benchmark::State& state, const std::string& form) {
    const LoadInput& input = GetLoadInput(form);
    std::wstring name(input.path.begin(), input.path.end());
    CXmlDoc doc;
    if (!doc.Load(name.c_str())) {
        state.SkipWithError("load failed");
        return;
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(doc.Load(name.c_str()));
    }
    state.SetBytesProcessed(state.iterations() * input.bytes);
}

void LoadPugixml(benchmark::State& state, const std::string& form) {
    const LoadInput& input = GetLoadInput(form);
    pugi::xml_document doc;
    for (auto _ : state) {
        benchmark::DoNotOptimize(static_cast<bool>(doc.load_file(input.path.c_str())));
    }
    state.SetBytesProcessed(state.iterations() * input.bytes);
}

void LoadLibxml2(benchmark::State& state, const std::string& form) {
    const LoadInput& input = GetLoadInput(form);
    LibxmlHolder holder;
    for (auto _ : state) {
        xmlFreeDoc(holder.doc);
        holder.doc = xmlReadFile(input.path.c_str(), nullptr, XML_PARSE_NONET | XML_PARSE_HUGE);
        benchmark::DoNotOptimize(holder.doc);
    }
    if (!holder.doc) {
        state.SkipWithError("libxml2 could not read the file");
    }
    state.SetBytesProcessed(state.iterations() * input.bytes);
}

#define XML_LOAD_BENCHMARKS(form)                                                \
    BENCHMARK_CAPTURE(LoadCXmlDoc, form, #form)->Name("Load_" #form "_CXmlDoc"); \
    BENCHMARK_CAPTURE(LoadPugixml, form, #form)->Name("Load_" #form "_pugixml"); \
    BENCHMARK_CAPTURE(LoadLibxml2, form, #form)->Name("Load_" #form "_libxml2")

XML_LOAD_BENCHMARKS(utf8);
XML_LOAD_BENCHMARKS(utf16le);
XML_LOAD_BENCHMARKS(cp1252);

// ---- UTF-8 to UTF-16 ----

// "ascii": the generated document (markup, mostly ASCII words); "mixed":
// prose in Cyrillic, Greek, Japanese and accented Latin with ASCII between.
const std::string& Utf8Text(const std::string& kind) {
    static std::string ascii, mixed;
    if (kind == "ascii") {
        if (ascii.empty()) {
            ascii = GetInput("gen20").utf8;
        }
        return ascii;
    }
    if (mixed.empty()) {
        static const char* const words[] = {"\xD0\xBF\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82",
                                            "\xCE\xB1\xCE\xB2\xCE\xB3",
                                            "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E",
                                            "caf\xC3\xA9",
                                            "sync",
                                            "na\xC3\xAFve",
                                            "\xF0\x9F\x98\x80",
                                            "folder"};
        std::mt19937 rng(8);
        while (mixed.size() < (8u << 20)) {
            mixed += words[rng() % 8];
            mixed += ' ';
        }
    }
    return mixed;
}

void Utf8To16Ours(benchmark::State& state, const std::string& kind) {
    const std::string& text = Utf8Text(kind);
    const int nBytes = static_cast<int>(text.size());
    std::vector<unsigned short> units(static_cast<size_t>(nBytes) + 1);
    for (auto _ : state) {
        benchmark::DoNotOptimize(CXmlDoc::UTF8To16(units.data(), text.data(), nBytes));
    }
    state.SetBytesProcessed(state.iterations() * nBytes);
}

void Utf8To16Icu(benchmark::State& state, const std::string& kind) {
    const std::string& text = Utf8Text(kind);
    std::vector<UChar> units(text.size() + 1);
    for (auto _ : state) {
        UErrorCode error = U_ZERO_ERROR;
        int32_t n = 0;
        u_strFromUTF8WithSub(units.data(), static_cast<int32_t>(units.size()), &n, text.data(),
                             static_cast<int32_t>(text.size()), 0xFFFD, nullptr, &error);
        benchmark::DoNotOptimize(n);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
}

// The memory traffic of a conversion alone: the text read once, twice its
// size written (a bound that moves with the machine's load).
void Utf8To16Memcpy(benchmark::State& state, const std::string& kind) {
    const std::string& text = Utf8Text(kind);
    std::vector<char> out(2 * text.size());
    for (auto _ : state) {
        std::memcpy(out.data(), text.data(), text.size());
        std::memcpy(out.data() + text.size(), text.data(), text.size());
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
}

#define UTF8_BENCHMARKS(kind)                                                         \
    BENCHMARK_CAPTURE(Utf8To16Ours, kind, #kind)->Name("Utf8To16_" #kind "_CXmlDoc"); \
    BENCHMARK_CAPTURE(Utf8To16Icu, kind, #kind)->Name("Utf8To16_" #kind "_icu");      \
    BENCHMARK_CAPTURE(Utf8To16Memcpy, kind, #kind)->Name("Utf8To16_" #kind "_memcpy")

UTF8_BENCHMARKS(ascii);
UTF8_BENCHMARKS(mixed);

}  // namespace
