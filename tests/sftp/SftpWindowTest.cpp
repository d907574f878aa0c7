// Remote places in the real window against the private server: a question
// from the worker comes up as a dialog, folders are entered and left with
// the keys, and a server that stops answering is told without the window
// ever waiting for it.
#include "fuse/StallMeter.h"
#include "sftp/ServerFixture.h"

#include "app/CommandLine.h"
#include "app/MainWindow.h"
#include "app/PaneReads.h"
#include "app/RecordedMessages.h"
#include "app/ModalAnswerer.h"
#include "fileops/NameDialogs.h"
#include "panes/DirData.h"
#include "panes/Navigation.h"
#include "widgets/PaneView.h"
#include "app/TryWait.h"

#include <QAbstractButton>
#include <QLineEdit>
#include <QApplication>
#include <QMessageBox>
#include <QTest>

#include <fstream>

namespace tarnel {
namespace {

class SftpWindowTest : public test::ServerFixture {
protected:
    std::unique_ptr<MainWindow> window;
    test::RecordedMessages* messages = nullptr;

    void TearDown() override
    {
        window.reset();
        ServerFixture::TearDown();
    }

    void Start(const std::string& left)
    {
        StartOptions options;
        options.independent = true;
        options.leftDir = left;
        options.rightDir = folder;
        window = std::make_unique<MainWindow>(options, nullptr);
        auto recorder = std::make_unique<test::RecordedMessages>();
        messages = recorder.get();
        window->SetMessages(std::move(recorder));
        window->resize(1000, 600);
        window->show();
    }

    static int Row(const TDirData& pane, const std::string& name)
    {
        for (int i = 0; i < pane.Count; ++i)
            if (pane.Item(i).Name == name)
                return i;
        return -1;
    }
};

TEST_F(SftpWindowTest, AnUnknownHostIsAskedAboutInADialogAndItsFoldersAreEnteredAndLeft)
{
    std::filesystem::create_directory(folder + "/sub");
    WriteFile(folder + "/sub/inner.txt", "x");
    WriteFile(folder + "/a.txt", "a");
    server->TrustHostKey(false);

    QString asked;
    test::ModalAnswerer answerer([&](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        if (!box)
            return;
        asked = box->text();
        QTest::mouseClick(box->button(QMessageBox::Yes), Qt::LeftButton);
    });
    Start(server->Url(folder));
    PaneView* left = window->LeftPane();
    ASSERT_TRUE(test::PaneRead(left->Data()));
    EXPECT_EQ(answerer.seen, 1);
    EXPECT_TRUE(asked.contains(QString::fromStdString(server->HostKeyFingerprint()))) << asked.toStdString();
    EXPECT_EQ(messages->log.join("\n").toStdString(), "");
    ASSERT_GE(Row(left->Data(), "a.txt"), 0);

    // Into sub with Enter, back up with Backspace: the place keeps its source.
    const int sub = Row(left->Data(), "sub");
    ASSERT_GE(sub, 0);
    left->SetCurrentRow(sub);
    QTest::keyClick(left->List(), Qt::Key_Return);
    ASSERT_TRUE(test::PaneRead(left->Data()));
    EXPECT_EQ(left->Data().Place().Path, server->Url(folder + "/sub/"));
    EXPECT_GE(Row(left->Data(), "inner.txt"), 0);
    QTest::keyClick(left->List(), Qt::Key_Backspace);
    ASSERT_TRUE(test::PaneRead(left->Data()));
    EXPECT_STREQ(left->Data().Place().Source(), kSftpSourceName);
    EXPECT_GE(Row(left->Data(), "sub"), 0);
    EXPECT_EQ(answerer.seen, 1) << "the connection was kept: nothing asked again";

    // A bookmark or a typed address goes there as well, and the history keeps it.
    GoToDirectory(window->RightPane()->Data(), server->Url(folder + "/sub"), {});
    ASSERT_TRUE(test::PaneRead(window->RightPane()->Data()));
    EXPECT_GE(Row(window->RightPane()->Data(), "inner.txt"), 0);
    bool inHistory = false;
    for (const PanePlace& place : window->RightPane()->Data().History)
        inHistory = inHistory || place.Source() == std::string(kSftpSourceName);
    EXPECT_TRUE(inHistory);
}

TEST_F(SftpWindowTest, CopiesBetweenARemotePaneAndALocalOneOnTheRunner)
{
    WriteFile(folder + "/remote.txt", "from afar");
    const std::string local = server->Dir() + "/local";
    std::filesystem::create_directories(local);
    WriteFile(local + "/near.txt", "from here");
    Start(server->Url(folder));
    window->Settings().ConfirmCopyTarget = false;
    PaneView* left = window->LeftPane();
    ASSERT_TRUE(test::PaneRead(left->Data()));
    GoToDirectory(window->RightPane()->Data(), local, {});
    test::WaitForReads(*window);

    window->SetActivePane(left);
    left->SetSelected(Row(left->Data(), "remote.txt"), true);
    window->RunFileCommand(FO_COPY);
    test::WaitForOperations(*window);
    std::ifstream copied(local + "/remote.txt");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(copied), {}), "from afar");
    EXPECT_GE(Row(window->RightPane()->Data(), "remote.txt"), 0) << "the target pane is read again";

    PaneView* right = window->RightPane();
    window->SetActivePane(right);
    right->SetRangeSelected(0, right->Data().Count - 1, false);
    right->SetSelected(Row(right->Data(), "near.txt"), true);
    window->RunFileCommand(FO_COPY);
    test::WaitForOperations(*window);
    std::ifstream sent(folder + "/near.txt");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(sent), {}), "from here");
    EXPECT_GE(Row(left->Data(), "near.txt"), 0);

    // A new folder in the remote pane is made on the server, not on the disk.
    window->SetActivePane(left);
    window->SetNameDialogRunner([](QDialog& d) {
        static_cast<NewDirDialog&>(d).NameEdit()->setText("made");
        return int(QDialog::Accepted);
    });
    window->NewDirClick();
    test::WaitForOperations(*window);
    EXPECT_TRUE(std::filesystem::is_directory(folder + "/made"));
    EXPECT_GE(Row(left->Data(), "made"), 0);
    EXPECT_FALSE(std::filesystem::exists("sftp:")) << "nothing made under the working folder";
    EXPECT_EQ(messages->log.join("\n").toStdString(), "");
}

TEST_F(SftpWindowTest, AKeysPassphraseIsAskedInADialogAndTypedIn)
{
    WriteFile(folder + "/locked.txt", "");
    const std::string key = server->MakeClientKey("id_locked", "open sesame");
    server->AuthorizeKeys({key + ".pub"});
    server->AddClientConfig("Host locked\n  HostName 127.0.0.1\n  IdentityFile " + key + "\n");
    int asked = 0;
    test::ModalAnswerer answerer([&](QWidget* modal) {
        auto* edit = modal->findChild<QLineEdit*>("SshSecret");
        if (!edit)
            return;
        ++asked;
        EXPECT_EQ(edit->echoMode(), QLineEdit::Password);
        QTest::keyClicks(edit, "open sesame");
        QTest::keyClick(edit, Qt::Key_Return);
    });
    Start("sftp://" + server->User() + "@locked:" + std::to_string(server->Port()) + folder);
    PaneView* left = window->LeftPane();
    ASSERT_TRUE(test::PaneRead(left->Data()));
    EXPECT_EQ(asked, 1);
    EXPECT_GE(Row(left->Data(), "locked.txt"), 0);
    EXPECT_EQ(messages->log.join("\n").toStdString(), "");
}

TEST_F(SftpWindowTest, ARemotePlaceGivenOnTheCommandLineIsOpened)
{
    WriteFile(folder + "/given.txt", "");
    StartOptions options;
    options.independent = true;
    options.givenPlaces = GivenPlaces({server->Url(folder)}, "/tmp");
    ASSERT_EQ(options.givenPlaces.size(), 1u);
    EXPECT_EQ(options.givenPlaces[0], server->Url(folder)) << "an address is no path of this machine";
    window = std::make_unique<MainWindow>(options, nullptr);
    auto recorder = std::make_unique<test::RecordedMessages>();
    messages = recorder.get();
    window->SetMessages(std::move(recorder));
    window->show();
    PaneView* left = window->LeftPane();
    TRY_VERIFY_WITH_TIMEOUT(left->Data().Place().Source() == std::string(kSftpSourceName), 10000);
    ASSERT_TRUE(test::PaneRead(left->Data()));
    EXPECT_GE(Row(left->Data(), "given.txt"), 0);
    EXPECT_EQ(messages->log.join("\n").toStdString(), "");
}

TEST_F(SftpWindowTest, AServerThatStopsAnsweringIsToldWithinTenSecondsAndTheWindowNeverWaits)
{
    WriteFile(folder + "/a.txt", "a");
    SshConnection::SetAnswerTimeout(SshConnection::kDefaultAnswerTimeout); // the one the window has
    test::StallMeter meter;
    meter.Start();
    Start(server->Url(folder));
    PaneView* left = window->LeftPane();
    ASSERT_TRUE(test::PaneRead(left->Data()));
    ASSERT_GE(Row(left->Data(), "a.txt"), 0);

    server->StopAnswering();
    const auto start = std::chrono::steady_clock::now();
    window->SetActivePane(left);
    window->BTNRefreshClick();
    // Meanwhile the other pane goes elsewhere and is read.
    GoToDirectory(window->RightPane()->Data(), server->Dir(), {});
    ASSERT_TRUE(test::PaneRead(window->RightPane()->Data(), 3000)) << "the other pane is free";
    TRY_VERIFY_WITH_TIMEOUT(messages->log.join("\n").contains("not answering"), 11000);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    EXPECT_FALSE(left->Data().Reading());
    EXPECT_LT(meter.LongestWaitMs(), 1000.0) << "the window's thread waited on the network";

    server->Answer();
    window->SetActivePane(left);
    window->BTNRefreshClick();
    ASSERT_TRUE(test::PaneRead(left->Data()));
    EXPECT_GE(Row(left->Data(), "a.txt"), 0) << "a server that answers again is reached again";
}

TEST_F(SftpWindowTest, RenamesAndMovesInARemotePaneOnTheRunner)
{
    WriteFile(folder + "/old.txt", "old");
    WriteFile(folder + "/taken.txt", "taken");
    const std::string local = server->Dir() + "/local";
    std::filesystem::create_directories(local + "/box");
    WriteFile(local + "/box/inner.txt", "inner");
    Start(server->Url(folder));
    window->Settings().ConfirmCopyTarget = false;
    PaneView* left = window->LeftPane();
    ASSERT_TRUE(test::PaneRead(left->Data()));
    GoToDirectory(window->RightPane()->Data(), local, {});
    test::WaitForReads(*window);

    std::string typed = "new.txt";
    window->SetNameDialogRunner([&](QDialog& d) {
        static_cast<RenameDialog&>(d).NameEdit()->setText(QString::fromStdString(typed));
        return int(QDialog::Accepted);
    });
    const auto selectOnly = [](PaneView* pane, const std::string& name) {
        pane->SetRangeSelected(0, pane->Data().Count - 1, false);
        pane->SetCurrentRow(Row(pane->Data(), name));
        pane->SetSelected(Row(pane->Data(), name), true);
    };
    window->SetActivePane(left);
    selectOnly(left, "old.txt");
    window->RunFileCommand(FO_RENAME);
    test::WaitForOperations(*window);
    test::WaitForReads(*window);
    EXPECT_TRUE(std::filesystem::exists(folder + "/new.txt"));
    EXPECT_FALSE(std::filesystem::exists(folder + "/old.txt"));
    EXPECT_GE(Row(left->Data(), "new.txt"), 0) << "the pane is read again";
    EXPECT_EQ(messages->log.join("\n").toStdString(), "");

    typed = "taken.txt";
    selectOnly(left, "new.txt");
    window->RunFileCommand(FO_RENAME);
    test::WaitForOperations(*window);
    EXPECT_TRUE(messages->log.join("\n").contains("already exists")) << messages->log.join("\n").toStdString();
    std::ifstream kept(folder + "/taken.txt");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}), "taken");
    messages->log.clear();

    // A folder of the disk moves in and leaves the disk.
    PaneView* right = window->RightPane();
    window->SetActivePane(right);
    selectOnly(right, "box");
    window->RunFileCommand(FO_MOVE);
    test::WaitForOperations(*window);
    test::WaitForReads(*window);
    std::ifstream moved(folder + "/box/inner.txt");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(moved), {}), "inner");
    EXPECT_FALSE(std::filesystem::exists(local + "/box"));
    EXPECT_GE(Row(left->Data(), "box"), 0);
    EXPECT_LT(Row(right->Data(), "box"), 0);
    EXPECT_EQ(messages->log.join("\n").toStdString(), "");
}

} // namespace
} // namespace tarnel
