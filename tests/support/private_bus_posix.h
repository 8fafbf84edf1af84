// A private session bus and a recording file manager on it, for the tests of
// "open folder and select" on Linux (a service the test starts itself).
#pragma once

#include <signal.h>
#include <sys/types.h>
#include <systemd/sd-bus.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace vidozir_test {

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

}  // namespace vidozir_test
