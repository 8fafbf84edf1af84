#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <random>

#include "support/test_support.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#include <climits>
#endif

namespace vidozir_test {

namespace {
std::map<std::string, ChildMain>& Children() {
    static std::map<std::string, ChildMain> children;
    return children;
}
std::string g_selfPath;
}  // namespace

bool RegisterChild(const std::string& name, ChildMain main) {
    Children()[name] = std::move(main);
    return true;
}

bool IsWine() {
#if defined(_WIN32)
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
#else
    return false;
#endif
}

std::string SelfPath() {
    return g_selfPath;
}

std::string UniqueObjectName(const std::string& tag) {
    std::random_device random;
    return "Local\\vidozir-" + tag + "-" + std::to_string(random()) + "-" +
           std::to_string(random());
}

std::string MakeTempDir(const std::string& tag) {
    std::random_device random;
#if defined(_WIN32)
    char base[MAX_PATH];
    GetTempPathA(MAX_PATH, base);
    std::string dir = std::string(base) + "vidozir-" + tag + "-" + std::to_string(random());
    CreateDirectoryA(dir.c_str(), nullptr);
#else
    const char* tmp = std::getenv("TMPDIR");
    std::string dir = std::string(tmp != nullptr && *tmp != 0 ? tmp : "/tmp") + "/vidozir-" + tag +
                      "-" + std::to_string(random());
    std::string command = "mkdir -p '" + dir + "'";
    if (std::system(command.c_str()) != 0) {
        return std::string();
    }
#endif
    return dir;
}

bool UseTempRegistry() {
#if !defined(_WIN32)
    if (std::getenv("VIDOZIR_REGISTRY_USER_DIR") == nullptr) {
        std::string dir = MakeTempDir("registry");
        for (const char* kind : {"USER", "MACHINE", "VOLATILE"}) {
            std::string sub = dir + "/" + kind;
            mkdir(sub.c_str(), 0700);
            setenv((std::string("VIDOZIR_REGISTRY_") + kind + "_DIR").c_str(), sub.c_str(), 1);
        }
    }
#endif
    return true;
}

}  // namespace vidozir_test

int main(int argc, char** argv) {
#if defined(_WIN32)
    char path[MAX_PATH];
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    vidozir_test::g_selfPath = path;
#else
    char path[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", path, sizeof(path) - 1);
    vidozir_test::g_selfPath = n > 0 ? std::string(path, static_cast<size_t>(n)) : argv[0];
#endif
    if (argc >= 2 && std::strncmp(argv[1], "--child=", 8) == 0) {
        auto it = vidozir_test::Children().find(argv[1] + 8);
        if (it == vidozir_test::Children().end()) {
            return 99;
        }
        return it->second(std::vector<std::string>(argv + 2, argv + argc));
    }
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
