// The freedesktop file-manager stand-in: file URIs, and ShowItems over a
// private session bus to a recording file manager.
#include "platform/filemanager.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "support/private_bus_posix.h"

namespace {

using namespace vidozir::platform;

TEST(FileManager, UrisAndShowItemsOnTheSessionBus) {
    EXPECT_EQ(FileUri("/tmp//my file%.txt"), "file:///tmp/my%20file%25.txt");
    EXPECT_EQ(FileUri("/a-b_c.~Z9/\xC3\xA9+"), "file:///a-b_c.~Z9/%C3%A9%2B");
    vidozir_test::PrivateBus bus;
    ASSERT_FALSE(bus.Address().empty()) << "dbus-daemon did not start";
    EXPECT_FALSE(ShowItemsInFileManager({"file:///x"}));  // nobody owns the file manager's name
    {
        vidozir_test::FileManager manager(bus.Address());
        ASSERT_TRUE(manager.Ready());
        EXPECT_TRUE(ShowItemsInFileManager({"file:///x", "file:///y%20z"}));
        EXPECT_EQ(
            manager.Calls(),
            (std::vector<std::vector<std::string>>{{"file:///x", "file:///y%20z", "startup="}}));
    }
    setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/bus", 1);  // no bus at all
    EXPECT_FALSE(ShowItemsInFileManager({"file:///x"}));
}

}  // namespace
