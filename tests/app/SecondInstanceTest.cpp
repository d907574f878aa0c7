// A second start of the real program brings this (first) instance forward and
// ends at once, without a window.
#include "app/MainWindow.h"
#include "app/PrivateMessages.h"
#include "app/components/InstanceBlock.h"
#include "app/components/InstanceChannel.h"
#include "widgets/PaneView.h"

#include <QApplication>
#include <QProcess>
#include <QTest>
#include <gtest/gtest.h>

#include <filesystem>
#include <unistd.h>

using namespace tarnel;

TEST(SecondInstance, BringsTheFirstForwardAndEnds)
{
    char runtime[] = "/tmp/tarnel-second-XXXXXX";
    ASSERT_NE(mkdtemp(runtime), nullptr);
    const QByteArray tag = "-second-" + QByteArray::number(getpid());
    // Put back at the end: the tests that follow in this process must not
    // find their private folders in one that is gone.
    struct Restore {
        QByteArray tag = qgetenv("TARNEL_INSTANCE_TAG"), runtime = qgetenv("XDG_RUNTIME_DIR");
        bool hadTag = qEnvironmentVariableIsSet("TARNEL_INSTANCE_TAG");
        bool hadRuntime = qEnvironmentVariableIsSet("XDG_RUNTIME_DIR");
        ~Restore()
        {
            hadTag ? qputenv("TARNEL_INSTANCE_TAG", tag) : qunsetenv("TARNEL_INSTANCE_TAG");
            hadRuntime ? qputenv("XDG_RUNTIME_DIR", runtime) : qunsetenv("XDG_RUNTIME_DIR");
        }
    } restore;
    qputenv("TARNEL_INSTANCE_TAG", tag);
    qputenv("XDG_RUNTIME_DIR", runtime);

    InstanceBlock block;
    std::string error;
    ASSERT_TRUE(block.Open(&error)) << error;
    ASSERT_FALSE(block.BlockExists());
    InstanceChannel channel;
    ASSERT_TRUE(channel.Listen(&error)) << error;
    block.WriteOwnPid();

    StartOptions options;
    options.independent = true;
    options.leftDir = options.rightDir = runtime;
    MainWindow window(options, &block);
    QObject::connect(&channel, &InstanceChannel::messageReceived, &window,
                     [&window](int message, qint64, qint64) { PostPrivateMessage(&window, message); });
    window.showMinimized();
    QApplication::processEvents();
    ASSERT_TRUE(window.isMinimized());

    QProcess second;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    second.setProcessEnvironment(env);
    second.start(TARNEL_BINARY, {});
    ASSERT_TRUE(second.waitForStarted(5000));
    // The event loop keeps running so that this instance answers the second one.
    EXPECT_TRUE(QTest::qWaitFor([&] { return second.state() == QProcess::NotRunning; }, 15000));
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !window.isMinimized(); }, 5000));
    EXPECT_EQ(block.RunningPid(), uint32_t(getpid())); // the second start wrote nothing

    // A second start given a folder (relative to where it runs) sends the active pane there.
    const std::string folder = std::string(runtime) + "/given";
    std::filesystem::create_directories(folder);
    QProcess third;
    third.setProcessEnvironment(env);
    third.setWorkingDirectory(runtime);
    third.start(TARNEL_BINARY, {"given"});
    ASSERT_TRUE(third.waitForStarted(5000));
    EXPECT_TRUE(QTest::qWaitFor([&] { return third.state() == QProcess::NotRunning; }, 15000));
    EXPECT_EQ(third.exitCode(), 0);
    EXPECT_TRUE(QTest::qWaitFor([&] { return window.LeftPane()->Data().Path == folder + "/"; }, 5000))
        << window.LeftPane()->Data().Path;

    std::filesystem::remove_all(runtime);
}
