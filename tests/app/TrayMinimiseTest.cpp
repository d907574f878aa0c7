// Minimising where a tray exists: the window leaves the taskbar and lives in
// the tray. Needs an X server with a tray: run under xvfb-run with
// QT_QPA_PLATFORM=xcb; the test itself takes the tray's selection, as a
// panel would, so that the program finds a notification area.
#include "app/CommandLine.h"
#include "app/MainWindow.h"
#include "app/components/InstanceBlock.h"
#include "app/components/TrayIcon.h"

#include <QApplication>
#include <QGuiApplication>
#include <QSystemTrayIcon>
#include <QTest>
#include <gtest/gtest.h>

#include <cstring>
#include <dlfcn.h>
#include <filesystem>
#include <unistd.h>

using namespace tarnel;

namespace {

// The smallest tray: a window that owns _NET_SYSTEM_TRAY_S0.
struct TrayOwner {
    using Display = void;
    void* xlib = dlopen("libX11.so.6", RTLD_NOW);

    template <typename F>
    F Get(const char* name)
    {
        void* symbol = xlib ? dlsym(xlib, name) : nullptr;
        F function = nullptr;
        std::memcpy(&function, &symbol, sizeof function);
        return function;
    }

    Display* (*open)(const char*) = Get<Display* (*)(const char*)>("XOpenDisplay");
    int (*close)(Display*) = Get<int (*)(Display*)>("XCloseDisplay");
    unsigned long (*root)(Display*) = Get<unsigned long (*)(Display*)>("XDefaultRootWindow");
    unsigned long (*intern)(Display*, const char*, int) = Get<unsigned long (*)(Display*, const char*, int)>("XInternAtom");
    unsigned long (*create)(Display*, unsigned long, int, int, unsigned, unsigned, unsigned, unsigned long,
                            unsigned long) =
        Get<unsigned long (*)(Display*, unsigned long, int, int, unsigned, unsigned, unsigned, unsigned long,
                              unsigned long)>("XCreateSimpleWindow");
    int (*own)(Display*, unsigned long, unsigned long, unsigned long) =
        Get<int (*)(Display*, unsigned long, unsigned long, unsigned long)>("XSetSelectionOwner");
    int (*sync)(Display*, int) = Get<int (*)(Display*, int)>("XSync");
    Display* display = (open && close && root && intern && create && own && sync) ? open(nullptr) : nullptr;

    bool Take()
    {
        if (!display)
            return false;
        const unsigned long window = create(display, root(display), 0, 0, 1, 1, 0, 0, 0);
        own(display, intern(display, "_NET_SYSTEM_TRAY_S0", 0), window, 0 /* CurrentTime */);
        sync(display, 0);
        return true;
    }
    ~TrayOwner()
    {
        if (display)
            close(display);
    }
};

} // namespace

TEST(TrayMinimise, MinimisingWithATrayHidesTheWindowAndTheTrayBringsItBack)
{
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        GTEST_SKIP() << "needs an X11 session (xvfb-run, QT_QPA_PLATFORM=xcb)";
    TrayOwner tray;
    ASSERT_TRUE(tray.Take());
    ASSERT_TRUE(QTest::qWaitFor([] { return QSystemTrayIcon::isSystemTrayAvailable(); }, 5000));

    char tmpl[] = "/tmp/tarnel-tray-XXXXXX";
    const std::string root = mkdtemp(tmpl);
    qputenv("TARNEL_INSTANCE_TAG", QByteArray("-traytest-") + QByteArray::number(getpid()));
    {
        InstanceBlock block;
        std::string error;
        ASSERT_TRUE(block.Open(&error)) << error;
        StartOptions options;
        options.independent = true;
        options.leftDir = root;
        options.rightDir = root;
        MainWindow window(options, &block);
        window.resize(900, 500);
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
        ASSERT_TRUE(window.Tray() && window.Tray()->Active());

        window.showMinimized();
        EXPECT_TRUE(QTest::qWaitFor([&] { return !window.isVisible(); }, 5000)) << "still on the taskbar";
        emit window.Tray()->clicked();
        EXPECT_TRUE(QTest::qWaitFor([&] { return window.isVisible() && !window.isMinimized(); }, 5000));
    }
    std::filesystem::remove_all(root);
}
