// Remote addresses and the places made of them: what the path box, the
// history and the parent and child folders see, with no server involved.
#include "panes/Place.h"
#include "platform/ssh/SftpUrl.h"
#include "sources/SftpSource.h"

#include <gtest/gtest.h>

namespace tarnel {
namespace {

TEST(SftpPlaceTest, AddressesAreParsedAndBadOnesRefused)
{
    std::optional<SftpUrl> url = SftpUrl::Parse("sftp://me@example.org:2222/home/me");
    ASSERT_TRUE(url);
    EXPECT_EQ(url->user, "me");
    EXPECT_EQ(url->host, "example.org");
    EXPECT_EQ(url->port, 2222);
    EXPECT_EQ(url->path, "/home/me");

    url = SftpUrl::Parse("SFTP://box");
    ASSERT_TRUE(url) << "the scheme in any case; a host alone is its root";
    EXPECT_EQ(url->user, "");
    EXPECT_EQ(url->port, 0);
    EXPECT_EQ(url->path, "/");
    EXPECT_EQ(url->Text(), "sftp://box/");

    url = SftpUrl::Parse("sftp://a@b@[::1]:22//x//y%20z/");
    ASSERT_TRUE(url);
    EXPECT_EQ(url->user, "a@b") << "the last @ ends the user";
    EXPECT_EQ(url->host, "::1");
    EXPECT_EQ(url->path, "/x/y%20z/") << "names are bytes: no escapes, doubled slashes merged";
    EXPECT_EQ(url->Authority(), "sftp://a@b@[::1]:22");

    for (const char* bad : {"sftp://", "sftp:///path", "sftp://@host/", "sftp://host:/", "sftp://host:0/",
                            "sftp://host:65536/", "sftp://host:2x/", "sftp://[::1/", "sftp://[::1]x/", "/sftp://h/",
                            "ftp://host/"})
        EXPECT_FALSE(SftpUrl::Parse(bad)) << bad;
}

TEST(SftpPlaceTest, ARemotePlaceGoesUpToTheHostsRootAndNoFurther)
{
    const PanePlace place = PanePlace::FromPath("sftp://me@host:22//srv//data/");
    EXPECT_STREQ(place.Source(), kSftpSourceName);
    EXPECT_EQ(place.Path, "sftp://me@host:22/srv/data/");
    EXPECT_EQ(place.NameInParent(), "data");

    const PanePlace up = place.Parent();
    EXPECT_EQ(up.Path, "sftp://me@host:22/srv");
    EXPECT_STREQ(up.Source(), kSftpSourceName);
    const PanePlace root = up.Parent();
    EXPECT_EQ(root.Path, "sftp://me@host:22/");
    EXPECT_EQ(root.NameInParent(), "") << "the host is no row of a listing";
    EXPECT_EQ(root.Parent(), root);
    EXPECT_EQ(root.Text(), "sftp://me@host:22/");

    EXPECT_EQ(root.Child("etc").Path, "sftp://me@host:22/etc");
    EXPECT_EQ(root.Child("etc").Parent(), root);
    EXPECT_EQ(PanePlace::FromPath("sftp://host").Parent().Path, "sftp://host/");

    // The disk's places are what they were.
    EXPECT_EQ(PanePlace::FromPath("/usr/share").Parent().Path, "/usr");
    EXPECT_EQ(PanePlace::FromPath("/").Parent().Path, "/");
    EXPECT_EQ(PanePlace::FromPath("/usr/sftp:").Source(), std::string(kLocalSourceName));
}

struct ProblemSink : ListSink {
    std::vector<std::string> problems;
    size_t chunks = 0;
    void Chunk(std::vector<SourceEntry>&&) override { ++chunks; }
    void Problem(const std::string& text) override { problems.push_back(text); }
};

TEST(SftpPlaceTest, AnAddressThatCannotBeParsedListsNothingAndSaysWhy)
{
    const PanePlace place = PanePlace::FromPath("sftp://host:port/x");
    EXPECT_STREQ(place.Source(), kSftpSourceName) << "not a folder of the disk named sftp:";
    ProblemSink sink;
    const CancelToken never;
    SftpSource().List(place, sink, never);
    EXPECT_EQ(sink.chunks, 0u);
    ASSERT_EQ(sink.problems.size(), 1u);
    EXPECT_NE(sink.problems[0].find("sftp://host:port/x"), std::string::npos) << sink.problems[0];
}

} // namespace
} // namespace tarnel
