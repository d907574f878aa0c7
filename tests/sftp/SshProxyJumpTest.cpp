// A host reached through a jump host named by the user's configuration.
#include "platform/ssh/SshConnection.h"
#include "sftp/ServerFixture.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace tarnel {
namespace {

class SshProxyJumpTest : public test::ServerFixture {
protected:
    RemoteError ListInside(std::vector<std::string>& names)
    {
        NoSshQuestions none;
        const std::optional<SftpUrl> url = SftpUrl::Parse("sftp://inside" + folder);
        EXPECT_TRUE(url);
        return SshConnection::For(*url)->Use(none, [&](RemoteFiles& files) {
            return files.List(url->path, 100, [&](std::vector<RemoteEntry>&& chunk) {
                for (const RemoteEntry& e : chunk)
                    names.push_back(e.name);
                return true;
            });
        });
    }
    void SetUp() override
    {
        test::ServerFixture::SetUp();
        if (IsSkipped())
            return;
        // The private server is both the jump host and the one behind it.
        server->AddClientConfig("Host jump\n  HostName 127.0.0.1\n  Port " + std::to_string(server->Port()) + "\n  User " +
                            server->User() + "\n  IdentityFile " + server->Home() + "/.ssh/id_ed25519\n" + "Host inside\n  HostName 127.0.0.1\n  Port " +
                            std::to_string(server->Port()) + "\n  User " + server->User() + "\n  ProxyJump jump\n");
    }
};

// The jump goes through OpenSSH's client, which must use this user's
// files (here the fake home's), not the password database's home.
TEST_F(SshProxyJumpTest, AHostBehindAJumpHostIsListed)
{
    WriteFile(folder + "/behind", "x");
    std::vector<std::string> names;
    const RemoteError error = ListInside(names);
    ASSERT_FALSE(error) << error.text;
    EXPECT_NE(std::find(names.begin(), names.end(), "behind"), names.end());
}

TEST_F(SshProxyJumpTest, AnUnknownJumpHostFailsAtOnceNamingTheJump)
{
    server->TrustHostKey(false); // nobody is there to answer the jump client's question
    std::vector<std::string> names;
    const RemoteError error = ListInside(names);
    ASSERT_TRUE(error);
    EXPECT_NE(error.text.find("jump host"), std::string::npos) << error.text;
    EXPECT_FALSE(error.notAnswering) << "refused, not waited for";
}

} // namespace
} // namespace tarnel
