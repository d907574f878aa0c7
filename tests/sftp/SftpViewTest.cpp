// Remote files in the viewer and opened with programs, against the private
// server: a huge file shows its first screen and its end without crossing
// the network whole, a server that stops answering is told on the page
// while the window goes on, and a copy opened with a program reaches the
// server only changed, asked for, and never over a file changed since.
#include "fuse/StallMeter.h"
#include "sftp/ServerFixture.h"

#include "app/CommandLine.h"
#include "app/MainWindow.h"
#include "app/MainWindowSftpView.h"
#include "app/PaneReads.h"
#include "app/RecordedMessages.h"
#include "app/components/TestEnvironment.h"
#include "panes/DirData.h"
#include "viewer/ImagePage.h"
#include "viewer/InfoPage.h"
#include "viewer/TextPage.h"
#include "viewer/TextView.h"
#include "viewer/ViewerHost.h"
#include "viewer/model/FileBlocks.h"
#include "viewer/model/RemoteCopy.h"
#include "viewer/model/RemoteReader.h"
#include "viewer/model/TextFile.h"
#include "viewer/model/ImageTestFiles.h"
#include "widgets/PaneView.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QTest>

#include <fstream>
#include <sstream>

#include <fcntl.h>
#include <sys/stat.h>

namespace tarnel {
namespace {

constexpr int64_t kHuge = int64_t(1) << 30;

// Waits for what a test looks for, the events running meanwhile.
template <class F>
bool Soon(F&& done, int timeoutMs)
{
    return QTest::qWaitFor(std::forward<F>(done), timeoutMs);
}

std::string ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

class SftpViewTest : public test::ServerFixture {
protected:
    std::unique_ptr<MainWindow> window;
    test::RecordedMessages* messages = nullptr;
    EnvGuard env;

    void SetUp() override
    {
        ServerFixture::SetUp();
        if (IsSkipped())
            return;
        // The program's private folder and its applications: the test's own.
        const std::string root = server->Dir() + "/desktop";
        std::filesystem::remove_all(root);
        for (const char* d : {"config", "home/applications", "system", "run"})
            std::filesystem::create_directories(root + "/" + d);
        ::chmod((root + "/run").c_str(), 0700);
        std::filesystem::create_symlink("/usr/share/mime", root + "/system/mime");
        env.Set("XDG_CONFIG_HOME", root + "/config");
        env.Set("XDG_CONFIG_DIRS", root + "/config");
        env.Set("XDG_DATA_HOME", root + "/home");
        env.Set("XDG_DATA_DIRS", root + "/system");
        env.Set("XDG_RUNTIME_DIR", root + "/run");
        // The "editor" adds to the file it is given, as a user's save would.
        const std::string editor = root + "/editor";
        WriteFile(editor, "#!/bin/sh\nprintf ' edited' >> \"$1\"\n");
        ::chmod(editor.c_str(), 0755);
        WriteFile(root + "/home/applications/editor.desktop",
                  "[Desktop Entry]\nType=Application\nName=Editor\nExec=" + editor + " %f\n");
        WriteFile(root + "/config/mimeapps.list", "[Default Applications]\ntext/plain=editor.desktop\n");
    }

    void TearDown() override
    {
        window.reset();
        ServerFixture::TearDown();
    }

    void Start()
    {
        StartOptions options;
        options.independent = true;
        options.leftDir = server->Url(folder);
        options.rightDir = server->Dir();
        window = std::make_unique<MainWindow>(options, nullptr);
        auto recorder = std::make_unique<test::RecordedMessages>();
        messages = recorder.get();
        window->SetMessages(std::move(recorder));
        window->resize(1000, 600);
        window->show();
        ASSERT_TRUE(test::PaneRead(window->LeftPane()->Data()));
    }

    // The entry called name in the remote pane, shown in the viewer.
    void View(const std::string& name)
    {
        PaneView* left = window->LeftPane();
        for (int i = 0; i < left->Data().Count; ++i)
            if (left->Data().Item(i).Name == name) {
                left->SetCurrentRow(i);
                window->Viewer()->ShowEntryInViewer(left, left->Data().Path, i, false, false);
                return;
            }
        FAIL() << name << " is not listed";
    }

    TTextView* Text() const { return window->Viewer()->Pages().text->VWText; }

    static uint64_t Fetched(const TTextView& view)
    {
        auto reader = std::dynamic_pointer_cast<const RemoteReader>(view.File().Reader());
        return reader ? reader->BytesFetched() : 0;
    }

    // A 1 GB file that takes no room on the server: lines at its start, zeros, a tail.
    void MakeHugeFile(const std::string& path)
    {
        {
            std::ofstream out(path, std::ios::binary);
            for (int i = 1; i <= 100; ++i)
                out << "line " << i << "\n";
        }
        std::filesystem::resize_file(path, uint64_t(kHuge));
        std::fstream tail(path, std::ios::in | std::ios::out | std::ios::binary);
        tail.seekp(kHuge - 5);
        tail << "tail\n";
    }
};

TEST_F(SftpViewTest, ARemoteFileOpensForViewingByItsStartAndIsReadByRanges)
{
    MakeHugeFile(folder + "/big.txt");
    TextFile file;
    std::string error;
    ASSERT_TRUE(OpenForViewing(file, server->Url(folder + "/big.txt"), TTextView::kReadWithOpenBytes, error)) << error;
    EXPECT_TRUE(file.Remote());
    EXPECT_EQ(file.Size(), kHuge);
    auto reader = std::dynamic_pointer_cast<const RemoteReader>(file.Reader());
    ASSERT_TRUE(reader);
    EXPECT_LE(reader->BytesFetched(), uint64_t(kRemoteHeadBytes));
    char start[6] = {};
    EXPECT_EQ(file.ReadAt(0, start, 6), 6u);
    EXPECT_EQ(std::string(start, 6), "line 1");
    char end[8] = {};
    EXPECT_EQ(file.ReadAt(kHuge - 5, end, sizeof end), 5u) << "the end of the file ends the read";
    EXPECT_EQ(std::string(end, 5), "tail\n");
    EXPECT_LE(reader->BytesFetched(), uint64_t(kRemoteHeadBytes) + 5);

    EXPECT_FALSE(OpenForViewing(file, server->Url(folder), 1024, error));
    EXPECT_NE(error.find("folder"), std::string::npos) << error;
    EXPECT_FALSE(OpenForViewing(file, server->Url(folder + "/missing.txt"), 1024, error));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(file.IsOpen());
}

TEST_F(SftpViewTest, AWriteBackSendsOnlyAChangedCopyAndNeverOverARemoteFileChangedSince)
{
    const std::string remotePath = folder + "/notes.txt";
    const std::string address = server->Url(remotePath);
    WriteFile(remotePath, "old");
    ::chmod(remotePath.c_str(), 0640);
    const std::string copies = server->Dir() + "/copies";
    std::filesystem::create_directories(copies);
    RemoteEntry remote;
    ASSERT_EQ(DownloadRemoteFile(address, copies + "/notes.txt", UINT64_MAX, nullptr, remote), "");
    EXPECT_EQ(ReadAll(copies + "/notes.txt"), "old");
    RemoteCopy copy{address, copies + "/notes.txt", StampOfRemote(remote), {}, 0};
    ASSERT_TRUE(TakeCopyStamp(copy));

    // Saved with the same bytes: a new time, nothing sent.
    struct stat before {};
    ::stat(remotePath.c_str(), &before);
    const timespec later[2] = {{0, UTIME_OMIT}, {before.st_mtime + 100, 0}};
    ::utimensat(AT_FDCWD, copy.local.c_str(), later, 0);
    EXPECT_TRUE(CopyStampChanged(copy));
    EXPECT_EQ(WriteRemoteCopyBack(copy, false, nullptr).outcome, WriteBackOutcome::Unchanged);
    struct stat after {};
    ::stat(remotePath.c_str(), &after);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(after.st_mtime, before.st_mtime);

    // Changed: whole under its name, with the remote file's permissions, no part left.
    WriteFile(copy.local, "new text");
    WriteBackResult result = WriteRemoteCopyBack(copy, false, nullptr);
    ASSERT_EQ(result.outcome, WriteBackOutcome::Written) << result.error;
    EXPECT_EQ(ReadAll(remotePath), "new text");
    ::stat(remotePath.c_str(), &after);
    EXPECT_EQ(after.st_mode & 07777, 0640u);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder), {}), 1) << "a part or an old file was left";

    // Changed on the server since: left alone unless the user says otherwise.
    WriteFile(remotePath, "their version");
    WriteFile(copy.local, "mine again");
    EXPECT_EQ(WriteRemoteCopyBack(copy, false, nullptr).outcome, WriteBackOutcome::RemoteChanged);
    EXPECT_EQ(ReadAll(remotePath), "their version");
    std::filesystem::remove(remotePath);
    EXPECT_EQ(WriteRemoteCopyBack(copy, false, nullptr).outcome, WriteBackOutcome::RemoteChanged) << "deleted since";
    WriteFile(remotePath, "their version");
    result = WriteRemoteCopyBack(copy, true, nullptr);
    ASSERT_EQ(result.outcome, WriteBackOutcome::Written) << result.error;
    EXPECT_EQ(ReadAll(remotePath), "mine again");

    // A copy over the size asked for is refused before anything is read, and leaves nothing.
    const std::string refused = DownloadRemoteFile(address, copies + "/small", 3, nullptr, remote);
    EXPECT_NE(refused.find("larger"), std::string::npos) << refused;
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(copies), {}), 1);
}

TEST_F(SftpViewTest, TheViewerShowsAHugeRemoteFilesFirstScreenAndItsEndFetchingLittle)
{
    MakeHugeFile(folder + "/big.txt");
    Start();
    View("big.txt");
    TTextView* view = Text();
    ASSERT_TRUE(Soon([&] { return view->Active(); }, 10000));
    EXPECT_TRUE(view->ReadsByBlocks());
    std::vector<std::string> lines;
    int64_t failed = 0;
    ASSERT_TRUE(Soon([&] { return view->GetLines(1, 2, false, lines, failed); }, 10000));
    EXPECT_EQ(lines, (std::vector<std::string>{"line 1", "line 2"}));
    // The index stops a few screens past the top: the rest is never fetched unasked.
    EXPECT_FALSE(Soon([&] { return Fetched(*view) > (uint64_t(16) << 20); }, 3000)) << Fetched(*view);
    EXPECT_TRUE(view->Indexing());
    ASSERT_TRUE(Soon([&] { return view->Blocks()->Waiting() == 0 && !view->LinesWaiting(); }, 10000));
    const uint64_t firstScreen = Fetched(*view);

    // The hex dump's end: only the blocks there.
    view->SetViewMode(VM_HEX);
    view->ScrollKey(Qt::Key_End);
    const int64_t last = view->LineCount();
    ASSERT_TRUE(Soon([&] { return view->GetLines(last, 1, false, lines, failed); }, 10000));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("tail"), std::string::npos) << lines[0];
    EXPECT_LT(Fetched(*view), firstScreen + (uint64_t(1) << 20));
    EXPECT_EQ(messages->log.join("\n").toStdString(), "");
}

TEST_F(SftpViewTest, AServerThatStopsAnsweringIsToldInTheViewerAndTheWindowGoesOn)
{
    MakeHugeFile(folder + "/big.txt");
    WriteFile(folder + "/other.txt", "other");
    Start();
    View("big.txt");
    TTextView* view = Text();
    std::vector<std::string> lines;
    int64_t failed = 0;
    ASSERT_TRUE(Soon([&] { return view->Active() && view->GetLines(1, 1, false, lines, failed); }, 10000));

    test::StallMeter meter;
    meter.Start();
    server->StopAnswering();
    // Far from what is held: the read waits on the server, the window does not.
    view->SetViewMode(VM_HEX);
    view->ScrollKey(Qt::Key_End);
    ASSERT_TRUE(Soon([&] { return view->Blocks()->Failure().find("not answering") != std::string::npos; }, 15000));
    ASSERT_TRUE(Soon([&] { return !view->GetLines(view->LineCount(), 1, false, lines, failed) && !view->LinesWaiting(); }, 5000));

    // Another file cannot even be opened: the page says why.
    View("other.txt");
    ASSERT_TRUE(Soon([&] { return !Text()->OpenFailure().isEmpty(); }, 15000));
    EXPECT_TRUE(Text()->OpenFailure().contains("127.0.0.1")) << Text()->OpenFailure().toStdString();
    EXPECT_FALSE(window->Viewer()->Reading());
    meter.Stop();
    EXPECT_LT(meter.LongestWaitMs(), 1000.0) << meter.LongGaps();

    server->Answer();
    View("other.txt");
    ASSERT_TRUE(Soon([&] { return Text()->Active(); }, 15000));
    ASSERT_TRUE(Text()->GetLines(1, 1, false, lines, failed));
    EXPECT_NE(lines.front().find("other"), std::string::npos) << lines.front();
}

TEST_F(SftpViewTest, APictureIsShownFromACopyThatGoesWithItAndAHugeOneIsRefused)
{
    WriteFile(folder + "/photo.jpg", test::MakeJpeg(40, 30));
    WriteFile(folder + "/notes.txt", "notes");
    WriteFile(folder + "/huge.jpg", "x");
    std::filesystem::resize_file(folder + "/huge.jpg", uint64_t(1) << 30);
    Start();
    ViewerHost* viewer = window->Viewer();
    View("photo.jpg");
    ASSERT_TRUE(Soon([&] { return !viewer->Reading() && viewer->CurrentPage() == ViewerPageKind::Image; }, 10000));
    ASSERT_TRUE(Soon([&] { return viewer->Pages().image->PageHint() == "40x30 pixel"; }, 10000));
    const std::string copy = viewer->ViewerTempFile();
    EXPECT_EQ(copy, server->Dir() + "/desktop/run/tarnel/orvtmp/vw/photo.jpg");
    View("notes.txt");
    EXPECT_FALSE(std::filesystem::exists(copy)) << "the copy goes with its page";

    View("huge.jpg");
    ASSERT_TRUE(Soon([&] { return !viewer->Reading(); }, 10000));
    EXPECT_EQ(viewer->CurrentPage(), ViewerPageKind::Info);
    EXPECT_TRUE(viewer->Pages().info->Info1()->text().contains("larger than"))
        << viewer->Pages().info->Info1()->text().toStdString();
    EXPECT_EQ(viewer->ViewerTempFile(), "");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(server->Dir() + "/desktop/run/tarnel/orvtmp/vw"), {}),
              0) << "nothing of the refused copy is left";
}

TEST_F(SftpViewTest, TheInformationPageShowsTheRemoteFilesFacts)
{
    WriteFile(folder + "/script.sh", "#!/bin/sh\n");
    ::chmod((folder + "/script.sh").c_str(), 0754);
    Start();
    PaneView* left = window->LeftPane();
    for (int i = 0; i < left->Data().Count; ++i)
        if (left->Data().Item(i).Name == "script.sh")
            window->Viewer()->ShowEntryInViewer(left, left->Data().Path, i, true, false);
    const InfoPage* info = window->Viewer()->Pages().info;
    ASSERT_TRUE(Soon([&] { return info->Info2()->text().contains("rwxr-xr--"); }, 10000));
    EXPECT_TRUE(info->Info2()->text().contains("0754")) << info->Info2()->text().toStdString();
    EXPECT_TRUE(info->Info1()->text().contains("Size : 10")) << info->Info1()->text().toStdString();
}

TEST_F(SftpViewTest, AnOpenedRemoteFileIsWrittenBackOnlyWhenChangedAndAskedFor)
{
    const std::string remotePath = folder + "/notes.txt";
    WriteFile(remotePath, "remote text");
    Start();
    PaneView* left = window->LeftPane();
    for (int i = 0; i < left->Data().Count; ++i)
        if (left->Data().Item(i).Name == "notes.txt")
            left->SetCurrentRow(i);
    window->LaunchEntry(left, true, false, false);
    test::WaitForOperations(*window);
    RemoteCopies* copies = window->OpenedRemoteCopies();
    ASSERT_TRUE(Soon([&] { return copies->Copies().size() == 1; }, 10000));
    const std::string local = copies->Copies().front().local;
    EXPECT_EQ(local.rfind(server->Dir() + "/desktop/run/tarnel/orvtmp/rm/", 0), 0u) << local;

    // The program saved its copy: offered, not sent.
    ASSERT_TRUE(Soon([&] { return copies->OfferOf(local) != nullptr; }, 10000));
    EXPECT_FALSE(copies->OfferOf(local)->isModal());
    EXPECT_EQ(ReadAll(remotePath), "remote text");
    copies->OfferOf(local)->button(QMessageBox::Yes)->click();
    test::WaitForOperations(*window);
    EXPECT_EQ(ReadAll(remotePath), "remote text edited");
    EXPECT_EQ(messages->log.join("\n").toStdString(), "");

    // Saved again with the same bytes: nothing is offered.
    const std::string bytes = ReadAll(local);
    WriteFile(local, bytes);
    const FileStamp resaved = [&] {
        FileStamp stamp;
        StampOf(local, stamp);
        return stamp;
    }();
    ASSERT_TRUE(Soon([&] { return copies->Copies().front().copy == resaved; }, 10000));
    EXPECT_EQ(copies->OfferOf(local), nullptr);

    // Changed on both sides: the user is asked, and a no leaves the server's file.
    messages->answer = false;
    WriteFile(remotePath, "their own version");
    WriteFile(local, "mine");
    ASSERT_TRUE(Soon([&] { return copies->OfferOf(local) != nullptr; }, 10000));
    copies->OfferOf(local)->button(QMessageBox::Yes)->click();
    test::WaitForOperations(*window);
    EXPECT_EQ(ReadAll(remotePath), "their own version");
    EXPECT_TRUE(messages->log.join("\n").contains("changed on the server")) << messages->log.join("\n").toStdString();
}

} // namespace
} // namespace tarnel

namespace tarnel {
namespace {

TEST_F(SftpViewTest, EnterOnARemoteArchiveGoesIntoItsCopy)
{
    WriteFile(folder + "/inner.txt", "inside");
    ASSERT_EQ(test::Shell("cd '" + folder + "' && bsdtar -cf pack.tar inner.txt && rm inner.txt"), 0);
    Start();
    PaneView* left = window->LeftPane();
    for (int i = 0; i < left->Data().Count; ++i)
        if (left->Data().Item(i).Name == "pack.tar")
            left->SetCurrentRow(i);
    window->LaunchEntry(left, false, false, false);
    test::WaitForOperations(*window);
    ASSERT_TRUE(Soon([&] { return left->Data().Place().InArchive() && !left->Data().Reading(); }, 10000));
    EXPECT_EQ(left->Data().Place().ArchiveFile().rfind(server->Dir() + "/desktop/run/tarnel/orvtmp/rm/", 0), 0u)
        << left->Data().Place().ArchiveFile();
    bool listed = false;
    for (int i = 0; i < left->Data().Count; ++i)
        listed = listed || left->Data().Item(i).Name == "inner.txt";
    EXPECT_TRUE(listed);
    EXPECT_TRUE(window->OpenedRemoteCopies()->Copies().empty()) << "nothing to write back from an archive entered";
}

} // namespace
} // namespace tarnel
