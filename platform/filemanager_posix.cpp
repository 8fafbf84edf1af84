#include "platform/filemanager.h"

#include <systemd/sd-bus.h>

#include <cstdio>

namespace vidozir::platform {

std::string FileUri(const std::string& nativePath) {
    std::string uri = "file://";
    for (unsigned char c : nativePath) {
        // A doubled separator (a folder with its separator joined to a name
        // with one) would make a URI the file manager's own items never match.
        if (c == '/' && uri.back() == '/' && uri.size() > 7) {
            continue;
        }
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
            c == '-' || c == '.' || c == '_' || c == '~' || c == '/') {
            uri += static_cast<char>(c);
        } else {
            char escaped[4];
            std::snprintf(escaped, sizeof(escaped), "%%%02X", c);
            uri += escaped;
        }
    }
    return uri;
}

bool ShowItemsInFileManager(const std::vector<std::string>& uris) {
    sd_bus* bus = nullptr;
    if (sd_bus_open_user(&bus) < 0) {
        return false;
    }
    sd_bus_message* call = nullptr;
    sd_bus_message* reply = nullptr;
    sd_bus_error error = SD_BUS_ERROR_NULL;
    bool shown = sd_bus_message_new_method_call(bus, &call, "org.freedesktop.FileManager1",
                                                "/org/freedesktop/FileManager1",
                                                "org.freedesktop.FileManager1", "ShowItems") >= 0 &&
                 sd_bus_message_open_container(call, 'a', "s") >= 0;
    for (size_t i = 0; shown && i < uris.size(); ++i) {
        shown = sd_bus_message_append_basic(call, 's', uris[i].c_str()) >= 0;
    }
    // No start-up notification id: the window is raised by the file manager.
    shown = shown && sd_bus_message_close_container(call) >= 0 &&
            sd_bus_message_append(call, "s", "") >= 0 &&
            sd_bus_call(bus, call, 10 * 1000000ull, &error, &reply) >= 0;
    sd_bus_error_free(&error);
    sd_bus_message_unref(reply);
    sd_bus_message_unref(call);
    sd_bus_flush_close_unref(bus);
    return shown;
}

}  // namespace vidozir::platform
