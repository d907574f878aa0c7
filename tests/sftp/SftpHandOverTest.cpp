// A remote folder handed to the running window (tarnel-open, a second start).
#include "sftp/ServerFixture.h"

#include "app/MainWindow.h"
#include "app/PaneReads.h"
#include "app/RecordedMessages.h"
#include "app/components/InstanceBlock.h"
#include "panes/DirData.h"
#include "widgets/PaneView.h"
#include "app/TryWait.h"

#include <QTest>

#include <cstdlib>
#include <unistd.h>

namespace tarnel {
namespace {

class SftpHandOverTest : public test::ServerFixture {};

TEST_F(SftpHandOverTest, AHandedOverAddressOpensTheRemoteFolderInTheActivePane)
{
    WriteFile(folder + "/handed.txt", "");
    ::setenv("TARNEL_INSTANCE_TAG", ("-sftp-hand-" + std::to_string(::getpid())).c_str(), 1);
    InstanceBlock block;
    std::string error;
    ASSERT_TRUE(block.Open(&error)) << error;
    StartOptions options;
    options.independent = true;
    options.leftDir = "/";
    options.rightDir = "/";
    auto window = std::make_unique<MainWindow>(options, &block);
    auto recorder = std::make_unique<test::RecordedMessages>();
    test::RecordedMessages* messages = recorder.get();
    window->SetMessages(std::move(recorder));
    window->show();
    test::WaitForReads(*window);
    block.WriteShellCall(server->Url(folder));
    window->ShellCall();
    TDirData& active = window->ActivePane()->Data();
    TRY_VERIFY_WITH_TIMEOUT(active.Place().Source() == std::string(kSftpSourceName), 10000);
    ASSERT_TRUE(test::PaneRead(active));
    bool found = false;
    for (int i = 0; i < active.Count; ++i)
        found = found || active.Item(i).Name == "handed.txt";
    EXPECT_TRUE(found);
    EXPECT_EQ(messages->log.join("\n").toStdString(), "") << "no \"Unknown received\"";
    window.reset();
    ::unsetenv("TARNEL_INSTANCE_TAG");
}

} // namespace
} // namespace tarnel
