#include "platform/UriList.h"

#include <gtest/gtest.h>

#include <unistd.h>

using namespace tarnel;

TEST(UriListTest, OddNamesSurviveTheRoundTrip)
{
    const std::vector<std::string> paths = {"/tmp/plain.txt", "/tmp/a b%c#d?e", std::string("/tmp/line\nbreak"),
                                            std::string("/tmp/bad\xff\xfe utf8"), "/tmp/\xc3\xa9t\xc3\xa9",
                                            "/tmp/cr\rlf"};
    const std::string list = FileUriList(paths);
    EXPECT_EQ(list.substr(0, 26), "file:///tmp/plain.txt\r\nfil");
    EXPECT_NE(list.find("file:///tmp/a%20b%25c%23d%3Fe\r\n"), std::string::npos);
    EXPECT_NE(list.find("file:///tmp/line%0Abreak\r\n"), std::string::npos);
    EXPECT_NE(list.find("file:///tmp/bad%FF%FE%20utf8\r\n"), std::string::npos);
    EXPECT_NE(list.find("file:///tmp/%C3%A9t%C3%A9\r\n"), std::string::npos);
    // Every line is plain ASCII with no control characters but its CR LF.
    for (const char c : list)
        EXPECT_TRUE(c == '\r' || c == '\n' || (c > ' ' && c < 127)) << int(c);
    size_t refused = 9;
    EXPECT_EQ(PathsFromUriList(list, &refused), paths);
    EXPECT_EQ(refused, 0u);
}

TEST(UriListTest, WhatOtherProgramsSendIsReadAndTheRestRefused)
{
    char host[256] = "";
    ASSERT_EQ(gethostname(host, sizeof host - 1), 0);
    const std::string text = std::string("# a comment\n") + "file:///home/u/x.txt\n"    // LF alone
                             + "FILE://localhost/home/u/y%20z/\r\n"                     // host, case, slash
                             + "file://" + host + "/home/u/h\r\n"                       // this machine by name
                             + "file:/home/u/short\r\n"                                 // no authority
                             + "  file:///home/u/padded  \r\n\r\n"                      // blanks around
                             + "https://example.com/page\r\n"                           // another scheme
                             + "file://elsewhere.example/home/u/remote\r\n"             // another machine
                             + "file:///home/u/nul%00byte\r\n"                          // a NUL cannot be a name
                             + "file:///home/u/broken%4\r\n"                            // a cut escape
                             + "file:///home/u/query?x=1\r\n"                           // not a file's URI
                             + "file://relative\r\n";
    size_t refused = 0;
    EXPECT_EQ(PathsFromUriList(text, &refused),
              (std::vector<std::string>{"/home/u/x.txt", "/home/u/y z", "/home/u/h", "/home/u/short", "/home/u/padded"}));
    EXPECT_EQ(refused, 6u);
    EXPECT_TRUE(PathsFromUriList("").empty());
}
