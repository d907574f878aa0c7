// Copy and move as the user meets them: the target dialog, the replace
// question's "Skip all", and files dragged and dropped onto the panes.
#include "app/ModalAnswerer.h"
#include "app/PaneReads.h"
#include "app/MainWindow.h"
#include "fileops/TargetDialog.h"
#include "platform/ShellFileOperation.h"
#include "platform/UriList.h"
#include "widgets/PaneView.h"

#include <QApplication>
#include <QDropEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QWindow>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

using namespace tarnel;
using tarnel::test::ModalAnswerer;
namespace fs = std::filesystem;

#define WAIT_FOR(condition) EXPECT_TRUE(QTest::qWaitFor([&] { return bool(condition); }, 5000)) << #condition

namespace {

struct AnsweringUi : OperationUi {
    int replaceAsked = 0;
    std::vector<std::string> createAsked;
    bool create = false;
    ReplaceAnswer AskReplace(const std::string&) override { return ++replaceAsked, ReplaceAnswer::No; }
    bool ConfirmCreateFolder(const std::string& path) override
    {
        createAsked.push_back(path);
        return create;
    }
    ErrorAnswer AskError(const std::string&, const std::string&, int) override { return ErrorAnswer::Cancel; }
    bool ConfirmTrash(size_t) override { return true; }
    DeleteAnswer AskDeletePermanently(const std::string&) override { return DeleteAnswer::No; }
    void Refused(const std::string&) override {}
    bool Progress(uint64_t, uint64_t, uint64_t, uint64_t, const std::string&) override { return true; }
};

struct Logged : UserMessages {
    QStringList* log;
    explicit Logged(QStringList* l) : log(l) {}
    void Error(const QString& t) override { log->append(t); }
    void Warning(const QString& t) override { log->append(t); }
    void Information(const QString& t) override { log->append(t); }
    bool Confirm(const QString&) override { return true; }
};

void WriteText(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

std::string Content(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

class TransferTest : public ::testing::Test {
protected:
    std::string root;
    std::unique_ptr<MainWindow> window;
    AnsweringUi ui;
    QStringList messages;

    void SetUp() override
    {
        char tmpl[] = "/tmp/tarnel-transfer-XXXXXX";
        root = mkdtemp(tmpl);
        fs::create_directories(root + "/left/dir");
        fs::create_directories(root + "/right/sub");
        fs::create_directories(root + "/other");
        WriteText(root + "/left/a.txt", "a");
        WriteText(root + "/left/b.txt", "b");
        StartOptions options;
        options.independent = true;
        options.leftDir = root + "/left";
        options.rightDir = root + "/right";
        window = std::make_unique<MainWindow>(options, nullptr);
        window->SetOperationUi(&ui);
        window->SetMessages(std::make_unique<Logged>(&messages));
        window->show();
        QApplication::processEvents();
        test::WaitForReads(*window);
    }
    void TearDown() override
    {
        window.reset();
        fs::remove_all(root);
    }
    PaneView* Left() { return window->LeftPane(); }
    PaneView* Right() { return window->RightPane(); }
    int Row(PaneView* pane, const std::string& name)
    {
        test::WaitForReads(*window);
        for (int i = 0; i < pane->Data().Count; ++i)
            if (pane->Data().Item(i).Name == name)
                return i;
        return -1;
    }
    void Select(PaneView* pane, const std::vector<std::string>& names)
    {
        test::WaitForReads(*window);
        pane->SetRangeSelected(0, pane->Data().Count - 1, false);
        for (const std::string& n : names)
            pane->SetSelected(Row(pane, n), true);
    }
    // Presses the command button while the target dialog is answered by answer.
    int RunWithDialog(const char* button, const std::function<void(TargetDialog*)>& answer,
                      const std::vector<std::string>& selected = {"a.txt"})
    {
        Select(Left(), selected); // a re-read after the last command may have cleared it
        ModalAnswerer answerer([&](QWidget* modal) {
            auto* dialog = qobject_cast<TargetDialog*>(modal);
            ASSERT_NE(dialog, nullptr) << modal->metaObject()->className();
            answer(dialog);
        });
        QTest::mouseClick(window->CommandButton(button), Qt::LeftButton);
        test::WaitForOperations(*window);
        return answerer.seen;
    }
    // A drag over the list and its drop, as Qt delivers them: the drop goes
    // to the widget that took the drag's entry. False when refused.
    static bool Deliver(QWidget* viewport, QPoint at, const QMimeData* mime, Qt::DropActions possible,
                        Qt::KeyboardModifiers modifiers, Qt::DropAction* done = nullptr)
    {
        QDragEnterEvent enter(at, possible, mime, Qt::LeftButton, modifiers);
        QApplication::sendEvent(viewport, &enter);
        if (!enter.isAccepted())
            return false;
        QDragMoveEvent move(at, possible, mime, Qt::LeftButton, modifiers);
        QApplication::sendEvent(viewport, &move);
        QDropEvent drop(at, possible, mime, Qt::LeftButton, modifiers);
        QApplication::sendEvent(viewport, &drop);
        if (done)
            *done = drop.dropAction();
        return move.isAccepted() && drop.isAccepted();
    }
    void Drop(PaneView* pane, QPoint at, const std::vector<std::string>& paths, Qt::DropActions possible,
              Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        std::unique_ptr<QMimeData> mime(NewFileDragData(paths));
        EXPECT_TRUE(Deliver(pane->List()->viewport(), at, mime.get(), possible, modifiers));
    }
    QPoint RowCentre(PaneView* pane, const std::string& name)
    {
        return pane->List()->visualRect(pane->List()->model()->index(Row(pane, name), 0)).center();
    }
    QPoint BelowTheRows(PaneView* pane) { return QPoint(5, pane->List()->viewport()->height() - 3); }
};

} // namespace

TEST_F(TransferTest, TargetDialogShowsTheOtherPaneAndEnterGoesEscStops)
{
    ASSERT_TRUE(window->Settings().ConfirmCopyTarget); // on unless turned off
    Select(Left(), {"a.txt"});
    int shown = RunWithDialog("BTNCopy", [&](TargetDialog* dialog) {
        EXPECT_EQ(dialog->windowTitle(), "Copy");
        EXPECT_EQ(dialog->TargetEdit()->text(), QString::fromStdString(root + "/right/"));
        EXPECT_TRUE(dialog->findChild<QLabel*>("LBTarget")->text().contains("a.txt"));
        QTest::keyClick(dialog->TargetEdit(), Qt::Key_Escape);
    });
    EXPECT_EQ(shown, 1);
    EXPECT_FALSE(fs::exists(root + "/right/a.txt"));

    shown = RunWithDialog("BTNCopy", [](TargetDialog* dialog) { QTest::keyClick(dialog->TargetEdit(), Qt::Key_Return); });
    EXPECT_EQ(shown, 1);
    EXPECT_EQ(Content(root + "/right/a.txt"), "a");
    EXPECT_GE(Row(Right(), "a.txt"), 0);

    // Move asks the same; two items are counted, not named.
    shown = RunWithDialog("BTNMove", [&](TargetDialog* dialog) {
        EXPECT_EQ(dialog->windowTitle(), "Move");
        EXPECT_TRUE(dialog->findChild<QLabel*>("LBTarget")->text().contains("2 items"));
        QTest::keyClicks(dialog->TargetEdit(), "sub"); // replaces the selected path
        EXPECT_EQ(dialog->TargetEdit()->text(), "sub");
        dialog->TargetEdit()->setText(QString::fromStdString(root + "/other"));
        QTest::keyClick(dialog->TargetEdit(), Qt::Key_Return);
    }, {"a.txt", "b.txt"});
    EXPECT_EQ(Content(root + "/other/a.txt"), "a");
    EXPECT_EQ(Content(root + "/other/b.txt"), "b");
    EXPECT_FALSE(fs::exists(root + "/left/b.txt"));
    EXPECT_EQ(Row(Left(), "b.txt"), -1);
    EXPECT_EQ(Content(root + "/right/a.txt"), "a"); // the other pane's folder was not the target
    EXPECT_TRUE(ui.createAsked.empty());
}

TEST_F(TransferTest, ATypedFolderThatIsNotThereIsMadeOnlyAfterAsking)
{
    Select(Left(), {"a.txt"});
    const std::string missing = root + "/right/new/deeper";
    auto typeMissing = [&](TargetDialog* dialog) {
        dialog->TargetEdit()->setText(QString::fromStdString(missing));
        QTest::keyClick(dialog->TargetEdit(), Qt::Key_Return);
    };
    ui.create = false;
    RunWithDialog("BTNCopy", typeMissing);
    EXPECT_EQ(ui.createAsked, std::vector<std::string>{missing});
    EXPECT_FALSE(fs::exists(root + "/right/new"));

    ui.create = true;
    RunWithDialog("BTNCopy", typeMissing);
    EXPECT_EQ(Content(missing + "/a.txt"), "a");

    // A relative path lies below the source's folder; the source pane shows it.
    RunWithDialog("BTNCopy", [](TargetDialog* dialog) {
        dialog->TargetEdit()->setText("made here");
        QTest::keyClick(dialog->TargetEdit(), Qt::Key_Return);
    });
    EXPECT_EQ(Content(root + "/left/made here/a.txt"), "a");
    EXPECT_GE(Row(Left(), "made here"), 0);

    // Nothing typed: said so, nothing done.
    messages.clear();
    RunWithDialog("BTNCopy", [](TargetDialog* dialog) {
        dialog->TargetEdit()->clear();
        QTest::keyClick(dialog->TargetEdit(), Qt::Key_Return);
    });
    EXPECT_EQ(messages, QStringList{"No target folder was given."});
}

TEST_F(TransferTest, WithTheOptionOffCopyGoesStraightToTheOtherPane)
{
    window->Settings().ConfirmCopyTarget = false;
    Select(Left(), {"a.txt"});
    ModalAnswerer none([](QWidget* modal) { static_cast<QDialog*>(modal)->reject(); });
    QTest::mouseClick(window->CommandButton("BTNCopy"), Qt::LeftButton);
    test::WaitForOperations(*window);
    EXPECT_EQ(none.seen, 0);
    EXPECT_EQ(Content(root + "/right/a.txt"), "a");
}

TEST_F(TransferTest, SkipAllLeavesEveryLaterConflictUnasked)
{
    window->Settings().ConfirmCopyTarget = false;
    window->SetOperationUi(nullptr); // the window's own questions
    for (const char* name : {"a.txt", "b.txt", "c.txt"})
        WriteText(root + "/right/" + name, "old");
    WriteText(root + "/left/c.txt", "c");
    WriteText(root + "/left/d.txt", "d");
    window->BTNRefreshClick();
    Select(Left(), {"a.txt", "b.txt", "c.txt", "d.txt"});
    QString question;
    ModalAnswerer answerer([&](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        ASSERT_NE(box, nullptr);
        question = box->text();
        QAbstractButton* skipAll = nullptr;
        for (QAbstractButton* button : box->buttons())
            if (button->text() == "Skip all")
                skipAll = button;
        ASSERT_NE(skipAll, nullptr);
        ASSERT_NE(box->button(QMessageBox::YesToAll), nullptr);
        QTest::mouseClick(skipAll, Qt::LeftButton);
    });
    QTest::mouseClick(window->CommandButton("BTNCopy"), Qt::LeftButton);
    test::WaitForOperations(*window);
    EXPECT_EQ(answerer.seen, 1);
    EXPECT_TRUE(question.contains("a.txt already exists")) << question.toStdString();
    EXPECT_TRUE(question.contains("Existing file: 3 bytes")) << question.toStdString();
    EXPECT_TRUE(question.contains("Replace with: 1 bytes")) << question.toStdString();
    for (const char* name : {"a.txt", "b.txt", "c.txt"})
        EXPECT_EQ(Content(root + "/right/" + name), "old");
    EXPECT_EQ(Content(root + "/right/d.txt"), "d");
}

TEST_F(TransferTest, DroppedFilesAreCopiedOrMovedIntoThePaneOrTheFolderRow)
{
    fs::create_directories(root + "/outside");
    for (const char* name : {"x", "y", "z", "w"})
        WriteText(root + "/outside/" + name, name);

    // From another program, no modifier: a copy into the pane's folder.
    Drop(Right(), BelowTheRows(Right()), {root + "/outside/x"}, Qt::CopyAction | Qt::MoveAction);
    WAIT_FOR(Content(root + "/right/x") == std::string("x"));
    EXPECT_TRUE(fs::exists(root + "/outside/x"));
    WAIT_FOR(Row(Right(), "x") >= 0);

    // Shift moves, as a source proposing a move does.
    Drop(Right(), BelowTheRows(Right()), {root + "/outside/y"}, Qt::CopyAction | Qt::MoveAction, Qt::ShiftModifier);
    WAIT_FOR(Content(root + "/right/y") == std::string("y"));
    WAIT_FOR(!fs::exists(root + "/outside/y"));
    {
        // A source that offers a move alone.
        std::unique_ptr<QMimeData> mime(NewFileDragData({root + "/outside/z"}));
        Qt::DropAction done = Qt::IgnoreAction;
        EXPECT_TRUE(Deliver(Right()->List()->viewport(), BelowTheRows(Right()), mime.get(), Qt::MoveAction,
                            Qt::NoModifier, &done));
        EXPECT_EQ(done, Qt::MoveAction);
    }
    WAIT_FOR(!fs::exists(root + "/outside/z"));
    EXPECT_EQ(Content(root + "/right/z"), "z");

    // Onto a folder row: into that folder.
    Drop(Right(), RowCentre(Right(), "sub"), {root + "/outside/w"}, Qt::CopyAction | Qt::MoveAction);
    WAIT_FOR(Content(root + "/right/sub/w") == std::string("w"));
    EXPECT_FALSE(fs::exists(root + "/right/w"));
    EXPECT_TRUE(messages.isEmpty()) << messages.join("\n").toStdString();
}

TEST_F(TransferTest, DragsBetweenThePanesCarryOddNamesAndNeverLoseAFile)
{
    const std::string odd = std::string("new\nline \xff") + "%20#";
    WriteText(root + "/left/" + odd, "odd");
    window->BTNRefreshClick();
    Select(Left(), {"..", "a.txt", odd, "dir"});
    const std::vector<std::string> paths = Left()->DragPaths(); // ".." never goes
    EXPECT_EQ(paths, (std::vector<std::string>{root + "/left/dir", root + "/left/a.txt", root + "/left/" + odd}));
    std::unique_ptr<QMimeData> mime(NewFileDragData(paths));
    const QByteArray list = mime->data("text/uri-list");
    EXPECT_TRUE(list.contains("/left/new%0Aline%20%FF%2520%23\r\n")) << list.toStdString();
    EXPECT_TRUE(list.startsWith(QByteArray("file://") + QByteArray::fromStdString(PercentEncodePath(root))));
    EXPECT_EQ(PathsFromUriList(list.toStdString()), paths);

    // Dropped on the right pane: the same files arrive, the originals stay.
    Drop(Right(), BelowTheRows(Right()), paths, Qt::CopyAction | Qt::MoveAction);
    WAIT_FOR(Content(root + "/right/" + odd) == std::string("odd"));
    EXPECT_TRUE(fs::is_directory(root + "/right/dir"));
    EXPECT_EQ(Content(root + "/left/" + odd), "odd");

    // Back onto their own folder, moving: nothing is asked, nothing goes.
    Drop(Left(), BelowTheRows(Left()), paths, Qt::CopyAction | Qt::MoveAction, Qt::ShiftModifier);
    QApplication::processEvents();
    QApplication::processEvents();
    EXPECT_EQ(Content(root + "/left/a.txt"), "a");
    EXPECT_EQ(ui.replaceAsked, 0);
    // A folder onto its own row is refused by the engine, and kept.
    Drop(Left(), RowCentre(Left(), "dir"), {root + "/left/dir"}, Qt::MoveAction);
    QApplication::processEvents();
    QApplication::processEvents();
    EXPECT_TRUE(fs::is_directory(root + "/left/dir"));

    // Existing targets get the replace question, as the buttons do.
    Drop(Right(), BelowTheRows(Right()), {root + "/left/a.txt"}, Qt::CopyAction);
    WAIT_FOR(ui.replaceAsked == 1);
}

TEST_F(TransferTest, DropsOntoAnArchiveOrAVolumeRowAreRefused)
{
    ASSERT_EQ(std::system(("cd '" + root + "/left' && zip -q ../right/pack.zip a.txt").c_str()), 0);
    QTest::keyClick(Right()->List(), Qt::Key_R, Qt::ControlModifier); // reads the right pane again
    Right()->SetCurrentRow(Row(Right(), "pack.zip"));
    window->OpenEntryOf(Right());
    ASSERT_TRUE(Right()->Data().InArchive());
    {
        std::unique_ptr<QMimeData> mime(NewFileDragData({root + "/left/a.txt"}));
        EXPECT_FALSE(Deliver(Right()->List()->viewport(), BelowTheRows(Right()), mime.get(), Qt::CopyAction,
                             Qt::NoModifier));
    }
    WAIT_FOR(messages.size() == 1);
    EXPECT_TRUE(messages[0].contains("cannot be dropped into an archive")) << messages[0].toStdString();
    // Nothing of an archive can be dragged out: its members are no files.
    Select(Right(), {});
    EXPECT_TRUE(Right()->DragPaths().empty());

    // A row that stands for a volume takes nothing.
    bool tried = false;
    for (int row = 0; row < Left()->Data().Count && !tried; ++row) {
        if (Left()->Data().Item(row).Kind != fkDrive)
            continue;
        std::unique_ptr<QMimeData> mime(NewFileDragData({root + "/left/a.txt"}));
        const QPoint at = Left()->List()->visualRect(Left()->List()->model()->index(row, 0)).center();
        EXPECT_FALSE(Deliver(Left()->List()->viewport(), at, mime.get(), Qt::CopyAction, Qt::NoModifier));
        tried = true;

        // A drag that comes in over a volume row is still taken where it goes on to.
        QWidget* viewport = Right()->List()->viewport();
        Right()->List()->setFocus();
        QTest::keyClick(Right()->List(), Qt::Key_Backspace); // out of the archive
        test::WaitForReads(*window);
        ASSERT_FALSE(Right()->Data().InArchive());
        int volume = 0;
        while (Right()->Data().Item(volume).Kind != fkDrive)
            ++volume;
        const QPoint over = Right()->List()->visualRect(Right()->List()->model()->index(volume, 0)).center();
        QDragEnterEvent enter(over, Qt::CopyAction, mime.get(), Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(viewport, &enter);
        QDragMoveEvent refused(over, Qt::CopyAction, mime.get(), Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(viewport, &refused);
        EXPECT_FALSE(refused.isAccepted());
        QDragMoveEvent taken(BelowTheRows(Right()), Qt::CopyAction, mime.get(), Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(viewport, &taken);
        EXPECT_TRUE(taken.isAccepted());
        QDropEvent drop(BelowTheRows(Right()), Qt::CopyAction, mime.get(), Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(viewport, &drop);
        WAIT_FOR(Content(root + "/right/a.txt") == "a");
    }
    EXPECT_TRUE(tried) << "no volume row listed";
}

// The whole gesture with the mouse, through the system's drag and drop:
// pressed on a row of one pane, dragged over to the other and let go there. The drag runs its own event loop, so
// the rest of the gesture comes from a timer inside it.
TEST_F(TransferTest, MouseDragOnX11CopiesARowToTheOtherPane)
{
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        GTEST_SKIP() << "needs an X11 session (xvfb-run, QT_QPA_PLATFORM=xcb): the offscreen platform does not drag";
    // Through the window, as the system delivers the mouse: a drag follows
    // the buttons the application knows to be down.
    QWindow* handle = window->windowHandle();
    ASSERT_NE(handle, nullptr);
    auto inWindow = [&](QWidget* widget, QPoint at) { return widget->mapTo(window.get(), at); };
    const QPoint start = inWindow(Left()->List()->viewport(), RowCentre(Left(), "a.txt"));
    const QPoint end = inWindow(Right()->List()->viewport(), BelowTheRows(Right()));
    bool released = false;
    QTimer::singleShot(100, [&] {
        QTest::mouseMove(handle, (start + end) / 2);
        QTest::mouseMove(handle, end);
        QTest::mouseRelease(handle, Qt::LeftButton, Qt::NoModifier, end);
        released = true;
    });
    QTest::mousePress(handle, Qt::LeftButton, Qt::NoModifier, start);
    QTest::mouseMove(handle, start + QPoint(QApplication::startDragDistance() + 5, 0));
    QTest::mouseMove(handle, start + QPoint(2 * QApplication::startDragDistance() + 10, 0));
    WAIT_FOR(released);
    WAIT_FOR(Content(root + "/right/a.txt") == "a");
    EXPECT_EQ(Content(root + "/left/a.txt"), "a");
    WAIT_FOR(Row(Right(), "a.txt") >= 0);
}
