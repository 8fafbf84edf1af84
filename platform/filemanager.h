// "Open folder and select" for non-Windows builds: the freedesktop
// file-manager interface on the session bus.
#pragma once

#include <string>
#include <vector>

namespace vidozir::platform {

// Native paths to file:// URIs (bytes outside the unreserved set and "/"
// percent-encoded, doubled separators made one).
std::string FileUri(const std::string& nativePath);

// Calls org.freedesktop.FileManager1.ShowItems with the URIs on the session
// bus of DBUS_SESSION_BUS_ADDRESS; false when there is no bus, no file
// manager owns the name, or the call fails.
bool ShowItemsInFileManager(const std::vector<std::string>& uris);

}  // namespace vidozir::platform
