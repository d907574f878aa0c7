#include "panes/PaneFixture.h"
#include "widgets/IconCache.h"
#include "widgets/MarkImages.h"

#include <QImage>

#include <gtest/gtest.h>

#include <thread>
#include <vector>

using namespace tarnel;
using tarnel::test::PaneFixture;

namespace {

TEST(IconCache, KeysAreStableAndShared)
{
    IconCache cache;
    const int a = cache.KeyForName(QStringLiteral("text-x-generic"));
    const int b = cache.KeyForName(QStringLiteral("image-png"));
    EXPECT_GE(a, 1);
    EXPECT_NE(a, b);
    EXPECT_EQ(cache.KeyForName(QStringLiteral("text-x-generic")), a);
    EXPECT_NE(cache.KeyForNames({QStringLiteral("text-x-generic")}, IconFallback::Folder), a)
        << "a different fallback is a different picture";

    // The icon thread asks for keys while painting does.
    std::vector<int> seen(4);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&cache, &seen, t] {
            for (int i = 0; i < 200; ++i)
                cache.KeyForName(QStringLiteral("icon-%1").arg(i));
            seen[size_t(t)] = cache.KeyForName(QStringLiteral("icon-7"));
        });
    for (std::thread& t : threads)
        t.join();
    for (int key : seen)
        EXPECT_EQ(key, seen[0]);
    EXPECT_EQ(cache.KeyForName(QStringLiteral("icon-199")) - a, 202) << "every name got exactly one key";
}

TEST(IconCache, SomethingAlwaysDraws)
{
    IconCache cache;
    EXPECT_TRUE(cache.IconForKey(0).isNull());
    EXPECT_TRUE(cache.IconForKey(99).isNull()) << "never handed out";
    const int missing = cache.KeyForName(QStringLiteral("tarnel-no-such-icon-anywhere"));
    for (int key : {missing, cache.FolderKey(), cache.DriveKey(DriveType::Removable),
                    cache.DriveKey(DriveType::Network), cache.DriveKey(DriveType::CdRom)}) {
        const QIcon icon = cache.IconForKey(key);
        ASSERT_FALSE(icon.isNull()) << key;
        EXPECT_FALSE(icon.pixmap(16, 16).isNull()) << key;
    }
    cache.ClearPictures();
    EXPECT_FALSE(cache.IconForKey(missing).isNull()) << "keys outlive the pictures";
}

TEST(IconCache, EntryRule)
{
    PaneFixture f;
    f.pane.Path = "/data/";
    const TFileData& up = f.Add(fkDirectory, "..");
    const TFileData& dir = f.Add(fkDirectory, "photos.png"); // a folder, whatever its name
    const TFileData& txt1 = f.Add(fkFile, "a.txt");
    const TFileData& txt2 = f.Add(fkFile, "B.TXT");
    const TFileData& png = f.Add(fkFile, "c.png");
    const TFileData& odd = f.Add(fkFile, "\xff\xfe.txt");
    const TFileData& drive = f.Add(fkDrive, "/media/x");

    IconCache& icons = Icons();
    const int folder = icons.FolderKey();
    EXPECT_EQ(IconKeyForEntry(f.pane, up, nullptr), folder);
    EXPECT_EQ(IconKeyForEntry(f.pane, dir, nullptr), folder);
    const int text = IconKeyForEntry(f.pane, txt1, nullptr);
    EXPECT_LT(text, 0) << "a file's key stays provisional until its row shows";
    EXPECT_EQ(IconKeyForEntry(f.pane, txt2, nullptr), text);
    EXPECT_EQ(IconKeyForEntry(f.pane, odd, nullptr), text);
    EXPECT_NE(IconKeyForEntry(f.pane, png, nullptr), text);
    EXPECT_NE(text, folder);

    Volume vol;
    for (DriveType type : {DriveType::Fixed, DriveType::Removable, DriveType::Network, DriveType::CdRom,
                           DriveType::RamDisk}) {
        vol.type = type;
        EXPECT_EQ(IconKeyForEntry(f.pane, drive, &vol), icons.DriveKey(type));
    }
    EXPECT_EQ(icons.DriveKey(DriveType::RamDisk), icons.DriveKey(DriveType::Fixed));
    EXPECT_NE(icons.DriveKey(DriveType::Removable), icons.DriveKey(DriveType::Fixed));

    // Inside an archive: same rule, nothing is read from disk.
    f.pane.ZipMode = 1;
    f.pane.Path = "/data/archive.zip/";
    EXPECT_EQ(IconKeyForEntry(f.pane, up, nullptr), folder);
    EXPECT_EQ(IconKeyForEntry(f.pane, txt1, nullptr), -text) << "final there: no file to look at";
}

TEST(MarkImages, SizesAndRange)
{
    for (int i = kHiddenMark; i <= kReadOnlyMark; ++i) {
        const QPixmap& pm = ListMark(i);
        ASSERT_FALSE(pm.isNull()) << i;
        EXPECT_EQ(pm.deviceIndependentSize().toSize(), QSize(16, 16)) << i;
    }
    for (int i = kAscendingMarker; i <= kPressedAscendingMarker; ++i) {
        const QPixmap& pm = HeaderMark(i);
        ASSERT_FALSE(pm.isNull()) << i;
        EXPECT_EQ(pm.deviceIndependentSize().toSize(), QSize(12, 12)) << i;
    }
    EXPECT_TRUE(ListMark(0).isNull());
    EXPECT_TRUE(ListMark(4).isNull());
    EXPECT_TRUE(HeaderMark(-1).isNull());
    EXPECT_TRUE(HeaderMark(4).isNull());
    EXPECT_EQ(&ListMark(kHiddenMark), &ListMark(kHiddenMark)) << "drawn once";

    // Four distinguishable markers.
    std::vector<QImage> images;
    for (int i = kAscendingMarker; i <= kPressedAscendingMarker; ++i)
        images.push_back(HeaderMark(i).toImage());
    for (size_t i = 0; i < images.size(); ++i)
        for (size_t j = i + 1; j < images.size(); ++j)
            EXPECT_NE(images[i], images[j]) << i << " vs " << j;
}

} // namespace
