// The packed, image and vox pages: in the real window where the page reaches
// the window (status bar, active pane), on their own otherwise.
#include "app/MainWindow.h"
#include "app/PaneReads.h"
#include "app/RecordedMessages.h"
#include "app/components/TestEnvironment.h"
#include "panes/TempTree.h"
#include "viewer/EnhWaveOut.h"
#include "viewer/ImagePage.h"
#include "viewer/PackedPage.h"
#include "viewer/SelectDirDialog.h"
#include "viewer/ViewerHost.h"
#include "viewer/VoxPage.h"
#include "viewer/model/ImageTestFiles.h"
#include "viewer/model/RarTestArchives.h"
#include "widgets/PaneView.h"

#include <QApplication>
#include <QBuffer>
#include <QImageReader>
#include <QImageWriter>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QAudioDevice>
#include <QMediaDevices>
#include <QPushButton>
#include <QRadioButton>
#include <QStatusBar>
#include <QTabWidget>
#include <QTest>
#include <QToolButton>
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace tarnel;
namespace fs = std::filesystem;
using test::Rar4Builder;
using test::Rar5Builder;
using test::Rar5Member;
using test::RarMember;

namespace {

QStringList Lines(QListWidget* list)
{
    QStringList lines;
    for (int i = 0; i < list->count(); ++i)
        lines << list->item(i)->text();
    return lines;
}

// Message boxes shown under the busy cursor look like a hang: each warning
// notes whether the cursor was still busy.
struct CursorCheckingMessages : test::RecordedMessages {
    int underBusyCursor = 0;
    void Warning(const QString& t) override
    {
        if (QGuiApplication::overrideCursor())
            ++underBusyCursor;
        RecordedMessages::Warning(t);
    }
};

// Writes past the limit fail (EFBIG) as on a full disk, for this process
// only and only in this scope.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        old_ = std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &saved_);
        rlimit limit = saved_;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, old_);
    }

private:
    rlimit saved_{};
    void (*old_)(int) = nullptr;
};

class PackedPageTest : public ::testing::Test {
protected:
    std::string root;
    EnvGuard env;
    std::unique_ptr<MainWindow> window;
    CursorCheckingMessages* messages = nullptr;
    QStringList statusTexts;

    void SetUp() override
    {
        char tmpl[] = "/tmp/tarnel-packed-XXXXXX";
        root = mkdtemp(tmpl);
        fs::create_directories(root + "/run");
        chmod((root + "/run").c_str(), 0700);
        env.Set("XDG_RUNTIME_DIR", root + "/run");
        fs::create_directories(root + "/left");
        fs::create_directories(root + "/right");
        Rar4Builder good;
        good.File("a.txt", std::string(1234, 'a')).Directory("docs").File("docs/b.txt", "bee\n");
        good.Write(root + "/left/good.rar");
        Rar4Builder().Write(root + "/left/empty.rar");
        Rar4Builder evil;
        evil.File("../escape.txt", "out").File("/tmp/tarnel-absolute-member", "abs").File("kept.txt", "in");
        evil.Write(root + "/left/evil.rar");
        Rar4Builder damaged;
        damaged.File("first.txt", "one");
        damaged.Add(RarMember{"second.txt", std::string(300, 'x'), false, false, 0, true});
        damaged.Write(root + "/left/crc.rar");
        const std::string whole = good.Bytes(false);
        std::ofstream(root + "/left/cut.rar", std::ios::binary) << whole.substr(0, whole.size() - 2);
    }
    void TearDown() override
    {
        window.reset();
        fs::remove_all(root);
    }
    void Open()
    {
        StartOptions options;
        options.independent = true;
        options.leftDir = root + "/left";
        options.rightDir = root + "/right";
        window = std::make_unique<MainWindow>(options, nullptr);
        auto recorded = std::make_unique<CursorCheckingMessages>();
        messages = recorded.get();
        window->SetMessages(std::move(recorded));
        window->resize(1000, 600);
        window->show();
        QApplication::processEvents();
        test::WaitForReads(*window);
        QObject::connect(window->statusBar(), &QStatusBar::messageChanged,
                         [this](const QString& text) { statusTexts << text; });
    }
    PaneView* Left() { return window->LeftPane(); }
    PackedPage* Page() { return window->Viewer()->Pages().packed; }
    int Row(PaneView* pane, const std::string& name)
    {
        EXPECT_TRUE(test::PaneRead(pane->Data())) << "the pane's read did not finish";
        for (int i = 0; i < pane->Data().Count; ++i)
            if (pane->Data().Item(i).Name == name)
                return i;
        return -1;
    }
    // What the cursor reaching the entry does with the viewer on.
    void View(const std::string& name)
    {
        Left()->List()->setFocus();
        Left()->SetCurrentRow(Row(Left(), name));
        window->Viewer()->ShowEntryInViewer(Left(), Left()->Data().Path, Row(Left(), name), false, false);
        ASSERT_TRUE(QTest::qWaitFor([&] { return !window->Viewer()->Reading(); }, 10000)) << "never read";
        ASSERT_EQ(window->Viewer()->CurrentPage(), ViewerPageKind::Packed);
    }
    // Answers the directory dialog by typing into its edit and pressing OK.
    void ExtractInto(const std::string& directory, QString* shownFirst = nullptr)
    {
        Page()->SetDialogRunner([&](TDlgSelectDir& dialog) {
            dialog.show();
            if (shownFirst)
                *shownFirst = dialog.DirectoryEdit()->text();
            dialog.DirectoryEdit()->clear();
            QTest::keyClicks(dialog.DirectoryEdit(), QString::fromStdString(directory));
            QTest::mouseClick(dialog.OkButton(), Qt::LeftButton);
            return dialog.result();
        });
        QTest::mouseClick(Page()->ExtractButton(), Qt::LeftButton);
        test::WaitForOperations(*window); // the walk runs on the window's runner
    }
    void TestArchive()
    {
        QTest::mouseClick(Page()->TestButton(), Qt::LeftButton);
        test::WaitForOperations(*window);
    }
};

} // namespace

TEST_F(PackedPageTest, ListsTestsAndExtractsWithProgressInTheStatusBar)
{
    Open();
    View("good.rar");
    EXPECT_EQ(Lines(Page()->List()),
              QStringList({"000001234 - a.txt", "docs", "000000004 - docs/b.txt", "Total unpacked size : 1,238 bytes"}));
    ASSERT_TRUE(Page()->TestButton()->isEnabled());
    ASSERT_TRUE(Page()->ExtractButton()->isEnabled());

    TestArchive();
    EXPECT_TRUE(statusTexts.contains("Testing good.rar : a.txt"));
    EXPECT_TRUE(statusTexts.contains("good.rar : docs/b.txt verified OK!"));
    EXPECT_EQ(window->StatusText(), "Archive tested ok!");
    EXPECT_TRUE(messages->log.isEmpty()) << messages->log.join("\n").toStdString();

    statusTexts.clear();
    QString offered;
    ExtractInto(root + "/left/out/new", &offered);
    EXPECT_EQ(offered, QString::fromStdString(root + "/left/")) << "the dialog starts on the active pane";
    EXPECT_TRUE(statusTexts.contains("Extracting good.rar : docs/b.txt"));
    EXPECT_TRUE(statusTexts.contains("good.rar : a.txt extracted OK!"));
    EXPECT_EQ(window->StatusText(), "Archive extracted ok!");
    EXPECT_EQ(fs::file_size(root + "/left/out/new/a.txt"), 1234u);
    EXPECT_TRUE(fs::is_directory(root + "/left/out/new/docs"));
    EXPECT_GE(Row(Left(), "out"), 0) << "a destination below the pane's directory re-reads the pane";
}

TEST_F(PackedPageTest, ExtractingElsewhereLeavesThePaneAlone)
{
    Open();
    View("good.rar");
    std::ofstream(root + "/left/later.txt") << "made after the pane was read";
    ExtractInto(root + "/right/x");
    EXPECT_TRUE(fs::exists(root + "/right/x/a.txt"));
    EXPECT_LT(Row(Left(), "later.txt"), 0);

    Page()->SetDialogRunner([](TDlgSelectDir&) { return int(QDialog::Rejected); });
    QTest::mouseClick(Page()->ExtractButton(), Qt::LeftButton);
    EXPECT_EQ(window->StatusText(), "Archive extracted ok!") << "a cancelled dialog extracts nothing";
}

TEST_F(PackedPageTest, NamesThatClimbOutAreRefusedAndTheRestIsExtracted)
{
    Open();
    View("evil.rar");
    ExtractInto(root + "/right/dest");
    EXPECT_TRUE(fs::exists(root + "/right/dest/kept.txt"));
    EXPECT_FALSE(fs::exists(root + "/right/escape.txt"));
    EXPECT_FALSE(fs::exists("/tmp/tarnel-absolute-member"));
    ASSERT_EQ(messages->log.size(), 1);
    EXPECT_TRUE(messages->log[0].startsWith("warning: These members were not extracted"));
    EXPECT_TRUE(messages->log[0].contains("../escape.txt"));
    EXPECT_TRUE(messages->log[0].contains("/tmp/tarnel-absolute-member"));
    EXPECT_NE(window->StatusText(), "Archive extracted ok!");
}

TEST_F(PackedPageTest, DamagedArchivesWarnAndAFailedMemberLeavesNoFile)
{
    Open();
    View("crc.rar");
    ASSERT_TRUE(Page()->ExtractButton()->isEnabled()) << "listing does not read the data";
    ExtractInto(root + "/right/crc");
    EXPECT_TRUE(messages->log.contains("warning: Bad archive while extracting"));
    EXPECT_TRUE(fs::exists(root + "/right/crc/first.txt"));
    EXPECT_FALSE(fs::exists(root + "/right/crc/second.txt")) << "no partial file under the member's name";
    EXPECT_TRUE(statusTexts.last().contains("second.txt not extracted"));
    for (const auto& e : fs::directory_iterator(root + "/right/crc"))
        EXPECT_EQ(e.path().filename(), "first.txt") << "no temporary left behind";

    messages->log.clear();
    TestArchive();
    EXPECT_EQ(messages->log, QStringList({"warning: Bad archive while testing archive"}));

    QTest::keyClick(Left()->List(), Qt::Key_Down); // cut.rar
    ASSERT_EQ(Left()->Data().Item(Left()->CurrentRow()).Name, "cut.rar");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window->Viewer()->Reading(); }, 10000)) << "never read";
    const QStringList cut = Lines(Page()->List());
    ASSERT_GE(cut.size(), 2);
    EXPECT_TRUE(cut[0].startsWith("WARNING : ")) << cut.join("|").toStdString();
    EXPECT_FALSE(Page()->TestButton()->isEnabled());

    View("empty.rar");
    EXPECT_EQ(Lines(Page()->List()), QStringList({"WARNING : bad or corrupted archive!", "Total unpacked size : 0 bytes"}));
    EXPECT_FALSE(Page()->TestButton()->isEnabled());
    EXPECT_FALSE(Page()->ExtractButton()->isEnabled());
    EXPECT_EQ(messages->underBusyCursor, 0) << "the cursor is restored before a message box";
}

TEST_F(PackedPageTest, AFullDiskIsReportedAndNeverTakenForSuccess)
{
    Rar4Builder big;
    big.File("small.txt", "fits").File("large.bin", std::string(256 * 1024, 'L')).File("after.txt", "z");
    big.Write(root + "/left/big.rar");
    Open();
    View("big.rar");
    {
        FileSizeLimit full(64 * 1024);
        ExtractInto(root + "/right/full");
    }
    ASSERT_EQ(messages->log.size(), 1) << messages->log.join("\n").toStdString();
    EXPECT_TRUE(messages->log[0].startsWith("warning: Could not write large.bin into " + QString::fromStdString(root)))
        << messages->log[0].toStdString();
    EXPECT_NE(window->StatusText(), "Archive extracted ok!");
    EXPECT_TRUE(fs::exists(root + "/right/full/small.txt"));
    EXPECT_FALSE(fs::exists(root + "/right/full/large.bin"));
    EXPECT_EQ(messages->underBusyCursor, 0);

    // A destination that cannot be made is said so; nothing is extracted.
    messages->log.clear();
    ExtractInto(root + "/left/good.rar/inside");
    ASSERT_EQ(messages->log.size(), 1);
    EXPECT_TRUE(messages->log[0].startsWith("warning: Cannot create the directory")) << messages->log[0].toStdString();
    EXPECT_NE(window->StatusText(), "Archive extracted ok!");
}

// What the page says of hard links it could not make and of a member that goes
// on in a volume that is not there.
TEST_F(PackedPageTest, HardLinksAndMissingVolumesAreReportedForWhatTheyAre)
{
    Rar5Builder links;
    links.File("a.txt", "alpha").HardLink("same.txt", "a.txt").HardLink("gone.txt", "../elsewhere.txt");
    links.Write(root + "/left/links.rar");
    Rar5Builder first;
    first.Volume(0, true).File("one.txt", "1");
    Rar5Member split{"split.bin", std::string(100, 's')};
    split.unpackedSize = 200;
    split.splitAfter = true;
    split.crc = false;
    first.Add(split);
    first.Write(root + "/left/set.part1.rar");
    Open();

    View("links.rar");
    ExtractInto(root + "/right/links");
    ASSERT_EQ(messages->log.size(), 1) << messages->log.join("\n").toStdString();
    EXPECT_TRUE(messages->log[0].startsWith("warning: These hard links were not made"))
        << messages->log[0].toStdString();
    EXPECT_TRUE(messages->log[0].contains("gone.txt"));
    EXPECT_FALSE(messages->log[0].contains("same.txt"));
    EXPECT_EQ(fs::hard_link_count(root + "/right/links/same.txt"), 2u);
    EXPECT_FALSE(fs::exists(root + "/right/links/gone.txt"));
    EXPECT_NE(window->StatusText(), "Archive extracted ok!");

    messages->log.clear();
    View("set.part1.rar");
    TestArchive();
    EXPECT_EQ(messages->log, QStringList({"warning: Unexpected end of archive while testing"}));
    messages->log.clear();
    ExtractInto(root + "/right/set");
    EXPECT_EQ(messages->log, QStringList({"warning: Unexpected end of archive while extracting"}));
    EXPECT_TRUE(fs::exists(root + "/right/set/one.txt"));
    EXPECT_FALSE(fs::exists(root + "/right/set/split.bin"));
}

TEST(PackedPageAlone, WithoutTheLibraryThePageSaysSoAndCallsNothing)
{
    PackedPage page(nullptr, "/nonexistent/libunrar.so");
    ASSERT_FALSE(page.Rar().UnRarAvailable());
    page.ShowFile("/nonexistent/a.rar");
    ASSERT_EQ(page.List()->count(), 1);
    EXPECT_TRUE(page.List()->item(0)->text().contains("libunrar.so"));
    EXPECT_FALSE(page.TestButton()->isEnabled());
    EXPECT_FALSE(page.ExtractButton()->isEnabled());
    page.VWPackTestClick();
    page.VWPackExtractClick(); // no dialog, no call into a library that is not there
}

TEST(SelectDirDialog, FollowsTheTreeAndTakesTypedPaths)
{
    TDlgSelectDir dialog;
    EXPECT_EQ(dialog.windowTitle(), "Select directory");
    dialog.SetDirectory("/tmp");
    EXPECT_EQ(dialog.DirectoryEdit()->text(), "/tmp");
    EXPECT_EQ(dialog.DirectoryName(), "/tmp");
    dialog.DirectoryEdit()->setText(QString::fromUtf8("/tmp/n\xc3\xa9w"));
    EXPECT_EQ(dialog.DirectoryName(), "/tmp/n\xc3\xa9w");
    dialog.show();
    QTest::mouseClick(dialog.CancelButton(), Qt::LeftButton);
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
}

namespace {

void Write(const std::string& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }

struct ShownImagePage {
    ImagePage page;
    QStringList errors;
    ShownImagePage(int w, int h)
    {
        page.SetErrorSink([this](const QString& text) { errors << text; });
        page.resize(w, h);
        page.show();
        QApplication::processEvents();
    }
    QImage Screen() { return page.grab().toImage(); }
};

} // namespace

TEST(ImagePage, SmallPicturesStayAtTheirSizeCentredAndLargeOnesShrinkToFit)
{
    test::TempTree dir;
    Write(dir.Path() + "small.bmp", test::MakeBmp24(21, 11));
    ShownImagePage shown(200, 150);
    shown.page.ShowFile(dir.Path() + "small.bmp");
    ASSERT_TRUE(shown.errors.isEmpty()) << shown.errors.join("\n").toStdString();
    EXPECT_EQ(shown.page.PageHint(), "21x11 pixel");
    QImage screen = shown.Screen();
    // (200 - 21) / 2 = 89 and (150 - 11) / 2 = 69: the odd pixel goes right and down.
    EXPECT_EQ(QColor(screen.pixel(89, 69)), QColor(0, 0, 7));
    EXPECT_EQ(QColor(screen.pixel(89 + 20, 69 + 10)), QColor(20, 10, 7));
    EXPECT_NE(QColor(screen.pixel(88, 69)), QColor(0, 0, 7));
    EXPECT_DOUBLE_EQ(shown.page.Image()->UsedScale(), 1.0);

    Write(dir.Path() + "wide.jpg", test::MakeJpeg(1600, 400));
    shown.page.ShowFile(dir.Path() + "wide.jpg");
    ASSERT_TRUE(shown.errors.isEmpty()) << shown.errors.join("\n").toStdString();
    EXPECT_EQ(shown.page.PageHint(), "1600x400 pixel") << "the hint gives the size in the file";
    EXPECT_LT(shown.page.Image()->Picture().width(), 1600) << "decoded smaller in the DCT";
    EXPECT_GE(shown.page.Image()->Picture().width(), 200);
    screen = shown.Screen();
    // 200 wide, 50 high, centred at y = 50: rows above and below stay empty.
    const QColor background = QColor(screen.pixel(100, 10));
    EXPECT_NE(QColor(screen.pixel(100, 75)), background);
    EXPECT_EQ(QColor(screen.pixel(100, 45)), background);
    EXPECT_EQ(QColor(screen.pixel(100, 105)), background);
}

// A photo decoded small for a small page is decoded again, once, after the
// page has grown: enlarged it would be a blur of its small copy.
TEST(ImagePage, APictureDecodedSmallIsDecodedAgainWhenThePageGrows)
{
    test::TempTree dir;
    Write(dir.Path() + "wide.jpg", test::MakeJpeg(1600, 400));
    ShownImagePage shown(200, 150);
    shown.page.ShowFile(dir.Path() + "wide.jpg");
    ASSERT_EQ(shown.page.Image()->Picture().width(), 200) << "an eighth fits a 200 pixel page";

    shown.page.resize(1000, 600);
    EXPECT_TRUE(QTest::qWaitFor([&] { return shown.page.Image()->Picture().width() > 200; }, 3000));
    EXPECT_EQ(shown.page.Image()->Picture().width(), 1000) << "five eighths fill 1000 pixels";
    EXPECT_EQ(shown.page.PageHint(), "1600x400 pixel");
    QImage screen = shown.Screen();
    EXPECT_GT(qRed(screen.pixel(990, 300)), 200) << "the picture spans the page";

    // Room for more than the whole picture decodes it whole; shrinking decodes nothing.
    shown.page.resize(2000, 800);
    QTest::qWait(300);
    EXPECT_EQ(shown.page.Image()->Picture().width(), 1600);
    shown.page.resize(300, 300);
    QTest::qWait(300);
    EXPECT_EQ(shown.page.Image()->Picture().width(), 1600);
    EXPECT_TRUE(shown.errors.isEmpty());
}

TEST(ImagePage, TransparencyJfifAndFailures)
{
    test::TempTree dir;
    ShownImagePage shown(120, 120);
    Write(dir.Path() + "t.gif", test::MakeGif(30, 30, true));
    shown.page.ShowFile(dir.Path() + "t.gif");
    ASSERT_TRUE(shown.errors.isEmpty()) << shown.errors.join("\n").toStdString();
    QImage screen = shown.Screen();
    const QColor background = QColor(screen.pixel(2, 2));
    // Index (x + y) % 3 == 2 is the transparent red: the page shows through.
    EXPECT_EQ(QColor(screen.pixel(45 + 2, 45)), background);
    EXPECT_EQ(QColor(screen.pixel(45, 45)), QColor(Qt::black));

    Write(dir.Path() + "photo.jfif", test::MakeJpeg(40, 20));
    shown.page.ShowFile(dir.Path() + "photo.jfif");
    EXPECT_TRUE(shown.errors.isEmpty()) << "a .JFIF file takes the JPEG path";
    EXPECT_EQ(shown.page.PageHint(), "40x20 pixel");

    shown.page.ShowFile(dir.Path() + "missing.jpg");
    ASSERT_EQ(shown.errors.size(), 1);
    EXPECT_EQ(shown.errors[0], QString::fromStdString("Can't open " + dir.Path() + "missing.jpg (error code 2)"));
    EXPECT_EQ(shown.page.PageHint(), "40x20 pixel") << "the previous picture stays";

    for (const char* name : {"garbage.gif", "garbage.bmp", "garbage.jpg"}) {
        Write(dir.Path() + name, std::string(5000, '\x5a'));
        shown.errors.clear();
        shown.page.ShowFile(dir.Path() + name);
        EXPECT_EQ(shown.errors.size(), 1) << name;
        EXPECT_TRUE(shown.page.Image()->Picture().isNull()) << name;
    }
    shown.errors.clear();
    Write(dir.Path() + "huge.bmp", test::MakeBmp24(4, 4, 100000, 100000));
    shown.page.ShowFile(dir.Path() + "huge.bmp");
    EXPECT_EQ(shown.errors.size(), 1);

    shown.page.ClearPage();
    EXPECT_TRUE(shown.page.Image()->Picture().isNull());
    EXPECT_EQ(shown.page.PageHint(), "");
}

namespace {

QByteArray Encoded(const QImage& image, const char* format)
{
    QByteArray bytes;
    QBuffer device(&bytes);
    device.open(QIODevice::WriteOnly);
    QImageWriter writer(&device, format);
    return writer.write(image) ? bytes : QByteArray();
}

// PNG chunks carry a CRC-32 over type and data.
uint32_t Crc32(const char* data, size_t size)
{
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < size; ++i) {
        crc ^= uint8_t(data[i]);
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

void PutBigEndian(QByteArray& bytes, int at, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        bytes[at + i] = char(value >> (24 - 8 * i));
}

} // namespace

TEST(ImagePage, TheDesktopsPictureFormatsShowAtTheirSize)
{
    test::TempTree dir;
    ShownImagePage shown(200, 150);
    QImage source(23, 13, QImage::Format_RGB32);
    source.fill(QColor(0, 128, 255));
    QStringList missing;
    for (const char* format : {"png", "webp", "tiff", "tif", "ico", "xpm"}) {
        const QByteArray fileFormat = QByteArray(format) == "tif" ? "tiff" : format;
        if (!QImageWriter::supportedImageFormats().contains(fileFormat)) {
            missing << format;
            continue;
        }
        const QByteArray bytes = Encoded(source, fileFormat);
        ASSERT_FALSE(bytes.isEmpty()) << format;
        const std::string path = dir.Path() + "p." + QByteArray(format).toUpper().toStdString();
        Write(path, bytes.toStdString());
        shown.errors.clear();
        shown.page.ClearPage();
        shown.page.ShowFile(path);
        EXPECT_TRUE(shown.errors.isEmpty()) << format << ": " << shown.errors.join("\n").toStdString();
        EXPECT_EQ(shown.page.PageHint(), "23x13 pixel") << format;
        const QImage& shownPicture = shown.page.Image()->Picture();
        if (!shownPicture.isNull() && QByteArray(format) != "webp") // WebP is lossy
            EXPECT_EQ(QColor(shownPicture.pixel(5, 5)), QColor(0, 128, 255)) << format;
    }

    // A picture a program wrote by hand.
    Write(dir.Path() + "drawing.svg", "<svg xmlns='http://www.w3.org/2000/svg' width='40' height='30'>"
                                      "<rect width='40' height='30' fill='#ff0000'/></svg>");
    shown.errors.clear();
    shown.page.ShowFile(dir.Path() + "drawing.svg");
    if (QImageReader::supportedImageFormats().contains("svg")) {
        EXPECT_TRUE(shown.errors.isEmpty()) << shown.errors.join("\n").toStdString();
        EXPECT_EQ(shown.page.PageHint(), "40x30 pixel");
        ASSERT_FALSE(shown.page.Image()->Picture().isNull());
        EXPECT_EQ(QColor(shown.page.Image()->Picture().pixel(20, 15)), QColor(255, 0, 0));
    } else {
        missing << "svg";
        EXPECT_EQ(shown.errors.size(), 1) << "without the reader the page says so";
    }
    if (!missing.isEmpty())
        GTEST_SKIP() << "no image reader for " << missing.join(", ").toStdString();
}

// Headers claim any canvas; what is claimed is refused before it is allocated.
// Garbage gets a message, the previous picture goes and nothing crashes.
TEST(ImagePage, HugeClaimedCanvasesAndGarbageInTheNewFormatsAreRefused)
{
    test::TempTree dir;
    ShownImagePage shown(120, 120);
    QImage tiny(1, 1, QImage::Format_RGB32);
    tiny.fill(Qt::white);
    QByteArray png = Encoded(tiny, "png");
    ASSERT_GT(png.size(), 33);
    // Signature (8), chunk length (4), "IHDR" (4), width, height, ..., CRC at 29.
    PutBigEndian(png, 16, 60000);
    PutBigEndian(png, 20, 60000);
    PutBigEndian(png, 29, Crc32(png.constData() + 12, 17));
    Write(dir.Path() + "huge.png", png.toStdString());
    shown.page.ShowFile(dir.Path() + "huge.png");
    ASSERT_EQ(shown.errors.size(), 1);
    EXPECT_TRUE(shown.errors[0].startsWith("Picture too large")) << shown.errors[0].toStdString();
    EXPECT_TRUE(shown.page.Image()->Picture().isNull());

    if (QImageReader::supportedImageFormats().contains("svg")) {
        Write(dir.Path() + "huge.svg", "<svg xmlns='http://www.w3.org/2000/svg' width='100000' height='100000'>"
                                       "<rect width='10' height='10'/></svg>");
        shown.errors.clear();
        shown.page.ShowFile(dir.Path() + "huge.svg");
        ASSERT_EQ(shown.errors.size(), 1);
        EXPECT_EQ(shown.errors[0], "Picture too large (100000x100000)");
    }

    for (const char* name : {"garbage.png", "garbage.svg", "garbage.tif", "garbage.ico", "garbage.xpm", "garbage.webp",
                             "empty.png"}) {
        Write(dir.Path() + "ok.png", Encoded(tiny, "png").toStdString());
        shown.page.ShowFile(dir.Path() + "ok.png");
        ASSERT_FALSE(shown.page.Image()->Picture().isNull());
        Write(dir.Path() + name, std::string(name[0] == 'e' ? 0 : 3000, '\x5a'));
        shown.errors.clear();
        shown.page.ShowFile(dir.Path() + name);
        EXPECT_EQ(shown.errors.size(), 1) << name;
        EXPECT_TRUE(shown.page.Image()->Picture().isNull()) << name;
    }

    // A fifo named like a picture is never opened, so nothing waits for a writer.
    const std::string fifo = dir.Path() + "pipe.png";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    shown.errors.clear();
    shown.page.ShowFile(fifo);
    EXPECT_EQ(shown.errors.size(), 1);
}

TEST(EnhImage, BorderStretchAndAutoSize)
{
    TEnhImage image;
    EXPECT_EQ(image.size(), QSize(105, 105));
    ImageBuffer picture;
    ASSERT_TRUE(AllocateImage(picture, 10, 4, kMaxImagePixels));
    std::fill(picture.pixels.begin(), picture.pixels.end(), OpaqueRgb(255, 0, 0));
    image.SetPicture(picture);
    image.setBorder(true);
    image.show();
    QImage screen = image.grab().toImage();
    EXPECT_EQ(QColor(screen.pixel(0, 0)), QColor(Qt::black)) << "the frame";
    EXPECT_EQ(QColor(screen.pixel(104, 104)), QColor(Qt::black));
    EXPECT_EQ(QColor(screen.pixel(1, 1)), QColor(255, 0, 0)) << "the picture starts inside the frame";

    image.setScaleStyle(ScaleStyle::StretchXY);
    screen = image.grab().toImage();
    EXPECT_EQ(QColor(screen.pixel(103, 103)), QColor(255, 0, 0));

    image.setAutoSize(true);
    EXPECT_EQ(image.size(), QSize(12, 6)) << "the picture and its frame";
    image.ClearPicture();
    screen = image.grab().toImage();
    EXPECT_EQ(QColor(screen.pixel(0, 0)), QColor(Qt::black)) << "an empty picture still has its frame";
}

namespace {

bool NoAudioDevice() { return QMediaDevices::audioOutputs().isEmpty(); }

} // namespace

TEST(VoxPage, PlaysAtOnceWithTheChosenCodingAndRateAndNeverHangsWithoutADevice)
{
    test::TempTree dir;
    std::string rough(64 * 1024, '\0');
    for (size_t i = 0; i < rough.size(); ++i)
        rough[i] = char((i * 73) & 0xFF); // far from smooth: guessed as ADPCM
    Write(dir.Path() + "call.vox", rough);
    VoxPage page;
    page.show();
    EXPECT_TRUE(page.CodingButton(VoxType::Euristic)->isChecked());
    EXPECT_TRUE(page.RateButton(1)->isChecked());
    EXPECT_FALSE(page.PlayButton()->isEnabled());

    QElapsedTimer clock;
    clock.start();
    page.ShowFile(dir.Path() + "call.vox");
    EXPECT_LT(clock.elapsed(), 2000) << "no device must not mean a wait";
    EXPECT_TRUE(page.PlayButton()->isEnabled());
    EXPECT_EQ(page.Player().PlayedAs(), VoxType::Adpcm);
    if (NoAudioDevice()) {
        EXPECT_EQ(page.State()->text(), "AD PCM, 8000 Hz - No audio output device: nothing can be heard.");
        EXPECT_FALSE(page.WaveOut()->IsOpen());
        EXPECT_FALSE(page.StopButton()->isEnabled());
    }

    QTest::mouseClick(page.CodingButton(VoxType::Pcm), Qt::LeftButton);
    QTest::mouseClick(page.RateButton(2), Qt::LeftButton);
    QTest::mouseClick(page.PlayButton(), Qt::LeftButton);
    EXPECT_EQ(page.Player().voxType, VoxType::Pcm);
    EXPECT_EQ(page.Player().samples, 12000);
    EXPECT_TRUE(page.State()->text().startsWith("8-bit PCM, 12000 Hz"));

    page.ClearPage();
    EXPECT_FALSE(page.PlayButton()->isEnabled());
    Write(dir.Path() + "wave.vox", "RIFF\x24\0\0\0WAVEfmt ");
    QTest::mouseClick(page.CodingButton(VoxType::Euristic), Qt::LeftButton);
    page.ShowFile(dir.Path() + "wave.vox");
    EXPECT_TRUE(page.State()->text().startsWith("Not played"));
}

TEST(EnhWaveOut, WithoutADeviceOpenFailsAndNothingQueues)
{
    if (!NoAudioDevice())
        GTEST_SKIP() << "an audio device is present";
    TEnhWaveOut out;
    EXPECT_FALSE(out.Open());
    EXPECT_EQ(out.OpenError(), "No audio output device");
    const uint8_t silence[16] = {128};
    EXPECT_FALSE(out.Write(silence, sizeof silence));
    EXPECT_FALSE(out.IsPlaying());
    out.Reset();
    out.Close();
    EXPECT_EQ(out.capabilities(), 0u);
}

// Run by vox_audio_test.sh against a PulseAudio null sink; skipped elsewhere.
TEST(VoxAudio, AFileSoundsToItsEndAndTheOutputClosesItselfAndANewFileStopsTheOld)
{
    if (NoAudioDevice())
        GTEST_SKIP() << "no audio device";
    test::TempTree dir;
    Write(dir.Path() + "half.vox", std::string(2000, '\x80')); // a quarter second of PCM silence
    Write(dir.Path() + "long.vox", std::string(80000, '\x80')); // 10 s
    VoxPage page;
    page.ShowFile(dir.Path() + "long.vox");
    ASSERT_TRUE(page.WaveOut()->IsOpen()) << page.WaveOut()->OpenError().toStdString();
    EXPECT_TRUE(page.WaveOut()->IsPlaying());
    EXPECT_TRUE(page.StopButton()->isEnabled());
    QTest::qWait(200);

    QElapsedTimer clock;
    clock.start();
    page.ShowFile(dir.Path() + "half.vox");
    EXPECT_EQ(page.Player().QueuedBlocks(), 2) << "the long file's blocks were handed back, not counted";
    // Every block handed to the sink, which still sounds them: a new file must cut that tail.
    ASSERT_TRUE(QTest::qWaitFor([&] { return !page.WaveOut()->IsPlaying(); }, 3000));
    if (page.WaveOut()->IsOpen())
        EXPECT_TRUE(page.WaveOut()->IsDraining());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !page.WaveOut()->IsOpen(); }, 8000)) << "the output never closed";
    EXPECT_FALSE(page.WaveOut()->IsDraining());
    EXPECT_LT(clock.elapsed(), 5000) << "the long file went on playing";
    EXPECT_EQ(page.State()->text(), "8-bit PCM, 8000 Hz - stopped");
    EXPECT_FALSE(page.StopButton()->isEnabled());

    page.ShowFile(dir.Path() + "long.vox");
    ASSERT_TRUE(page.WaveOut()->IsOpen());
    QTest::mouseClick(page.StopButton(), Qt::LeftButton);
    EXPECT_FALSE(page.WaveOut()->IsPlaying());
    EXPECT_TRUE(QTest::qWaitFor([&] { return !page.WaveOut()->IsOpen(); }, 3000)) << "stopping closes the output";
}
