// Helpers shared by the test programs of every subsystem.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace vidozir_test {

// True when the Windows build runs under Wine (ntdll exports wine_get_version).
bool IsWine();

// Skips the current test under Wine, naming the difference from Windows.
#define VIDOZIR_SKIP_UNDER_WINE(why)         \
    do {                                     \
        if (::vidozir_test::IsWine())        \
            GTEST_SKIP() << "Wine: " << why; \
    } while (0)

// Child modes: a test starts a second copy of its own program with
// `--child=<name> args...`; main() runs the registered function instead of the
// tests and exits with its result.
using ChildMain = std::function<int(const std::vector<std::string>& args)>;
bool RegisterChild(const std::string& name, ChildMain main);
#define VIDOZIR_TEST_CHILD(name)                                        \
    static int name##_child_main(const std::vector<std::string>& args); \
    static const bool name##_child_registered =                         \
        ::vidozir_test::RegisterChild(#name, name##_child_main);        \
    static int name##_child_main([[maybe_unused]] const std::vector<std::string>& args)

// The path of the running test program.
std::string SelfPath();

// A name for a named kernel object (a section, a mutex) that no other test,
// nor another run at the same time, uses: "Local\vidozir-<tag>-<random>".
std::string UniqueObjectName(const std::string& tag);

// A native ASCII path (the build and temporary folders) in the Windows form
// the library answers in: every "/" becomes "\".
inline std::wstring WindowsForm(const std::string& native) {
    std::wstring path;
    for (char c : native)
        path += c == '/' ? L'\\' : wchar_t(static_cast<unsigned char>(c));
    return path;
}

// A fresh empty folder for the test (removed at exit of the process is not
// guaranteed; it lives under the system's temporary folder).
std::string MakeTempDir(const std::string& tag);

// Points the Linux registry store at fresh folders of this test program (unless
// a parent already did, so children share its stores); no-op on Windows.
bool UseTempRegistry();

}  // namespace vidozir_test
