// The inputs of the XML parse measurements, shared by bench/xml.cpp and the
// plain timing program of the Windows build: a file read whole, and a
// generated document of about 20 MB.
#pragma once

#include <fstream>
#include <functional>
#include <random>
#include <sstream>
#include <string>

namespace xml_inputs {

inline std::string ReadFile(const char* path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// About 20 MB of valid XML: nesting, attributes, references, CDATA,
// comments and some non-ASCII text.
inline std::string Generate20MB() {
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

}  // namespace xml_inputs
