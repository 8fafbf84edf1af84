// "Open folder and select" on Linux: the call reaches a small file manager of
// the test's own on a private session bus (its own dbus-daemon), which
// records the URIs; without a file manager the folder goes to a recording
// `xdg-open`.
#include <gtest/gtest.h>
#include <signal.h>
#include <systemd/sd-bus.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <atomic>
#include <fstream>
#include <future>
#include <list>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/recording_opener.h"
#include "support/test_support.h"
#include "vidozir/diskutil.h"

using namespace VidOzir::DiskUtil;

namespace {

// A dbus-daemon of the test's own, made the session bus of the process.
class PrivateBus {
public:
    PrivateBus() {
        FILE* out = popen("dbus-daemon --session --fork --print-address=1 --print-pid=1", "r");
        char line[512] = {};
        if (out != nullptr && std::fgets(line, sizeof(line), out) != nullptr) {
            address_ = std::string(line, std::strcspn(line, "\n"));
            if (std::fgets(line, sizeof(line), out) != nullptr)
                pid_ = std::atoi(line);
        }
        if (out != nullptr)
            pclose(out);
        const char* saved = std::getenv("DBUS_SESSION_BUS_ADDRESS");
        saved_ = saved != nullptr ? saved : "";
        setenv("DBUS_SESSION_BUS_ADDRESS", address_.c_str(), 1);
    }
    ~PrivateBus() {
        if (pid_ > 0)
            kill(pid_, SIGTERM);
        setenv("DBUS_SESSION_BUS_ADDRESS", saved_.c_str(), 1);
    }
    const std::string& Address() const { return address_; }

private:
    std::string address_;
    std::string saved_;
    pid_t pid_ = 0;
};

// Serves org.freedesktop.FileManager1.ShowItems on its own thread and
// connection, recording each call's URIs and start-up id.
class FileManager {
public:
    explicit FileManager(const std::string& address) {
        std::promise<bool> ready;
        auto started = ready.get_future();
        thread_ = std::thread([this, address, &ready] { Serve(address, &ready); });
        ready_ = started.get();
    }
    ~FileManager() {
        stop_ = true;
        thread_.join();
    }
    bool Ready() const { return ready_; }
    std::vector<std::vector<std::string>> Calls() {
        std::lock_guard<std::mutex> hold(lock_);
        return calls_;
    }

private:
    static int OnShowItems(sd_bus_message* message, void* self, sd_bus_error*) {
        char** uris = nullptr;
        const char* startup = nullptr;
        if (sd_bus_message_read_strv(message, &uris) < 0 ||
            sd_bus_message_read(message, "s", &startup) < 0)
            return -EINVAL;
        std::vector<std::string> call;
        for (char** uri = uris; uri != nullptr && *uri != nullptr; ++uri) {
            call.push_back(*uri);
            free(*uri);
        }
        free(uris);
        call.push_back(std::string("startup=") + startup);
        auto* manager = static_cast<FileManager*>(self);
        std::lock_guard<std::mutex> hold(manager->lock_);
        manager->calls_.push_back(call);
        return sd_bus_reply_method_return(message, "");
    }

    void Serve(const std::string& address, std::promise<bool>* ready) {
        static const sd_bus_vtable kTable[] = {
            SD_BUS_VTABLE_START(0),
            SD_BUS_METHOD("ShowItems", "ass", "", OnShowItems, SD_BUS_VTABLE_UNPRIVILEGED),
            SD_BUS_VTABLE_END};
        sd_bus* bus = nullptr;
        bool ok = sd_bus_new(&bus) >= 0 && sd_bus_set_address(bus, address.c_str()) >= 0 &&
                  sd_bus_set_bus_client(bus, 1) >= 0 && sd_bus_start(bus) >= 0 &&
                  sd_bus_add_object_vtable(bus, nullptr, "/org/freedesktop/FileManager1",
                                           "org.freedesktop.FileManager1", kTable, this) >= 0 &&
                  sd_bus_request_name(bus, "org.freedesktop.FileManager1", 0) >= 0;
        ready->set_value(ok);
        while (ok && !stop_) {
            if (sd_bus_process(bus, nullptr) == 0)
                sd_bus_wait(bus, 50000);
        }
        sd_bus_flush_close_unref(bus);
    }

    std::thread thread_;
    std::atomic<bool> stop_{false};
    bool ready_ = false;
    std::mutex lock_;
    std::vector<std::vector<std::string>> calls_;
};

CLuStringW Wide(const std::string& text) {
    return CLuStringW(std::wstring(text.begin(), text.end()).c_str());
}

TEST(OpenFolderAndSelect, FileManagerGetsTheItemsThatExist) {
    PrivateBus bus;
    ASSERT_FALSE(bus.Address().empty()) << "dbus-daemon did not start";
    FileManager manager(bus.Address());
    ASSERT_TRUE(manager.Ready());
    vidozir_test::RecordingOpener opener;
    const std::string dir = vidozir_test::MakeTempDir("select");
    std::ofstream(dir + "/a.txt") << "a";
    std::ofstream(dir + "/my file%.txt") << "b";

    std::list<std::wstring> files = {L"a.txt", L"C:\\elsewhere\\my file%.txt", L"gone.txt"};
    OpenFolderAndSelectFiles(Wide(dir + "\\"), files);
    OpenFolderAndSelectFile(Wide(dir + "\\a.txt"));
    const auto calls = manager.Calls();
    ASSERT_EQ(calls.size(), 2u);
    // The second entry keeps its backslash: the folder is joined to
    // "\my file%.txt", and the doubled separator is made one.
    EXPECT_EQ(calls[0],
              (std::vector<std::string>{"file://" + dir + "/a.txt",
                                        "file://" + dir + "/my%20file%25.txt", "startup="}));
    EXPECT_EQ(calls[1], (std::vector<std::string>{"file://" + dir + "/a.txt", "startup="}));
    EXPECT_TRUE(opener.Calls(1, 300).empty());
}

TEST(OpenFolderAndSelect, WithoutAFileManagerTheFolderIsOpened) {
    vidozir_test::RecordingOpener opener;
    const std::string dir = vidozir_test::MakeTempDir("select");
    std::ofstream(dir + "/a.txt") << "a";
    {
        PrivateBus bus;  // nobody owns the file manager's name
        ASSERT_FALSE(bus.Address().empty());
        OpenFolderAndSelectFile(Wide(dir + "/a.txt"));
    }
    {
        PrivateBus bus;
        setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/bus", 1);  // no bus at all
        OpenFolderAndSelectFile(Wide(dir + "/a.txt"));
    }
    EXPECT_EQ(opener.Calls(2, 10000), (std::vector<std::string>{dir + "/", dir + "/"}));
}

}  // namespace
