// Parse throughput of CXmlDoc without Google Benchmark, for the Windows build
// (run under Wine here): the freedesktop.org MIME database and the generated
// 20 MB document of bench/xml.cpp, in MB/s of the UTF-8 input: parsed from
// UTF-16 text, parsed from UTF-8 in memory (decoding and parsing), loaded from
// a UTF-8 file (Load: reading, decoding and parsing) and converted by UTF8To16
// alone. The figure is the median of the runs, in
// CPU time of the measuring thread.
//   xml_timing [MIME-FILE]   (default: the Linux path; on Windows through Wine's Z:)
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "vidozir/xmldoc.h"
#include "xml_inputs.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace {

class TimedDoc : public CXmlDoc {
public:
    int Elements() const { return m_iNextFreePos - 1; }
    bool ParseUtf8(const std::string& utf8) {
        return x_ParseUtf8(utf8.data(), static_cast<int>(utf8.size()));
    }
};

// A file of the UTF-8 input in the temporary folder, removed afterwards.
class TempFile {
public:
    explicit TempFile(const std::string& bytes) {
#ifdef _WIN32
        wchar_t szFolder[MAX_PATH];
        GetTempPathW(MAX_PATH, szFolder);
        m_strName = szFolder + std::wstring(L"vidozir-xml-timing-") +
                    std::to_wstring(GetCurrentProcessId()) + L".xml";
        FILE* fp = _wfopen(m_strName.c_str(), L"wb");
#else
        const std::string strName = "/tmp/vidozir-xml-timing-" + std::to_string(getpid()) + ".xml";
        m_strName.assign(strName.begin(), strName.end());
        FILE* fp = std::fopen(strName.c_str(), "wb");
#endif
        if (fp) {
            std::fwrite(bytes.data(), 1, bytes.size(), fp);
            std::fclose(fp);
        }
    }
    ~TempFile() {
#ifdef _WIN32
        _wremove(m_strName.c_str());
#else
        std::remove(std::string(m_strName.begin(), m_strName.end()).c_str());
#endif
    }
    const wchar_t* Name() const {
        return m_strName.c_str();
    }

private:
    std::wstring m_strName;
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
    const TempFile file(utf8);
    if (!doc.Load(file.Name())) {
        std::printf("%-6s does not load\n", szName);
        return;
    }
    // The UTF-16 text, made once outside timing.
    const CLuStringW strText = doc.GetDoc();
    const double fromUtf16 = MedianRate(utf8.size(), [&] { doc.SetDoc(strText); });
    const double fromUtf8 = MedianRate(utf8.size(), [&] { doc.ParseUtf8(utf8); });
    const double load = MedianRate(utf8.size(), [&] { doc.Load(file.Name()); });
    const int nBytes = static_cast<int>(utf8.size());
    std::vector<unsigned short> units(utf8.size() + 1);
    const double convert =
        MedianRate(utf8.size(), [&] { CXmlDoc::UTF8To16(units.data(), utf8.data(), nBytes); });
    std::printf(
        "%-6s %zu bytes, %d elements, wchar_t %zu bytes: parse from UTF-16 %.0f MB/s, "
        "from UTF-8 %.0f MB/s, Load from UTF-8 %.0f MB/s, UTF8To16 %.0f MB/s\n",
        szName, utf8.size(), doc.Elements(), sizeof(wchar_t), fromUtf16, fromUtf8, load, convert);
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
