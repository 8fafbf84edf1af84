#include <cstdio>
#include <string>
#include <vector>

#include "tour.h"
#include "vidozir/diskutil.h"
#include "vidozir/version.h"

namespace tour {

// Pass a module path (a .dll or .exe) to the tour to read its file version.
void ClientVersions(const std::vector<std::string>& args) {
    using namespace VidOzir;
    Heading("Client versions");
    for (const wchar_t* text : {L"3.1.4.1", L" 3.2.0.0beta", L"3.1.4", L"3..1.4"}) {
        auto version = Version::Parse(CLuStringW(text));
        std::printf("Parse(\"");
        CLuStringA narrow = DiskUtil::Utf8FromWS(CLuStringW(text));
        std::printf("%s\") -> %s\n", narrow.GetString(), version ? "a version" : "not a version");
    }
    const auto older = Version::Parse(CLuStringW(L"1.0.10.0"));
    const auto newer = Version::Parse(CLuStringW(L"1.1.0.0"));
    std::printf("1.0.10.0 < 1.1.0.0: %s (their packed numbers are equal)\n",
                *older < *newer ? "true" : "false");

    Version::InitVersion(CLuStringW(L"3"), 1, 1, 2, 345, 6, 0);
    std::printf("GetLocalVersion after InitVersion(.., 1, 2, build 345, revision 6): %lu\n",
                static_cast<unsigned long>(DiskUtil::GetLocalVersion()));
    std::printf("version file: ");
    Print(DiskUtil::GetVersionFilePath());

    for (const std::string& arg : args) {
        if (arg.size() < 4)
            continue;
        const std::string tail = arg.substr(arg.size() - 4);
        if (tail != ".dll" && tail != ".exe")
            continue;
        DWORD a = 0, b = 0, c = 0, d = 0;
        const CLuStringW path = DiskUtil::Utf8ToWS(CLuStringA(arg.c_str()));
        if (DiskUtil::GetCirrelResVersion(path.GetString(), a, b, c, d))
            std::printf("%s: outputs %lu, %lu, %lu, %lu (pieces 1, 2, 4, 3)\n", arg.c_str(),
                        static_cast<unsigned long>(a), static_cast<unsigned long>(b),
                        static_cast<unsigned long>(c), static_cast<unsigned long>(d));
        else
            std::printf("%s: no four-part file version\n", arg.c_str());
    }
}

}  // namespace tour
