// Names with bytes that are not UTF-8 cross a text box unchanged.
#include "widgets/NameText.h"

#include <gtest/gtest.h>

using namespace tarnel;

TEST(NameText, EveryNameComesBackByteForByte)
{
    const std::string names[] = {
        "plain.txt",
        "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80.txt", // two-, three- and four-byte characters
        "caf\xe9.txt",                                   // Latin-1
        "\xff\xfe\x80",                                  // no lead byte at all
        "\xc3",                                          // a sequence cut at the end
        "\xe2\x82.x",                                    // cut in the middle
        "\xc0\xaf",                                      // overlong "/"
        "\xed\xb2\x80",                                  // a surrogate spelled in UTF-8: must not alias an escape
        "\xf4\x90\x80\x80",                              // beyond U+10FFFF
        std::string("a\0b", 3),
    };
    for (const std::string& name : names)
        EXPECT_EQ(EditTextToName(NameToEditText(name)), name) << name;
}

TEST(NameText, ValidTextIsShownAsItsCharactersAndBadBytesOnePerByte)
{
    EXPECT_EQ(NameToEditText("caf\xc3\xa9"), QString::fromUtf8("caf\xc3\xa9"));
    const QString shown = NameToEditText("a\xe9z");
    ASSERT_EQ(shown.size(), 3);
    EXPECT_EQ(shown[1].unicode(), 0xDCE9);
    // A name typed in the box is plain UTF-8.
    EXPECT_EQ(EditTextToName(QString::fromUtf8("new \xe2\x82\xac")), "new \xe2\x82\xac");
    // A stray high surrogate has no byte of its own.
    EXPECT_EQ(EditTextToName(QString(QChar(0xD800)) + "x"), "\xef\xbf\xbdx");
}
