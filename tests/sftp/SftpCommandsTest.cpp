// The pane commands on remote places in the real window, against the
// private server: descriptions, folder sizes on demand, permissions,
// properties and "Add net drive".
#include "sftp/ServerFixture.h"

#include "app/AttributesDialog.h"
#include "app/DescriptionDialog.h"
#include "descriptions/Descriptions.h"
#include "app/MainWindow.h"
#include "app/MainWindowSftpCommands.h"
#include "app/ModalAnswerer.h"
#include "app/NetDriveDialog.h"
#include "app/PaneReads.h"
#include "app/RecordedMessages.h"
#include "panes/DirData.h"
#include "panes/Navigation.h"
#include "platform/DirectoryReader.h"
#include "sources/SftpSource.h"
#include "widgets/PaneView.h"
#include "app/TryWait.h"

#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <sys/stat.h>

namespace tarnel {
namespace {

std::string ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteBytes(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

mode_t ModeOf(const std::string& path)
{
    struct stat st {};
    ::lstat(path.c_str(), &st);
    return st.st_mode & 07777;
}

// Whatever is left in the folder besides the names given: no part file may stay.
std::vector<std::string> OtherNames(const std::string& folder, const std::set<std::string>& known)
{
    std::vector<std::string> others;
    for (const auto& e : std::filesystem::directory_iterator(folder))
        if (!known.count(e.path().filename().string()))
            others.push_back(e.path().filename().string());
    return others;
}

// A folder nobody may write in, root included (the tests may run as root,
// whom mode bits do not stop).
class ReadOnlyFolder {
public:
    explicit ReadOnlyFolder(std::string path) : path_(std::move(path))
    {
        ::chmod(path_.c_str(), 0555);
        immutable_ = ::geteuid() == 0 && test::Shell("chattr +i '" + path_ + "' 2>/dev/null") == 0;
    }
    ~ReadOnlyFolder()
    {
        if (immutable_)
            test::Shell("chattr -i '" + path_ + "'");
        ::chmod(path_.c_str(), 0755);
    }
    bool Holds() const { return ::geteuid() != 0 || immutable_; }

private:
    std::string path_;
    bool immutable_ = false;
};

// A remote folder's description file is read and rewritten from bytes: it
// must come out exactly as the same file of the disk does.
TEST(RemoteDescriptionBytes, ReadAndRewrittenAsTheSameFileOnTheDisk)
{
    char pattern[] = "/tmp/tarnel-descbytes-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    const std::string dir = std::string(pattern) + "/";
    const std::string longText(5000, 'L');
    const std::vector<std::string> contents = {
        "\xEF\xBB\xBF" "bom.txt marked\r\nplain.txt one\n\rcrcr.txt two\r\rlflf.txt three\n\nlast.txt no end",
        "\"quoted name\" q\r\n\"unclosed x\r\nnoblank\r\nlong.txt " + longText + "\r\nPLAIN.TXT later wins\r\n",
        "\r\n\r\n\n",
        "",
    };
    const std::vector<std::string> names = {"bom.txt", "plain.txt", "crcr.txt", "lflf.txt", "last.txt",
                                            "quoted name", "long.txt", "other.txt"};
    const std::vector<DescriptionChange> changes = {{"plain.txt", "changed", false},
                                                    {"new name.txt", "added", false},
                                                    {"lflf.txt", "", true}};
    for (const std::string& bytes : contents) {
        WriteBytes(dir + "DESCRIPT.ION", bytes);
        DescriptionList fromFile, fromBytes;
        LoadDescriptions(dir, fromFile);
        ParseDescriptions(bytes, fromBytes);
        for (const std::string& name : names) {
            const std::string* a = fromFile.Find(name);
            const std::string* b = fromBytes.Find(name);
            EXPECT_EQ(a ? *a : "(none)", b ? *b : "(none)") << name << " in " << bytes.substr(0, 40);
        }
        std::optional<std::string> rewritten;
        ASSERT_EQ(RewriteDescriptionBytes(bytes, changes, rewritten), WriteDescriptionResult::Written);
        ASSERT_EQ(WriteDescriptions(dir, changes), WriteDescriptionResult::Written);
        ASSERT_TRUE(rewritten.has_value());
        EXPECT_TRUE(*rewritten == ReadAll(dir + "DESCRIPT.ION")) << bytes.substr(0, 40);
    }
    // Removals of names without lines leave the file alone, as on the disk.
    std::optional<std::string> untouched;
    EXPECT_EQ(RewriteDescriptionBytes("a.txt x\r\n", {{"b.txt", "", true}}, untouched),
              WriteDescriptionResult::Written);
    EXPECT_FALSE(untouched.has_value());
    std::filesystem::remove_all(pattern);
}

class SftpCommandsTest : public test::ServerFixture {
protected:
    std::unique_ptr<MainWindow> window;
    test::RecordedMessages* messages = nullptr;

    void TearDown() override
    {
        window.reset();
        ServerFixture::TearDown();
    }

    PaneView* Start(const std::string& left)
    {
        StartOptions options;
        options.independent = true;
        options.leftDir = left;
        options.rightDir = server->Dir();
        window = std::make_unique<MainWindow>(options, nullptr);
        auto recorder = std::make_unique<test::RecordedMessages>();
        messages = recorder.get();
        window->SetMessages(std::move(recorder));
        window->resize(1000, 600);
        window->show();
        PaneView* pane = window->LeftPane();
        EXPECT_TRUE(test::PaneRead(pane->Data()));
        window->SetActivePane(pane);
        return pane;
    }

    static int Row(const TDirData& pane, const std::string& name)
    {
        for (int i = 0; i < pane.Count; ++i)
            if (pane.Item(i).Name == name)
                return i;
        return -1;
    }

    static void SelectOnly(PaneView* pane, std::initializer_list<const char*> names)
    {
        pane->SetRangeSelected(0, pane->Data().Count - 1, false);
        for (const char* name : names) {
            const int row = Row(pane->Data(), name);
            ASSERT_GE(row, 0) << name;
            pane->SetSelected(row, true);
            pane->SetCurrentRow(row);
        }
    }

    std::string Description(PaneView* pane, const std::string& name)
    {
        const int row = Row(pane->Data(), name);
        return row < 0 ? "(gone)" : pane->Data().Item(row).Description;
    }
};

TEST_F(SftpCommandsTest, DescriptionsShowInTheListingAndDescribeRewritesTheRemoteFileKeepingItsForm)
{
    WriteFile(folder + "/a.txt", "a");
    WriteFile(folder + "/My File.txt", "m");
    WriteFile(folder + "/<b>bold<br>", "b");
    // Written elsewhere: a byte-order mark, mixed line ends, a line no one
    // reads, a line for a name that is gone, and restricted permissions.
    const std::string old = "\xEF\xBB\xBF"
                            "a.txt first\r\n"
                            "\"My File.txt\" spaced out\n"
                            "noblank\r"
                            "gone.txt still kept \x01\xFF\r\n"
                            "<b>bold<br> <i>markup</i>";
    WriteBytes(folder + "/DESCRIPT.ION", old);
    ::chmod((folder + "/DESCRIPT.ION").c_str(), 0664); // a shared folder's, wider than the umask

    PaneView* pane = Start(server->Url(folder));
    EXPECT_EQ(Description(pane, "a.txt"), "first");
    EXPECT_EQ(Description(pane, "My File.txt"), "spaced out");
    EXPECT_EQ(Description(pane, "<b>bold<br>"), "<i>markup</i>");

    // Describe through the command, the dialog answered as a user would.
    SelectOnly(pane, {"a.txt"});
    QString shown;
    test::ModalAnswerer answerer([&](QWidget* modal) {
        auto* dialog = qobject_cast<DescriptionDialog*>(modal);
        if (!dialog)
            return;
        shown = dialog->Memo()->toPlainText();
        dialog->Memo()->setPlainText("second thoughts");
        QTest::mouseClick(dialog->findChild<QPushButton*>("BtnOK"), Qt::LeftButton);
    });
    window->Action("Describe")->trigger();
    TRY_COMPARE_WITH_TIMEOUT(Description(pane, "a.txt"), std::string("second thoughts"), 20000);
    EXPECT_EQ(shown, "first");
    EXPECT_EQ(messages->log.join("\n").toStdString(), "");

    EXPECT_EQ(ReadAll(folder + "/DESCRIPT.ION"), "\xEF\xBB\xBF"
                                                 "a.txt second thoughts\r\n"
                                                 "\"My File.txt\" spaced out\r\n"
                                                 "gone.txt still kept \x01\xFF\r\n"
                                                 "<b>bold<br> <i>markup</i>\r\n");
    EXPECT_EQ(ModeOf(folder + "/DESCRIPT.ION"), mode_t(0664));
    EXPECT_EQ(OtherNames(folder, {"a.txt", "My File.txt", "<b>bold<br>", "DESCRIPT.ION"}), std::vector<std::string>());

    // A folder without one gets a new file on the first description.
    std::filesystem::create_directory(folder + "/fresh");
    WriteFile(folder + "/fresh/x y", "x");
    GoToDirectory(pane->Data(), server->Url(folder + "/fresh"), {});
    ASSERT_TRUE(test::PaneRead(pane->Data()));
    SelectOnly(pane, {"x y"});
    window->Action("Describe")->trigger();
    TRY_COMPARE_WITH_TIMEOUT(Description(pane, "x y"), std::string("second thoughts"), 20000);
    EXPECT_EQ(ReadAll(folder + "/fresh/DESCRIPT.ION"), "\"x y\" second thoughts\r\n");
}

TEST_F(SftpCommandsTest, ADescriptionThatCannotBeWrittenLeavesTheOldFileAndSaysSo)
{
    WriteFile(folder + "/a.txt", "a");
    const std::string old = "a.txt kept as it was\r\n";
    WriteBytes(folder + "/DESCRIPT.ION", old);
    PaneView* pane = Start(server->Url(folder));
    ASSERT_EQ(Description(pane, "a.txt"), "kept as it was");

    ReadOnlyFolder locked(folder);
    if (!locked.Holds())
        GTEST_SKIP() << "the folder cannot be made read-only for this user";
    SelectOnly(pane, {"a.txt"});
    bool finished = false;
    test::RecordedMessages said;
    RunDescribeCommand(
        pane->Data(), *pane, said, window.get(),
        [](DescriptionDialog& dialog) {
            dialog.SetText("never stored");
            return int(QDialog::Accepted);
        },
        {}, [&] { finished = true; });
    TRY_VERIFY_WITH_TIMEOUT(finished, 20000);
    ASSERT_EQ(said.log.size(), 1) << said.log.join("\n").toStdString();
    EXPECT_TRUE(said.log[0].startsWith("warning: The description was not stored")) << said.log[0].toStdString();
    EXPECT_EQ(ReadAll(folder + "/DESCRIPT.ION"), old);
    EXPECT_EQ(OtherNames(folder, {"a.txt", "DESCRIPT.ION"}), std::vector<std::string>());
    ASSERT_TRUE(test::PaneRead(pane->Data()));
    EXPECT_EQ(Description(pane, "a.txt"), "kept as it was");
}

TEST_F(SftpCommandsTest, AHugeDescriptionFileIsBoundedAndNeverRewritten)
{
    WriteFile(folder + "/present.txt", "p");
    // Far more lines than names: only the present name's line is kept.
    std::string many = "present.txt found at once\r\n";
    for (int i = 0; many.size() < (2u << 20); ++i)
        many += "absent" + std::to_string(i) + " nothing here\r\n";
    WriteBytes(folder + "/DESCRIPT.ION", many);

    SftpSource source;
    struct Collect : ListSink {
        std::map<std::string, std::string> described;
        std::vector<std::string> problems;
        void Chunk(std::vector<SourceEntry>&& chunk) override
        {
            for (SourceEntry& e : chunk)
                described[e.name] = e.description;
        }
        void Problem(const std::string& text) override { problems.push_back(text); }
    } listed;
    const CancelToken never;
    source.List(PanePlace::FromPath(server->Url(folder)), listed, never);
    EXPECT_TRUE(listed.problems.empty());
    EXPECT_EQ(listed.described["present.txt"], "found at once");
    EXPECT_EQ(listed.described["DESCRIPT.ION"], "");

    // Past what the reader takes: a rewrite would lose its end.
    many.resize(17u << 20, ' ');
    WriteBytes(folder + "/DESCRIPT.ION", many);
    WriteDescriptionResult result = WriteDescriptionResult::Written;
    const RemoteError error = source.WriteDescription(server->Url(folder + "/present.txt"), "new", result);
    EXPECT_TRUE(error.text.find("larger than") != std::string::npos) << error.text;
    EXPECT_NE(result, WriteDescriptionResult::Written);
    EXPECT_TRUE(ReadAll(folder + "/DESCRIPT.ION") == many);
}

TEST_F(SftpCommandsTest, FolderSizesAreSummedOnDemandOnlyAndNeverThroughLinks)
{
    std::filesystem::create_directories(folder + "/tree/deeper");
    WriteFile(folder + "/tree/one", std::string(1000, 'x'));
    WriteFile(folder + "/tree/deeper/two", std::string(234, 'y'));
    std::filesystem::create_directories(server->Dir() + "/elsewhere");
    WriteFile(server->Dir() + "/elsewhere/big", std::string(50000, 'z'));
    std::filesystem::create_directory_symlink(server->Dir() + "/elsewhere", folder + "/tree/link");
    std::filesystem::create_symlink(server->Dir() + "/elsewhere/big", folder + "/tree/filelink");
    std::filesystem::create_directory(folder + "/other");

    PaneView* pane = Start(server->Url(folder));
    const int tree = Row(pane->Data(), "tree");
    ASSERT_GE(tree, 0);
    QTest::qWait(300); // any automatic sizing would have begun
    EXPECT_FALSE(pane->Data().Item(tree).SizeDone.load()) << "no walk over the network unasked";
    EXPECT_EQ(pane->Data().Item(tree).Size.load(), -1);

    SelectOnly(pane, {"tree"});
    window->Action("FolderSizes")->trigger();
    TRY_VERIFY_WITH_TIMEOUT(pane->Data().Item(Row(pane->Data(), "tree")).SizeDone.load(), 20000);
    const TFileData& summed = pane->Data().Item(Row(pane->Data(), "tree"));
    EXPECT_EQ(summed.Size.load(), 1234);
    EXPECT_EQ(summed.SubDirs.load(), 1);
    EXPECT_EQ(summed.SubFiles.load(), 4) << "the links count as entries of their own";
    EXPECT_FALSE(pane->Data().Item(Row(pane->Data(), "other")).SizeDone.load()) << "only what was asked for";
    EXPECT_EQ(messages->log.join("\n").toStdString(), "");

    // A server that stops answering: the row stays without a size, and the
    // user hears why; the window goes on meanwhile.
    SelectOnly(pane, {"other"});
    server->StopAnswering();
    window->Action("FolderSizes")->trigger();
    TRY_VERIFY_WITH_TIMEOUT(!messages->log.isEmpty(), 15000);
    server->Answer();
    EXPECT_TRUE(messages->log[0].contains("could not be summed")) << messages->log[0].toStdString();
    EXPECT_FALSE(pane->Data().Item(Row(pane->Data(), "other")).SizeDone.load());
    EXPECT_EQ(pane->Data().Item(Row(pane->Data(), "other")).Size.load(), -1);
}

TEST_F(SftpCommandsTest, AttributesShowAndSetThePermissionBitsOfARemoteSelection)
{
    WriteFile(folder + "/open.txt", "o");
    WriteFile(folder + "/private.txt", "p");
    ::chmod((folder + "/open.txt").c_str(), 0644);
    ::chmod((folder + "/private.txt").c_str(), 0600);
    PaneView* pane = Start(server->Url(folder));
    SelectOnly(pane, {"open.txt", "private.txt"});

    std::map<uint32_t, Qt::CheckState> started;
    bool asked = false;
    test::RecordedMessages said;
    RunAttributesCommand(pane->Data(), *pane, said, window.get(), [&](AttributesDialog& dialog) {
        asked = true;
        for (uint32_t bit : {0400u, 0200u, 0100u, 040u, 04u, 04000u})
            started[bit] = dialog.Box(bit)->checkState();
        dialog.Box(0100)->setCheckState(Qt::Checked);   // owner may run them
        dialog.Box(040)->setCheckState(Qt::Unchecked);  // a grayed box, decided
        return int(QDialog::Accepted);
    });
    TRY_VERIFY_WITH_TIMEOUT(ModeOf(folder + "/open.txt") == 0704, 20000);
    EXPECT_TRUE(asked);
    EXPECT_EQ(started[0400], Qt::Checked);
    EXPECT_EQ(started[0200], Qt::Checked);
    EXPECT_EQ(started[0100], Qt::Unchecked);
    EXPECT_EQ(started[040], Qt::PartiallyChecked);
    EXPECT_EQ(started[04], Qt::PartiallyChecked);
    EXPECT_EQ(started[04000], Qt::Unchecked);
    TRY_COMPARE_WITH_TIMEOUT(ModeOf(folder + "/private.txt"), mode_t(0700), 20000);
    EXPECT_TRUE(said.log.isEmpty()) << said.log.join("\n").toStdString();

    // Taking away the owner's write shows as read-only in the rows at once.
    SelectOnly(pane, {"private.txt"});
    RunAttributesCommand(pane->Data(), *pane, said, window.get(), [](AttributesDialog& dialog) {
        dialog.Box(0200)->setCheckState(Qt::Unchecked);
        return int(QDialog::Accepted);
    });
    TRY_VERIFY_WITH_TIMEOUT(pane->Data().Item(Row(pane->Data(), "private.txt")).Attr & faReadOnly, 20000);
    EXPECT_EQ(ModeOf(folder + "/private.txt"), mode_t(0500));
}

TEST_F(SftpCommandsTest, PropertiesShowTheServersFactsAsPlainText)
{
    WriteFile(folder + "/<b>x<br>.txt", "12345");
    ::chmod((folder + "/<b>x<br>.txt").c_str(), 0640);
    std::filesystem::create_symlink("<b>x<br>.txt", folder + "/pointer");
    PaneView* pane = Start(server->Url(folder));
    SelectOnly(pane, {"<b>x<br>.txt", "pointer"});

    QString text;
    window->SetNameDialogRunner([&](QDialog& dialog) {
        auto* shown = dynamic_cast<RemotePropertiesDialog*>(&dialog);
        if (!shown)
            return int(QDialog::Rejected);
        EXPECT_TRUE(QTest::qWaitFor([&] { return shown->FactsDone(); }, 20000));
        text = shown->Text();
        for (QLabel* label : shown->findChildren<QLabel*>())
            EXPECT_EQ(label->textFormat(), Qt::PlainText);
        return int(QDialog::Accepted);
    });
    window->RunFileCommand(FO_PROPERTIES);
    struct stat st {};
    ::lstat((folder + "/<b>x<br>.txt").c_str(), &st);
    EXPECT_TRUE(text.contains("Name: <b>x<br>.txt\n")) << text.toStdString();
    EXPECT_TRUE(text.contains("Size: 5 bytes")) << text.toStdString();
    EXPECT_TRUE(text.contains("Permissions: rw-r----- (0640)")) << text.toStdString();
    EXPECT_TRUE(text.contains(QString("Owner: %1\nGroup: %2").arg(st.st_uid).arg(st.st_gid))) << text.toStdString();
    EXPECT_TRUE(text.contains("Name: pointer\n")) << text.toStdString();
    EXPECT_TRUE(text.contains("Type: Link\n")) << text.toStdString();
    EXPECT_TRUE(text.contains("Link target: <b>x<br>.txt")) << text.toStdString();
}

TEST_F(SftpCommandsTest, AddNetDriveOpensAnSftpAddressInTheActivePane)
{
    WriteFile(folder + "/remote.txt", "r");
    Start(server->Dir());
    PaneView* right = window->RightPane();
    window->SetActivePane(right);
    test::ModalAnswerer answerer([&](QWidget* modal) {
        auto* dialog = qobject_cast<NetDriveDialog*>(modal);
        if (!dialog)
            return;
        dialog->Location()->setText(QString::fromStdString(server->Url(folder)));
        QTest::mouseClick(dialog->findChild<QPushButton*>("BtnOK"), Qt::LeftButton);
    });
    window->Connect1Click();
    TRY_COMPARE_WITH_TIMEOUT(std::string(right->Data().Place().Source()), std::string(kSftpSourceName), 20000);
    ASSERT_TRUE(test::PaneRead(right->Data()));
    EXPECT_GE(Row(right->Data(), "remote.txt"), 0);
    EXPECT_EQ(answerer.seen, 1) << "no question about refreshing drives: nothing was mounted";
}

} // namespace
} // namespace tarnel
