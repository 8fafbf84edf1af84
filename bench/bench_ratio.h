// Pairs benchmark results by workload and prints each peer's rate as a ratio
// to ours. A name is <Workload>_<Side>[/args]; "our" sides are the ones named
// for this library's classes (Ours, CXmlDoc, MemBuffer, RollBuffer, Default,
// IO, UI and anything listed in kOurSides).
#pragma once

#include <cstdio>
#include <map>
#include <string>

namespace bench_ratio {

inline bool IsOurSide(const std::string& side) {
    static const char* const kOurSides[] = {"Ours",          "CXmlDoc",   "CXmlDoc_Utf8",
                                            "CXmlDoc_Utf16", "MemBuffer", "RollBuffer",
                                            "Default",       "IO",        "UI"};
    for (const char* ours : kOurSides) {
        if (side == ours) {
            return true;
        }
    }
    return false;
}

// Splits "Parse_mime_CXmlDoc_Utf8/iterations:3" into workload
// ("Parse_mime/iterations:3") and side ("CXmlDoc_Utf8"): the longest suffix that
// names one of our sides, else the last underscore-separated word.
inline bool Split(const std::string& full, std::string* workload, std::string* side) {
    std::string name = full.substr(0, full.find('/'));
    std::string args = full.substr(name.size());
    size_t last = name.rfind('_');
    if (last == std::string::npos || last == 0) {
        return false;
    }
    size_t cut = last;
    for (size_t c = name.find('_'); c != std::string::npos; c = name.find('_', c + 1)) {
        if (c > 0 && IsOurSide(name.substr(c + 1))) {
            cut = c;
            break;
        }
    }
    *workload = name.substr(0, cut) + args;
    *side = name.substr(cut + 1);
    return true;
}

inline void PrintRatios(const std::map<std::string, double>& results) {
    std::map<std::string, std::map<std::string, double>> byWorkload;
    for (const auto& [name, value] : results) {
        std::string workload, side;
        if (Split(name, &workload, &side)) {
            byWorkload[workload][side] = value;
        }
    }
    std::printf("\nratios (our rate / peer rate; above 1 means we are faster):\n");
    for (const auto& [workload, sides] : byWorkload) {
        for (const auto& [ourSide, ourValue] : sides) {
            if (!IsOurSide(ourSide)) {
                continue;
            }
            for (const auto& [peerSide, peerValue] : sides) {
                if (IsOurSide(peerSide) || peerValue <= 0) {
                    continue;
                }
                std::printf("  %-40s %-14s vs %-12s %8.2fx\n", workload.c_str(), ourSide.c_str(),
                            peerSide.c_str(), ourValue / peerValue);
            }
        }
    }
}

}  // namespace bench_ratio
