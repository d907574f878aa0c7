#include "panes/PaneFixture.h"
#include "panes/TempTree.h"
#include "platform/DirectoryReader.h"
#include "widgets/IconCache.h"
#include "widgets/MarkImages.h"
#include "widgets/MimeIconResolver.h"
#include "widgets/RowPainter.h"
#include "app/TryWait.h"

#include <QFont>
#include <QFontMetrics>
#include <QImage>
#include <QMimeDatabase>
#include <QPainter>
#include <QTest>

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <unistd.h>

using namespace tarnel;
using tarnel::test::PaneFixture;

namespace {

const SectionWidths kWide{300, 200, 200, 600};

QFont ListFont()
{
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(11);
    return font;
}

struct RowPainterTest : ::testing::Test {
    PaneFixture f;
    QFontMetrics fm{ListFont()};
    DisplayLocale locale; // "," thousands, "." decimals, dd/MM/yyyy: independent of the test machine
    DisplayOptions options;

    RowPainterTest() { f.pane.Path = "/data/"; }

    RowTexts Texts(int row, const SectionWidths& widths = kWide, const Volume* drive = nullptr,
                   bool driveShown = false)
    {
        return ComputeRowTexts(f.pane, row, widths, fm, locale, options, drive, driveShown);
    }
};

TEST_F(RowPainterTest, SizeColumnUnits)
{
    const std::pair<int64_t, const char*> cases[] = {
        {1024, "1,024"}, {1025, "1 KB"}, {1048576, "1,024 KB"}, {1048577, "1 MB"}};
    for (const auto& [bytes, text] : cases) {
        f.Add(fkFile, "f" + std::to_string(bytes), bytes);
        EXPECT_EQ(Texts(f.pane.Count - 1).size, QString::fromLatin1(text)) << bytes;
    }
}

TEST_F(RowPainterTest, DirectorySizes)
{
    TFileData& measuring = f.Add(fkDirectory, "measuring", -1);
    TFileData& measured = f.Add(fkDirectory, "measured", 2048);
    measured.UsedBytes = 8192;
    measured.SizeDone = 1;
    TFileData& file = f.Add(fkFile, "file", 3072);
    file.UsedBytes = 4096;

    EXPECT_EQ(Texts(0).size, "");
    EXPECT_EQ(Texts(1).size, "2 KB");
    options.ShowBigSize = true;
    EXPECT_EQ(Texts(0).size, "");
    EXPECT_EQ(Texts(1).size, "8 KB");
    EXPECT_EQ(Texts(2).size, "3 KB") << "files always show their length";
    measured.SizeDone = 0; // total remembered, not yet walked again: the space used is unknown
    EXPECT_EQ(Texts(1).size, "");
    (void)measuring;
}

TEST_F(RowPainterTest, TimeColumn)
{
    f.Add(fkFile, "dated", 1, int32_t(PackDosTime(2024, 3, 7, 9, 5, 30)));
    f.Add(fkFile, "undated", 1, 0);
    EXPECT_EQ(Texts(0).time, "07/03/2024 09:05");
    EXPECT_EQ(Texts(1).time, "<invalid date>");
}

TEST_F(RowPainterTest, DriveRowsShowOnlyTheirSpace)
{
    TFileData& d = f.Add(fkDrive, "/media/stick", 0, int32_t(PackDosTime(2024, 3, 7, 9, 5, 30)), "label");
    d.Attr = 3;
    Volume vol;
    // statvfs fails: 0/0, once the volume's worker has answered; painting
    // never waits for it.
    vol.root = "/nonexistent/tarnel-test-volume-" + std::to_string(getpid());
    vol.type = DriveType::Fixed;
    EXPECT_EQ(Texts(0, kWide, &vol, false).size, "?");
    TRY_COMPARE(Texts(0, kWide, &vol, false).size, QString("0/0"));
    for (DriveType type : {DriveType::Fixed, DriveType::CdRom, DriveType::RamDisk}) {
        vol.type = type;
        const RowTexts t = Texts(0, kWide, &vol, false);
        EXPECT_EQ(t.size, "0/0") << int(type);
        EXPECT_EQ(t.time, "");
        EXPECT_EQ(t.description, "");
        EXPECT_FALSE(t.hiddenMark || t.readOnlyMark || t.viewableMark);
    }
    for (DriveType type : {DriveType::Removable, DriveType::Network}) {
        vol.type = type;
        EXPECT_EQ(Texts(0, kWide, &vol, false).size, "") << int(type);
        EXPECT_EQ(Texts(0, kWide, &vol, true).size, "0/0") << int(type);
    }
    EXPECT_EQ(Texts(0, kWide, nullptr, true).size, "");
    EXPECT_EQ(Texts(0).name, "/media/stick");
}

TEST_F(RowPainterTest, LongTextsAreShortenedAtTheRightEnd)
{
    const std::string longName = "a_rather_long_file_name_that_cannot_fit.txt";
    const std::string longDesc = "a description much longer than its narrow column";
    f.Add(fkFile, longName, int64_t(123456789012), int32_t(PackDosTime(2024, 3, 7, 9, 5, 30)), longDesc);
    const SectionWidths narrow{90, 45, 50, 110};
    const RowTexts t = Texts(0, narrow);

    EXPECT_TRUE(t.name.endsWith("...")) << t.name.toStdString();
    EXPECT_TRUE(QString::fromStdString(longName).startsWith(t.name.chopped(3)));
    EXPECT_LE(fm.horizontalAdvance(t.name), narrow[0] - 18);

    EXPECT_TRUE(t.size.startsWith("...")) << t.size.toStdString();
    EXPECT_TRUE(t.size.endsWith(" MB"));
    EXPECT_LE(fm.horizontalAdvance(t.size), narrow[1] - 3);

    EXPECT_TRUE(t.time.startsWith("...")) << t.time.toStdString();
    EXPECT_TRUE(t.time.endsWith("09:05"));
    EXPECT_LE(fm.horizontalAdvance(t.time), narrow[2] - 3);

    EXPECT_FALSE(t.description.startsWith(".")) << "descriptions lose their start without a marker";
    EXPECT_FALSE(t.description.isEmpty());
    EXPECT_TRUE(QString::fromStdString(longDesc).endsWith(t.description));
    EXPECT_LE(fm.horizontalAdvance(t.description), narrow[3] - t.descriptionOffset - 3);
}

TEST_F(RowPainterTest, DescriptionOffsetAndMarks)
{
    f.Add(fkDirectory, "..");
    f.Add(fkDirectory, "folder.txt"); // viewer extensions mark files only
    f.Add(fkFile, "notes.txt");
    f.Add(fkFile, "data.bin").Attr = 2;
    f.Add(fkFile, "locked.bin").Attr = 1;
    f.Add(fkFile, "both.TXT").Attr = 3;

    options.ShowSupported = true;
    options.ShowAttrs = true;
    struct Expect {
        int offset;
        bool viewable, hidden, readOnly;
    };
    const Expect withBoth[] = {{16, false, false, false}, {16, false, false, false}, {16, true, false, false},
                               {32, false, true, false},  {32, false, false, true},  {48, true, true, true}};
    for (int row = 0; row < f.pane.Count; ++row) {
        const RowTexts t = Texts(row);
        const Expect& e = withBoth[row];
        EXPECT_EQ(t.descriptionOffset, e.offset) << row;
        EXPECT_EQ(t.viewableMark, e.viewable) << row;
        EXPECT_EQ(t.hiddenMark, e.hidden) << row;
        EXPECT_EQ(t.readOnlyMark, e.readOnly) << row;
    }

    options.ShowAttrs = false;
    EXPECT_EQ(Texts(5).descriptionOffset, 16);
    EXPECT_FALSE(Texts(5).hiddenMark || Texts(5).readOnlyMark);
    EXPECT_TRUE(Texts(5).viewableMark);

    options.ShowSupported = false;
    options.ShowAttrs = true;
    EXPECT_EQ(Texts(2).descriptionOffset, 0);
    EXPECT_FALSE(Texts(2).viewableMark);
    EXPECT_EQ(Texts(5).descriptionOffset, 32);
}

TEST_F(RowPainterTest, NonUtf8NamePaintsReplacementButKeepsBytes)
{
    const std::string bytes = "caf\xe9\xff.txt";
    TFileData& e = f.Add(fkFile, bytes, 1, 0, "d\xe9j\xe0");
    const RowTexts t = Texts(0);
    EXPECT_TRUE(t.name.contains(QChar(0xFFFD))) << t.name.toStdString();
    EXPECT_TRUE(t.name.startsWith("caf"));
    EXPECT_TRUE(t.name.endsWith(".txt"));
    EXPECT_TRUE(t.description.contains(QChar(0xFFFD)));
    EXPECT_EQ(e.Name, bytes);

    const RowTexts cut = Texts(0, {40, 50, 80, 100});
    EXPECT_TRUE(cut.name.endsWith("..."));
    EXPECT_EQ(e.Name, bytes);
}

TEST(ColumnRect, SectionsOneInsideTheirEdges)
{
    const SectionWidths w{100, 50, 80, 5000};
    const QRect row(-20, 34, 5230, 17); // scrolled horizontally
    EXPECT_EQ(ColumnRect(row, w, 0), QRect(QPoint(-19, 34), QPoint(79, 50)));
    EXPECT_EQ(ColumnRect(row, w, 1), QRect(QPoint(81, 34), QPoint(129, 50)));
    EXPECT_EQ(ColumnRect(row, w, 3), QRect(QPoint(211, 34), QPoint(5209, 50)));
}

// --- painting ------------------------------------------------------------

bool HasInk(const QImage& image, const QRect& area, QRgb background)
{
    const QRect r = area.intersected(image.rect());
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x)
            if (image.pixel(x, y) != background)
                return true;
    return false;
}

TEST_F(RowPainterTest, PaintsIconForEveryRowKind)
{
    DriveList drives(1);
    drives[0].root = "/nonexistent/tarnel-test-volume";
    drives[0].type = DriveType::Fixed;
    f.drives = drives;
    f.Add(fkDirectory, "..");
    f.Add(fkDirectory, "sub", 4096, int32_t(PackDosTime(2024, 3, 7, 9, 5, 30)));
    f.Add(fkFile, "notes.txt", 10, 0, "text").Attr = 3;
    f.Add(fkDrive, drives[0].root);

    RowPaintContext ctx;
    ctx.locale = &locale;
    ctx.sectionWidths = {120, 60, 100, 200};
    ctx.palette.setColor(QPalette::Highlight, QColor(0, 0, 128));
    ctx.palette.setColor(QPalette::HighlightedText, QColor(255, 255, 255));
    ctx.palette.setColor(QPalette::Text, QColor(0, 0, 0));
    for (int row = 0; row < f.pane.Count; ++row) {
        ctx.selected = row == 1; // the caller fills the selection colour; the text must show on it
        const QRgb background = ctx.selected ? qRgb(0, 0, 128) : qRgb(255, 255, 255);
        QImage image(480, kRowHeight, QImage::Format_RGB32);
        image.fill(background);
        {
            QPainter p(&image);
            p.setFont(ListFont());
            ctx.drive = DriveOfRow(f.pane, row);
            PaintRow(p, QRect(0, 0, image.width(), kRowHeight), f.pane, row, ctx);
        }
        EXPECT_NE(f.pane.Item(row).Icon.load(), 0) << row;
        EXPECT_TRUE(HasInk(image, QRect(0, 0, kRowIconSize, kRowIconSize), background)) << "icon, row " << row;
        EXPECT_TRUE(HasInk(image, QRect(kRowIconSize + 2, 0, 40, kRowHeight), background)) << "name, row " << row;
    }
    EXPECT_EQ(DriveOfRow(f.pane, 3), &f.drives[0]);
    EXPECT_EQ(DriveOfRow(f.pane, 2), nullptr);
}

TEST_F(RowPainterTest, MarksSitBeforeTheDescription)
{
    f.Add(fkFile, "data.bin", 1, 0, "").Attr = 2 | 1; // not a viewer type: first mark cell stays empty
    RowPaintContext ctx;
    ctx.locale = &locale;
    ctx.sectionWidths = {100, 50, 80, 200};
    QImage image(500, kRowHeight, QImage::Format_RGB32);
    const QRgb white = qRgb(255, 255, 255);
    image.fill(white);
    {
        QPainter p(&image);
        PaintRow(p, image.rect(), f.pane, 0, ctx);
    }
    const int left = ColumnRect(image.rect(), ctx.sectionWidths, 3).left();
    EXPECT_FALSE(HasInk(image, QRect(left, 0, 16, kRowHeight), white));
    EXPECT_TRUE(HasInk(image, QRect(left + 16, 0, 16, kRowHeight), white)) << "hidden mark";
    EXPECT_TRUE(HasInk(image, QRect(left + 32, 0, 16, kRowHeight), white)) << "read-only mark";
    EXPECT_FALSE(HasInk(image, QRect(left + 48, 0, 100, kRowHeight), white));
}

TEST(IsDriveShown, EitherPaneOnTheVolume)
{
    const std::vector<MountInfoLine> mounts = {{"/", "ext4", "/dev/sda1"},
                                               {"/media/usb", "vfat", "/dev/sdb1"},
                                               {"/mnt/share", "nfs4", "server:/share"}};
    Volume usb;
    usb.root = "/media/usb";
    EXPECT_TRUE(IsDriveShown(usb, "/media/usb/", "/home/me/", mounts));
    EXPECT_TRUE(IsDriveShown(usb, "/home/me/", "/media/usb/docs/", mounts));
    EXPECT_TRUE(IsDriveShown(usb, "/media/usb/photos.zip/", "/", mounts)); // inside an archive on the stick
    EXPECT_FALSE(IsDriveShown(usb, "/home/me/", "/mnt/share/", mounts));
    EXPECT_FALSE(IsDriveShown(usb, "/media/usbstick/", "/media/", mounts)); // name boundary

    Volume root;
    root.root = "/";
    EXPECT_TRUE(IsDriveShown(root, "/mnt/share/", "/home/", mounts));
    EXPECT_FALSE(IsDriveShown(root, "/mnt/share/", "/media/usb/", mounts));
    EXPECT_FALSE(IsDriveShown(root, "", "", mounts)) << "panes not yet read";
}

} // namespace

namespace {

// A folder of files whose names say nothing: only the rows painted are
// looked at, and they take the type their content gives.
TEST(RowIcons, OnlyPaintedFilesAreLookedAtAndTakeTheirContentsType)
{
    test::TempTree tree;
    PaneFixture f;
    f.pane.Path = tree.Path();
    const std::string pdf = "%PDF-1.4\n%\xe2\xe3\xcf\xd3\n1 0 obj\n<< /Type /Catalog >>\nendobj\n";
    constexpr int kFiles = 200, kPainted = 12;
    for (int i = 0; i < kFiles; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "scan%03d", i);
        std::ofstream(tree.Path() + name, std::ios::binary) << pdf;
        f.Add(fkFile, name, int64_t(pdf.size()), 5);
    }
    const int pdfKey = Icons().KeyForMimeType(QMimeDatabase().mimeTypeForName("application/pdf"));
    const int before = ContentLooks::Instance().LooksDone();

    const auto paintShownRows = [&] {
        QImage image(400, kRowHeight, QImage::Format_RGB32);
        QPainter p(&image);
        RowPaintContext ctx;
        ctx.sectionWidths = {120, 60, 100, 100};
        for (int row = 0; row < kPainted; ++row)
            PaintRow(p, QRect(0, 0, image.width(), kRowHeight), f.pane, row, ctx);
    };
    paintShownRows();
    for (int row = 0; row < kPainted; ++row)
        EXPECT_LT(f.pane.Item(row).Icon.load(), 0) << "by name until looked at";
    TRY_VERIFY([&] {
        paintShownRows(); // as the repaint after each answer does
        for (int row = 0; row < kPainted; ++row)
            if (f.pane.Item(row).Icon.load() != pdfKey)
                return false;
        return true;
    }());
    EXPECT_EQ(ContentLooks::Instance().LooksDone() - before, kPainted);
    for (int row = kPainted; row < kFiles; ++row)
        EXPECT_EQ(f.pane.Item(row).Icon.load(), 0) << "never shown, never touched";
}

} // namespace
