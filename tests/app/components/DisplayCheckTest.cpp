#include "app/components/DisplayCheck.h"
#include "app/components/TestEnvironment.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstring>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

using namespace tarnel;

namespace {

// Starts every test from "no display of any kind".
class DisplayCheckTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY", "WAYLAND_SOCKET"})
            env_.Unset(name);
        ASSERT_TRUE(runtime_.isValid());
        env_.Set("XDG_RUNTIME_DIR", runtime_.path().toStdString());
    }

    EnvGuard env_;
    QTemporaryDir runtime_;
};

} // namespace

TEST_F(DisplayCheckTest, HeadlessPlatformsNeedNoServer)
{
    for (const char* platform : {"offscreen", "minimal", "vnc:size=800x600", "xcb;offscreen"}) {
        env_.Set("QT_QPA_PLATFORM", platform);
        std::string why;
        EXPECT_TRUE(DisplayReachable(&why)) << platform << ": " << why;
    }
}

TEST_F(DisplayCheckTest, NothingToConnectTo)
{
    std::string why;
    EXPECT_FALSE(DisplayReachable(&why));
    EXPECT_NE("", why);
    EXPECT_EQ("tarnel: no display can be reached (" + why +
                  "); use tarnel --list DIR or tarnel --screenshot FILE.png",
              NoDisplayMessage(why));

    // Named, but nobody there.
    env_.Set("DISPLAY", ":97");
    env_.Set("WAYLAND_DISPLAY", "wayland-test");
    EXPECT_FALSE(DisplayReachable(&why));
    EXPECT_NE(std::string::npos, why.find("wayland-test")) << why;
    EXPECT_NE(std::string::npos, why.find(":97")) << why;

    env_.Set("QT_QPA_PLATFORM", "xcb");
    EXPECT_FALSE(DisplayReachable(&why));
    EXPECT_EQ(std::string::npos, why.find("wayland")) << "xcb alone was asked for: " << why;
}

TEST_F(DisplayCheckTest, WaylandCompositorAnsweringOnItsSocket)
{
    env_.Set("WAYLAND_DISPLAY", "wayland-test");
    const std::string path = runtime_.path().toStdString() + "/wayland-test";
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
    ASSERT_EQ(0, bind(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr));
    ASSERT_EQ(0, listen(fd, 4));

    std::string why;
    EXPECT_TRUE(DisplayReachable(&why)) << why;
    env_.Set("WAYLAND_DISPLAY", path); // absolute form
    EXPECT_TRUE(DisplayReachable(&why)) << why;
    close(fd);
}
