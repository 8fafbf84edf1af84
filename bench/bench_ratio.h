// Pairs benchmark results by workload and prints each peer's rate as a ratio
// to ours. A name is <Workload>_<Side>[/args]; "our" sides are the ones named
// for this library's classes (Ours, CXmlDoc, MemBuffer, RollBuffer, Default,
// IO, UI and anything listed in kOurSides). Workloads measured at several
// sizes, <Workload>_<n>_<Side>, also get the growth of their time per item.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <map>
#include <string>
#include <vector>

namespace bench_ratio {

// Flags a program wants unless its command line says otherwise (a flag given
// later on the command line wins); set during static initialisation.
inline std::vector<std::string>& DefaultFlags() {
    static std::vector<std::string> flags;
    return flags;
}
inline void SetDefaultFlags(std::initializer_list<const char*> flags) {
    DefaultFlags().assign(flags.begin(), flags.end());
}

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

// Splits a workload "Build_10000" into "Build" and 10000; false when the
// workload does not end in a size.
inline bool SplitSize(const std::string& workload, std::string* base, long* size) {
    if (workload.find('/') != std::string::npos) {
        return false;
    }
    size_t cut = workload.rfind('_');
    if (cut == std::string::npos || cut == 0 || cut + 1 == workload.size()) {
        return false;
    }
    std::string digits = workload.substr(cut + 1);
    if (digits.find_first_not_of("0123456789") != std::string::npos) {
        return false;
    }
    *base = workload.substr(0, cut);
    *size = std::strtol(digits.c_str(), nullptr, 10);
    return *size > 0;
}

// From items per second of each run: the time per item at every size of a
// sized workload, and how much it grew from the smallest size to the largest
// (1.00x is linear).
inline void PrintGrowth(const std::map<std::string, double>& itemRates) {
    std::map<std::string, std::map<std::string, std::map<long, double>>> sized;
    for (const auto& [name, rate] : itemRates) {
        std::string workload, side, base;
        long size = 0;
        if (rate > 0 && Split(name, &workload, &side) && SplitSize(workload, &base, &size)) {
            sized[base][side][size] = 1e9 / rate;
        }
    }
    bool heading = false;
    for (const auto& [base, sides] : sized) {
        for (const auto& [side, bySize] : sides) {
            if (bySize.size() < 2) {
                continue;
            }
            if (!heading) {
                std::printf(
                    "\ngrowth (ns per item at each size; largest / smallest, 1.00x is linear):\n");
                heading = true;
            }
            std::printf("  %-12s %-10s", base.c_str(), side.c_str());
            for (const auto& [size, ns] : bySize) {
                std::printf(" %ld: %.1f", size, ns);
            }
            std::printf("   %ld vs %ld: %.2fx\n", bySize.rbegin()->first, bySize.begin()->first,
                        bySize.rbegin()->second / bySize.begin()->second);
        }
    }
}

}  // namespace bench_ratio
