// Parse throughput of CXmlDoc without Google Benchmark, for the Windows build
// (run under Wine here): the freedesktop.org MIME database and the generated
// 20 MB document of bench/xml.cpp, in MB/s of the UTF-8 input, parsed from
// UTF-16 text and, on Windows, from UTF-8 converted by MultiByteToWideChar
// straight into the document's text. The figure is the median of the runs,
// in CPU time of the measuring thread.
//   xml_timing [MIME-FILE]   (default: the Linux path; on Windows through Wine's Z:)
#include <algorithm>
#include <ctime>
#include <cstdio>
#include <string>
#include <vector>

#include "vidozir/xmldoc.h"
#include "xml_inputs.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

class TimedDoc : public CXmlDoc {
public:
    int Elements() const { return m_iNextFreePos - 1; }
#ifdef _WIN32
    // As reading a file does: the conversion writes into the document's own
    // text, which is then parsed.
    void ParseUtf8(const std::string& utf8) {
        const int nBytes = static_cast<int>(utf8.size());
        wchar_t* pOut = m_strDocText.GetBuffer(nBytes);
        const int nUnits = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), nBytes, pOut, nBytes);
        m_strDocText.ReleaseBuffer(nUnits);
        m_strResultText.Empty();
        x_ParseDoc();
    }
#endif
};

// Seconds of CPU time this thread has used: on a shared machine the wall
// clock also counts the time other programs had the processor (Google
// Benchmark's rates are CPU time too).
double ThreadSeconds() {
#ifdef _WIN32
    FILETIME created, exited, kernel, user;
    GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user);
    auto ticks = [](const FILETIME& t) {
        return static_cast<double>((static_cast<unsigned long long>(t.dwHighDateTime) << 32) |
                                   t.dwLowDateTime);
    };
    return (ticks(kernel) + ticks(user)) * 1e-7;
#else
    timespec now;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
#endif
}

// Median MB/s of the UTF-8 size over repeated samples (at least 5, about 2 s
// of CPU time). A sample repeats the parse until it has taken 50 ms: the
// thread times of Windows (and Wine) advance in steps of several ms.
template <typename Parse>
double MedianRate(size_t nBytes, Parse parse) {
    std::vector<double> rates;
    const double start = ThreadSeconds();
    while (rates.size() < 5 || (ThreadSeconds() - start < 2 && rates.size() < 200)) {
        const double t0 = ThreadSeconds();
        double seconds = 0;
        int nRuns = 0;
        for (; seconds < 0.05; seconds = ThreadSeconds() - t0) {
            parse();
            ++nRuns;
        }
        rates.push_back(static_cast<double>(nBytes) * nRuns / 1e6 / seconds);
    }
    std::sort(rates.begin(), rates.end());
    return rates[rates.size() / 2];
}

void Measure(const char* szName, const std::string& utf8) {
    if (utf8.empty()) {
        std::printf("%-6s input missing\n", szName);
        return;
    }
    TimedDoc doc;
    // The UTF-16 text, made once outside timing.
    CLuStringW strText;
#ifdef _WIN32
    doc.ParseUtf8(utf8);
    strText = doc.GetDoc();
#else
    CLuStringA narrow(utf8.c_str());
    strText.Format(L"%S", narrow.GetString());  // UTF-8 in, UTF-16 out
#endif
    const double utf16 = MedianRate(utf8.size(), [&] { doc.SetDoc(strText); });
    std::printf("%-6s %zu bytes, %d elements, wchar_t %zu bytes: from UTF-16 %.0f MB/s", szName,
                utf8.size(), doc.Elements(), sizeof(wchar_t), utf16);
#ifdef _WIN32
    const double fromUtf8 = MedianRate(utf8.size(), [&] { doc.ParseUtf8(utf8); });
    std::printf(", from UTF-8 %.0f MB/s", fromUtf8);
#endif
    std::printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
#ifdef _WIN32
    const char* szDefault = "Z:\\usr\\share\\mime\\packages\\freedesktop.org.xml";
#else
    const char* szDefault = "/usr/share/mime/packages/freedesktop.org.xml";
#endif
    const char* szMime = argc > 1 ? argv[1] : szDefault;
    Measure("mime", xml_inputs::ReadFile(szMime));
    Measure("gen20", xml_inputs::Generate20MB());
    return 0;
}
