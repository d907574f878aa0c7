// Connections to the private server: logging in, host keys, the user's
// configuration, a server that stops answering and one that drops the link.
#include "platform/ssh/SshConnection.h"
#include "sftp/ServerFixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <unistd.h>

namespace tarnel {
namespace {

using test::PrivateSshd;

// Answers as told and records what was asked.
class ScriptedQuestions : public SshQuestions {
public:
    bool trustHost = false;
    std::optional<std::string> passphrase;
    std::vector<std::string> asked;
    std::string fingerprint;

    bool TrustUnknownHost(const std::string& host, const std::string&, const std::string& print) override
    {
        asked.push_back("host " + host);
        fingerprint = print;
        return trustHost;
    }
    std::optional<std::string> Password(const std::string& prompt) override
    {
        asked.push_back("password " + prompt);
        return std::nullopt;
    }
    std::optional<std::string> Passphrase(const std::string& prompt) override
    {
        asked.push_back("passphrase " + prompt);
        return passphrase;
    }
};

class SshConnectionTest : public test::ServerFixture {
protected:
    static RemoteError ListNames(const std::string& url, SshQuestions& questions, std::map<std::string, RemoteEntry>& out)
    {
        const std::optional<SftpUrl> parsed = SftpUrl::Parse(url);
        EXPECT_TRUE(parsed) << url;
        return SshConnection::For(*parsed)->Use(questions, [&](RemoteFiles& files) {
            return files.List(parsed->path, 2, [&](std::vector<RemoteEntry>&& chunk) {
                EXPECT_LE(chunk.size(), 2u);
                for (RemoteEntry& e : chunk)
                    out[e.name] = e;
                return true;
            });
        });
    }

};

TEST_F(SshConnectionTest, ListsAFolderWithRawNamesSizesKindsAndLinks)
{
    WriteFile(folder + "/plain.txt", "hello");
    WriteFile(folder + "/caf\xe9", "x");
    std::filesystem::create_directory(folder + "/sub");
    ::symlink("sub", (folder + "/to-sub").c_str());
    ::symlink("plain.txt", (folder + "/to-plain").c_str());
    ::symlink("nowhere", (folder + "/dangling").c_str());
    ::chmod((folder + "/plain.txt").c_str(), 0444);
    const auto when = std::filesystem::file_time_type::clock::now() - std::chrono::hours(24 * 400);
    std::filesystem::last_write_time(folder + "/plain.txt", when);

    NoSshQuestions none;
    std::map<std::string, RemoteEntry> entries;
    const RemoteError error = ListNames(server->Url(folder), none, entries);
    ASSERT_FALSE(error) << error.text;
    EXPECT_EQ(entries.count("."), 0u);
    EXPECT_EQ(entries.count(".."), 1u);
    ASSERT_EQ(entries.count("caf\xe9"), 1u) << "names are bytes, not text";
    EXPECT_EQ(entries["plain.txt"].size, 5u);
    EXPECT_EQ(entries["plain.txt"].permissions, 0444u);
    struct stat st;
    ::stat((folder + "/plain.txt").c_str(), &st);
    EXPECT_EQ(entries["plain.txt"].mtime, st.st_mtime);
    EXPECT_TRUE(entries["sub"].directory);
    EXPECT_TRUE(entries["to-sub"].directory && entries["to-sub"].link) << "a link to a folder is entered";
    EXPECT_FALSE(entries["to-plain"].directory);
    EXPECT_EQ(entries["to-plain"].size, 5u) << "a link's size is its target's";
    EXPECT_FALSE(entries["dangling"].directory);
    EXPECT_EQ(entries["dangling"].size, 0u);

    entries.clear();
    const RemoteError missing = ListNames(server->Url(folder + "/absent"), none, entries);
    EXPECT_TRUE(missing);
    EXPECT_NE(missing.text.find("No such"), std::string::npos) << missing.text;
    EXPECT_FALSE(missing.lost) << "a missing folder leaves the connection usable";
}

TEST_F(SshConnectionTest, AnUnknownHostIsAskedAboutWithItsFingerprintAndRememberedWhenTrusted)
{
    server->TrustHostKey(false);
    ScriptedQuestions refuse;
    std::map<std::string, RemoteEntry> entries;
    RemoteError error = ListNames(server->Url(folder), refuse, entries);
    ASSERT_TRUE(error);
    EXPECT_NE(error.text.find("not known"), std::string::npos) << error.text;
    EXPECT_EQ(refuse.fingerprint, server->HostKeyFingerprint());

    ScriptedQuestions trust;
    trust.trustHost = true;
    error = ListNames(server->Url(folder), trust, entries);
    ASSERT_FALSE(error) << error.text;
    EXPECT_EQ(trust.asked.size(), 1u);

    // Remembered: a new connection that may ask nobody gets in.
    SshConnection::For(*SftpUrl::Parse(server->Url("/")))->Disconnect();
    NoSshQuestions none;
    error = ListNames(server->Url(folder), none, entries);
    EXPECT_FALSE(error) << error.text;
}

TEST_F(SshConnectionTest, AChangedHostKeyIsRefusedWithoutAsking)
{
    server->TrustOtherHostKey();
    ScriptedQuestions trust;
    trust.trustHost = true;
    std::map<std::string, RemoteEntry> entries;
    const RemoteError error = ListNames(server->Url(folder), trust, entries);
    ASSERT_TRUE(error);
    EXPECT_NE(error.text.find("has changed"), std::string::npos) << error.text;
    EXPECT_NE(error.text.find("known_hosts"), std::string::npos) << "the user is told where to look";
    EXPECT_TRUE(trust.asked.empty());
    EXPECT_TRUE(entries.empty());
}

TEST_F(SshConnectionTest, AHostAliasOfTheUsersConfigurationGivesHostPortUserAndKey)
{
    const std::string key = server->MakeClientKey("id_alias", "");
    server->AuthorizeKeys({key + ".pub"}); // the default key no longer gets in
    server->AddClientConfig("Host box\n  HostName 127.0.0.1\n  Port " + std::to_string(server->Port()) +
                            "\n  User " + server->User() + "\n  IdentityFile " + key + "\n");
    NoSshQuestions none;
    std::map<std::string, RemoteEntry> entries;
    WriteFile(folder + "/here", "");
    const RemoteError error = ListNames("sftp://box" + folder, none, entries);
    ASSERT_FALSE(error) << error.text;
    EXPECT_EQ(entries.count("here"), 1u);
}

TEST_F(SshConnectionTest, AKeyWithAPassphraseIsUnlockedThroughTheQuestions)
{
    const std::string key = server->MakeClientKey("id_locked", "open sesame");
    ASSERT_FALSE(key.empty());
    server->AuthorizeKeys({key + ".pub"});
    server->AddClientConfig("Host locked\n  HostName 127.0.0.1\n  IdentityFile " + key + "\n");
    const std::string url = "sftp://" + server->User() + "@locked:" + std::to_string(server->Port()) + folder;

    std::map<std::string, RemoteEntry> entries;
    ScriptedQuestions wrong;
    wrong.passphrase = "wrong";
    EXPECT_TRUE(ListNames(url, wrong, entries));
    SshConnection::For(*SftpUrl::Parse(url))->Disconnect();

    ScriptedQuestions right;
    right.passphrase = "open sesame";
    const RemoteError error = ListNames(url, right, entries);
    EXPECT_FALSE(error) << error.text;
    EXPECT_TRUE(std::any_of(right.asked.begin(), right.asked.end(),
                            [](const std::string& q) { return q.rfind("passphrase", 0) == 0; }));
}

TEST_F(SshConnectionTest, AServerThatStopsAnsweringIsCutAfterTheTimeoutAndReachedAgainLater)
{
    NoSshQuestions none;
    std::map<std::string, RemoteEntry> entries;
    ASSERT_FALSE(ListNames(server->Url(folder), none, entries));

    server->StopAnswering();
    const auto start = std::chrono::steady_clock::now();
    const RemoteError error = ListNames(server->Url(folder), none, entries);
    const auto waited = std::chrono::steady_clock::now() - start;
    ASSERT_TRUE(error);
    EXPECT_TRUE(error.notAnswering) << error.text;
    EXPECT_NE(error.text.find("not answering"), std::string::npos) << error.text;
    EXPECT_LT(waited, std::chrono::seconds(6));

    // A new connection to a server that does not answer is cut as well.
    const RemoteError again = ListNames(server->Url(folder), none, entries);
    EXPECT_TRUE(again);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(12));

    server->Answer();
    const RemoteError back = ListNames(server->Url(folder), none, entries);
    EXPECT_FALSE(back) << back.text;
}

TEST_F(SshConnectionTest, ADroppedLinkIsMadeAgainOnTheNextUse)
{
    NoSshQuestions none;
    std::map<std::string, RemoteEntry> entries;
    ASSERT_FALSE(ListNames(server->Url(folder), none, entries));
    server->DropSessions();
    const RemoteError error = ListNames(server->Url(folder), none, entries);
    EXPECT_FALSE(error) << error.text;
}

// Work that changed something before the link went is never run again on
// a new connection: its second run would find the world changed under it
// (a file already stepped aside) and act on that.
TEST_F(SshConnectionTest, WorkThatChangedTheServerIsNotRunAgainWhenTheLinkDrops)
{
    NoSshQuestions none;
    std::map<std::string, RemoteEntry> entries;
    ASSERT_FALSE(ListNames(server->Url(folder), none, entries)); // a connection to reuse
    WriteFile(folder + "/a", "x");
    const std::optional<SftpUrl> url = SftpUrl::Parse(server->Url(folder));
    int runs = 0;
    const RemoteError error = SshConnection::For(*url)->Use(none, [&](RemoteFiles& files) {
        ++runs;
        if (RemoteError renamed = files.Rename(url->path + "/a", url->path + "/b"))
            return renamed;
        server->DropSessions();
        RemoteEntry entry;
        return files.Stat(url->path + "/b", entry);
    });
    EXPECT_TRUE(error);
    EXPECT_EQ(runs, 1);
    EXPECT_TRUE(std::filesystem::exists(folder + "/b"));
}

} // namespace
} // namespace tarnel
