// "Uninstall software": the list, the start of the chosen command, and the
// entries an administrator adds in the machine's registry file.
#include "tools/DlgUninstall.h"

#include "app/RecordedMessages.h"
#include "panes/TempTree.h"
#include "platform/Registry.h"

#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

#include <fstream>

using namespace tarnel;

namespace {

struct Launch {
    std::string program;
    std::vector<std::string> args;
    int count = 0;
};

UninstallList TwoEntries()
{
    UninstallList list;
    list.names = {"Alpha tool", "Beta tool"};
    list.commands = {"\"/opt/alpha suite/uninstall\"/S", "/opt/beta/remove -uninstall --yes"};
    return list;
}

std::unique_ptr<TDlgUninstall> Open(const UninstallList& list, test::RecordedMessages& messages, Launch& launch)
{
    auto d = std::make_unique<TDlgUninstall>(list, messages, nullptr);
    d->SetLauncher([&launch](const std::string& program, const std::vector<std::string>& args) {
        launch.program = program;
        launch.args = args;
        ++launch.count;
        return std::string();
    });
    return d;
}

} // namespace

TEST(UninstallDialog, UninstallStartsTheProgramWithSeparateArguments)
{
    test::RecordedMessages messages;
    Launch launch;
    auto d = Open(TwoEntries(), messages, launch);
    EXPECT_EQ(d->windowTitle(), "Uninstall software");
    ASSERT_EQ(d->List()->count(), 2);
    d->BTNUninstallClick(); // nothing selected: nothing happens
    EXPECT_EQ(launch.count, 0);
    EXPECT_NE(d->result(), QDialog::Accepted);

    d->List()->setCurrentRow(0);
    QTest::mouseClick(d->UninstallButton(), Qt::LeftButton);
    EXPECT_EQ(launch.program, "/opt/alpha suite/uninstall");
    EXPECT_EQ(launch.args, std::vector<std::string>{"/S"}); // the whole parameter, right after the quote
    EXPECT_EQ(d->result(), QDialog::Accepted);
}

TEST(UninstallDialog, DoubleClickRunsLikeUninstallAndCancelRunsNothing)
{
    test::RecordedMessages messages;
    Launch launch;
    auto d = Open(TwoEntries(), messages, launch);
    QListWidget* list = d->List();
    d->show();
    const QRect rect = list->visualItemRect(list->item(1));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, rect.center());
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, rect.center());
    EXPECT_EQ(launch.count, 1);
    EXPECT_EQ(launch.program, "/opt/beta/remove");
    EXPECT_EQ(launch.args, (std::vector<std::string>{"-uninstall", "--yes"}));

    Launch none;
    auto c = Open(TwoEntries(), messages, none);
    c->List()->setCurrentRow(0);
    QTest::mouseClick(c->CancelButton(), Qt::LeftButton);
    EXPECT_EQ(none.count, 0);
    EXPECT_EQ(c->result(), QDialog::Rejected);
}

TEST(UninstallDialog, AnUninstallerThatCannotStartIsReported)
{
    test::RecordedMessages messages;
    UninstallList list;
    list.names = {"Gone tool"};
    list.commands = {"/nonexistent/gone-uninstaller --all"};
    TDlgUninstall d(list, messages, nullptr); // the real launcher
    d.List()->setCurrentRow(0);
    d.BTNUninstallClick();
    ASSERT_EQ(messages.log.size(), 1);
    EXPECT_TRUE(messages.log[0].startsWith("error: The uninstaller cannot be started: /nonexistent/gone-uninstaller"))
        << messages.log[0].toStdString();
}

TEST(UninstallDialog, MachineRegistryEntriesJoinTheListAndBadValuesAreShown)
{
    test::TempTree dir;
    std::ofstream(dir.Path() + "system.reg")
        << "Windows Registry Editor Version 5.00\n\n"
           "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\000-tarnel-test]\n"
           "\"DisplayName\"=\"Tarnel test entry\"\n"
           "\"UninstallString\"=\"/bin/true --gone\"\n\n"
           "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\001-broken]\n"
           "\"DisplayName\"=dword:00000001\n"
           "\"UninstallString\"=\"/bin/true\"\n";
    Registry registry(dir.Path() + "user.reg", dir.Path() + "system.reg");
    ASSERT_TRUE(registry.Load().empty());
    const UninstallList list = TDlgUninstall::MachineList(&registry);
    ASSERT_FALSE(list.names.empty());
    EXPECT_EQ(list.names.back(), "Tarnel test entry"); // filling stopped at the broken key
    EXPECT_EQ(list.error, "Invalid data type for 'DisplayName'");

    test::RecordedMessages messages;
    Launch launch;
    auto d = Open(list, messages, launch);
    EXPECT_EQ(messages.log, QStringList{"error: Invalid data type for 'DisplayName'"});
    EXPECT_EQ(d->List()->count(), int(list.names.size()));
}
