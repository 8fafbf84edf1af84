// The version-resource fixture modules that the build links from .rc files.
#pragma once

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "support/test_support.h"
#include "vidozir/diskutil.h"

namespace version_test {

// The fixture folder beside the test program, as a native narrow path.
inline std::string FixtureDir() {
    std::string self = vidozir_test::SelfPath();
    const size_t slash = self.find_last_of("/\\");
    return self.substr(0, slash + 1) + "version_fixtures";
}

inline std::vector<unsigned char> ReadFixture(const std::string& name) {
    std::ifstream file(FixtureDir() + "/" + name, std::ios::binary);
    return std::vector<unsigned char>(std::istreambuf_iterator<char>(file),
                                      std::istreambuf_iterator<char>());
}

// The Windows-form path of a fixture (backslashes on every platform).
inline CLuStringW FixturePath(const std::string& name) {
    const std::string narrow = FixtureDir() + "\\" + name;
#if defined(_WIN32)
    CLuStringW path = VidOzir::DiskUtil::AnsiToUnicode(CLuStringA(narrow.c_str()));
#else
    CLuStringW path = VidOzir::DiskUtil::Utf8ToWS(CLuStringA(narrow.c_str()));
#endif
    path.Replace(L'/', L'\\');
    return path;
}

}  // namespace version_test
