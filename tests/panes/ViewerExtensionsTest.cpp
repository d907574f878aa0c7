// The table of extensions the viewer takes over.
#include "panes/ViewerExtensions.h"

#include <gtest/gtest.h>

using namespace tarnel;

TEST(ViewerExtensionTable, OlderEntriesKeepTheirPlacesAndLaterBuiltInsFollowThem)
{
    ViewerExtensionTable table;
    std::vector<std::string> exts;
    for (const ViewerExtension& e : table.Entries())
        exts.push_back(e.Ext + (e.BuiltIn ? "b" : ""));
    const std::vector<std::string> first13 = {".BMPb", ".GIFb", ".JPGb", ".WAVb", ".AVIb", ".MIDb", ".TXTb",
                                              ".VOXb", ".RARb", ".DIZ",  ".NFO",  ".INF",  ".INI"};
    ASSERT_GT(exts.size(), first13.size());
    EXPECT_EQ(std::vector<std::string>(exts.begin(), exts.begin() + 13), first13);
    for (const char* name : {"x.png", "x.WEBP", "x.Svg", "x.tif", "x.tiff", "x.ico", "x.xpm", "x.mp3", "x.ogg",
                             "x.flac", "x.opus", "x.mp4", "x.mkv", "x.webm"})
        EXPECT_TRUE(table.Accepts(name)) << name;
    for (size_t i = 13; i < table.Entries().size(); ++i)
        EXPECT_TRUE(table.Entries()[i].BuiltIn) << table.Entries()[i].Ext;
    EXPECT_FALSE(table.Accepts("x.pngx"));

    // A table full of custom entries as it could be stored before still fits.
    const size_t oldCustomRoom = 50 - 13;
    for (size_t i = 0; i < oldCustomRoom; ++i)
        EXPECT_TRUE(table.Add(".C" + std::to_string(i))) << i;
    table.Entries()[13].Enabled = false;
    EXPECT_FALSE(table.Accepts("x.png")) << "a cleared built-in is no longer taken";
}
