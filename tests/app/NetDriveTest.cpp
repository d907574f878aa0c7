// "Add net drive": the dialog with a stand-in mounter, and the gio runner with
// stand-in programs.
#include "app/NetDriveDialog.h"
#include "app/UserMessages.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include "RecordedMessages.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>

using namespace tarnel;
namespace fs = std::filesystem;

namespace {

using test::RecordedMessages;

// Answers every mount at once with the given result.
struct FakeMounter {
    QStringList locations;
    MountResult result;
    MountRunner Runner()
    {
        return [this](const QString& location, MountDone done) -> std::function<void()> {
            locations << location;
            done(result);
            return {};
        };
    }
};

void Press(NetDriveDialog& dialog, const char* name)
{
    QTest::mouseClick(dialog.findChild<QPushButton*>(name), Qt::LeftButton);
}

// The user types a location and presses OK (or another button).
std::function<int(NetDriveDialog&)> Enter(const QString& location, const char* button = "BtnOK")
{
    return [location, button](NetDriveDialog& dialog) {
        dialog.Location()->setText(location);
        Press(dialog, button);
        return dialog.result();
    };
}

} // namespace

TEST(NetDrive, MountedAsksWhetherToRefreshAndReturnsTheAnswer)
{
    FakeMounter mounter;
    mounter.result.ok = true;
    RecordedMessages messages;
    EXPECT_TRUE(NetDriveDialog::AddNetDrive(nullptr, messages, mounter.Runner(), Enter("  smb://server/share ")));
    EXPECT_EQ(mounter.locations, QStringList({"smb://server/share"}));
    EXPECT_EQ(messages.log, QStringList({"confirm: Should I refresh drive list?"}));

    messages.answer = false;
    messages.log.clear();
    EXPECT_FALSE(NetDriveDialog::AddNetDrive(nullptr, messages, mounter.Runner(), Enter("sftp://host/path")));
    EXPECT_EQ(messages.log, QStringList({"confirm: Should I refresh drive list?"}));
}

TEST(NetDrive, FailureShowsTheMounterTextAndAsksNothing)
{
    FakeMounter mounter;
    mounter.result = {false, "gio: smb://server/share: Failed to mount Windows share: No route to host"};
    RecordedMessages messages;
    EXPECT_FALSE(NetDriveDialog::AddNetDrive(nullptr, messages, mounter.Runner(), Enter("smb://server/share")));
    EXPECT_EQ(messages.log,
              QStringList({"error: gio: smb://server/share: Failed to mount Windows share: No route to host"}));
}

TEST(NetDrive, CancelOrNoLocationRunsNothing)
{
    FakeMounter mounter;
    mounter.result.ok = true;
    RecordedMessages messages;
    EXPECT_FALSE(NetDriveDialog::AddNetDrive(nullptr, messages, mounter.Runner(), Enter("smb://x/y", "BtnCancel")));
    EXPECT_FALSE(NetDriveDialog::AddNetDrive(nullptr, messages, mounter.Runner(), [](NetDriveDialog& dialog) {
        dialog.Location()->setText("   ");
        Press(dialog, "BtnOK");   // nothing to mount: stays open
        EXPECT_TRUE(dialog.Location()->isEnabled());
        Press(dialog, "BtnCancel");
        return dialog.result();
    }));
    EXPECT_TRUE(mounter.locations.isEmpty());
    EXPECT_TRUE(messages.log.isEmpty());
}

TEST(NetDrive, CancelWhileConnectingAbandonsTheMount)
{
    MountDone pending;
    int abandoned = 0;
    MountRunner slow = [&](const QString&, MountDone done) -> std::function<void()> {
        pending = std::move(done);
        return [&] { ++abandoned; };
    };
    RecordedMessages messages;
    EXPECT_FALSE(NetDriveDialog::AddNetDrive(nullptr, messages, slow, [&](NetDriveDialog& dialog) {
        dialog.show();
        dialog.Location()->setText("smb://slow/share");
        Press(dialog, "BtnOK");
        EXPECT_TRUE(dialog.isVisible());
        EXPECT_EQ(dialog.Status()->text(), "Connecting…");
        EXPECT_FALSE(dialog.Location()->isEnabled());
        EXPECT_FALSE(dialog.findChild<QPushButton*>("BtnOK")->isEnabled());
        Press(dialog, "BtnCancel");
        return dialog.result();
    }));
    EXPECT_EQ(abandoned, 1);
    EXPECT_TRUE(messages.log.isEmpty());
}

TEST(NetDrive, AnSftpAddressOpensARemotePlaceInsteadOfMountingAndABadOneIsExplained)
{
    FakeMounter mounter;
    mounter.result.ok = true;
    RecordedMessages messages;
    std::vector<std::string> opened;
    auto open = [&](const std::string& address) { opened.push_back(address); };
    EXPECT_FALSE(NetDriveDialog::AddNetDrive(nullptr, messages, mounter.Runner(),
                                             Enter(" SFTP://me@host:2222/srv/data "), open));
    EXPECT_EQ(opened, std::vector<std::string>({"sftp://me@host:2222/srv/data"}));
    EXPECT_TRUE(mounter.locations.isEmpty()) << "nothing is mounted";
    EXPECT_TRUE(messages.log.isEmpty()) << "no drive list to refresh";

    // An address without a host stays in the dialog with what is wrong.
    opened.clear();
    EXPECT_FALSE(NetDriveDialog::AddNetDrive(nullptr, messages, mounter.Runner(), [](NetDriveDialog& dialog) {
        dialog.Location()->setText("sftp:///no/host");
        Press(dialog, "BtnOK");
        EXPECT_TRUE(dialog.Status()->text().contains("sftp://[user@]host[:port]/folder"))
            << dialog.Status()->text().toStdString();
        EXPECT_EQ(dialog.Status()->textFormat(), Qt::PlainText);
        EXPECT_TRUE(dialog.Location()->isEnabled());
        Press(dialog, "BtnCancel");
        return dialog.result();
    }, open));
    EXPECT_TRUE(opened.empty());
    EXPECT_TRUE(mounter.locations.isEmpty());
    EXPECT_TRUE(messages.log.isEmpty());

    // Other locations are still mounted.
    EXPECT_TRUE(NetDriveDialog::AddNetDrive(nullptr, messages, mounter.Runner(), Enter("smb://server/share"), open));
    EXPECT_EQ(mounter.locations, QStringList({"smb://server/share"}));
}

class GioMountTest : public ::testing::Test {
protected:
    std::string dir;
    void SetUp() override
    {
        char tmpl[] = "/tmp/tarnel-gio-XXXXXX";
        dir = mkdtemp(tmpl);
    }
    void TearDown() override { fs::remove_all(dir); }

    // A stand-in for gio: a shell script with the given body.
    QString Program(const std::string& body)
    {
        const std::string path = dir + "/gio";
        std::ofstream(path) << "#!/bin/sh\n" << body << "\n";
        fs::permissions(path, fs::perms::owner_all);
        return QString::fromStdString(path);
    }
    static std::optional<MountResult> Run(const MountRunner& runner, const QString& location, int waitMs = 10000)
    {
        std::optional<MountResult> result;
        runner(location, [&](const MountResult& r) { result = r; });
        static_cast<void>(QTest::qWaitFor([&] { return result.has_value(); }, waitMs));
        return result;
    }
};

TEST_F(GioMountTest, ExitCodeDecidesAndStderrExplains)
{
    const QString ok = Program("[ \"$1\" = mount ] && [ \"$2\" = 'smb://h/s' ] && exit 0\nexit 9");
    auto result = Run(GioMount(ok), "smb://h/s");
    ASSERT_TRUE(result);
    EXPECT_TRUE(result->ok);

    const QString failing = Program("echo 'gio: smb://h/s: Location is already mounted' >&2\nexit 2");
    result = Run(GioMount(failing), "smb://h/s");
    ASSERT_TRUE(result);
    EXPECT_FALSE(result->ok);
    EXPECT_EQ(result->error, "gio: smb://h/s: Location is already mounted");

    const QString silent = Program("exit 3");
    result = Run(GioMount(silent), "smb://h/s");
    ASSERT_TRUE(result);
    EXPECT_FALSE(result->ok);
    EXPECT_TRUE(result->error.contains("exit code 3")) << result->error.toStdString();
}

TEST_F(GioMountTest, NoAnswerOnStdinAndNoProgramAreFailures)
{
    // gio reads missing credentials from stdin; it must see end of input.
    const QString prompting = Program("read answer || { echo 'no answer' >&2; exit 1; }\nexit 0");
    auto result = Run(GioMount(prompting), "smb://h/s");
    ASSERT_TRUE(result);
    EXPECT_EQ(result->error, "no answer");

    result = Run(GioMount(QString::fromStdString(dir + "/not-there")), "smb://h/s");
    ASSERT_TRUE(result);
    EXPECT_FALSE(result->ok);
    EXPECT_FALSE(result->error.isEmpty());
}

TEST_F(GioMountTest, TimeoutAndAbandonStopTheProgram)
{
    const std::string marker = dir + "/still-running";
    const QString hanging = Program("sleep 5\ntouch '" + marker + "'");
    auto result = Run(GioMount(hanging, 200), "smb://h/s");
    ASSERT_TRUE(result);
    EXPECT_FALSE(result->ok);
    EXPECT_TRUE(result->error.contains("No answer")) << result->error.toStdString();

    bool called = false;
    auto abandon = GioMount(hanging)("smb://h/s", [&](const MountResult&) { called = true; });
    QTest::qWait(100);
    abandon();
    abandon(); // twice is harmless
    QTest::qWait(300);
    EXPECT_FALSE(called);
}
