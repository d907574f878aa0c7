// What ends a run: the main window's close handling, never another window's
// closing, even when the main window is hidden in the tray.
#include "app/CloseQueryDialog.h"
#include "app/MainWindow.h"
#include "app/PaneReads.h"
#include "app/ProgramEnd.h"
#include "app/components/InstanceBlock.h"
#include "viewer/EditorForm.h"

#include <QAction>
#include <QApplication>
#include <QPlainTextEdit>
#include <QTimer>
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <unistd.h>

using namespace tarnel;

namespace {

// Sees the quit request Qt sends when it ends a run by itself.
struct QuitWatch : QObject {
    bool quitRequested = false;
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched == qApp && event->type() == QEvent::Quit)
            quitRequested = true;
        return false;
    }
};

class ProgramEnd : public ::testing::Test {
protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/tarnel-end-XXXXXX";
        root = mkdtemp(tmpl);
        qputenv("TARNEL_INSTANCE_TAG", QByteArray("-endtest-") + QByteArray::number(getpid()));
        block = std::make_unique<InstanceBlock>();
        std::string error;
        ASSERT_TRUE(block->Open(&error)) << error;
        StartOptions options;
        options.independent = true;
        options.leftDir = root;
        options.rightDir = root;
        window = std::make_unique<MainWindow>(options, block.get());
        window->resize(800, 500);
        window->show();
        test::WaitForReads(*window);
        EndRunOnlyWithMainWindow(window.get());
        qApp->installEventFilter(&watch);
    }
    void TearDown() override
    {
        qApp->removeEventFilter(&watch);
        window.reset();
        block.reset();
        QApplication::setQuitOnLastWindowClosed(true);
        std::filesystem::remove_all(root);
    }
    // Runs steps inside the application's own loop, as the program does;
    // the loop's result, or 42 when nothing ended it.
    int RunLoop(std::function<void()> steps)
    {
        // Its events go with it, so that none is left for a later loop.
        QObject run;
        QTimer::singleShot(0, &run, [steps, &run] {
            steps();
            // Queued behind anything the steps posted.
            QMetaObject::invokeMethod(&run, [] { QCoreApplication::exit(42); }, Qt::QueuedConnection);
        });
        return QApplication::exec();
    }

    std::string root;
    std::unique_ptr<InstanceBlock> block;
    std::unique_ptr<MainWindow> window;
    QuitWatch watch;
};

TEST_F(ProgramEnd, ClosingTheEditorWhileTheMainWindowIsInTheTrayGoesOn)
{
    const int result = RunLoop([this] {
        window->hide(); // where the tray keeps it
        Teditorform editor;
        editor.setWindowModality(Qt::ApplicationModal);
        QTimer::singleShot(0, &editor, [&editor] { editor.QuitItem->trigger(); });
        editor.exec();
        // A plain window of its own, closed the same way.
        QWidget other;
        other.show();
        other.close();
    });
    EXPECT_EQ(result, 42);
    EXPECT_FALSE(watch.quitRequested);
}

TEST_F(ProgramEnd, TheMainWindowsCloseEndsTheRunOnlyWhenItAgrees)
{
    window->SetCloseQuery([] { return int(CloseQueryDialog::No); });
    int result = RunLoop([this] { window->close(); });
    EXPECT_EQ(result, 42);
    EXPECT_TRUE(window->isVisible());

    window->SetCloseQuery([] { return int(CloseQueryDialog::Yes); });
    // With a second window still open, as a stay-on-top tool window would be.
    QWidget other;
    other.show();
    result = RunLoop([this] { window->close(); });
    EXPECT_EQ(result, 0);
    EXPECT_FALSE(window->isVisible());
}

} // namespace
