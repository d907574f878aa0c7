// The "ID3 manager" on real MP3 files: the candidates, fixed fields, guessed
// titles, Latin-1 text and writing the tags back.
#include "tools/DlgId3.h"

#include "app/RecordedMessages.h"
#include "panes/PaneFixture.h"
#include "panes/ReadDirectory.h"
#include "panes/TempTree.h"
#include "platform/Registry.h"
#include "tools/model/Id3Tag.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sys/stat.h>
#include <unistd.h>

using namespace tarnel;

namespace {

class Id3DialogTest : public ::testing::Test {
protected:
    test::TempTree dir;
    test::PaneFixture fixture;
    test::RecordedMessages messages;
    int rereads = 0;

    void Mp3(const std::string& name, const std::optional<Id3Tag>& tag, size_t audio = 500)
    {
        std::ofstream out(dir.Path() + name, std::ios::binary);
        out << std::string(audio, 'a');
        if (tag) {
            const auto block = FormatId3Tag(*tag);
            out.write(block.data(), block.size());
        }
    }
    static Id3Tag Tag(const std::string& title, const std::string& artist, uint8_t genre = 255)
    {
        Id3Tag t;
        t.title = title;
        t.artist = artist;
        t.genre = genre;
        return t;
    }
    // A re-read drops the selection: OpenSelection keeps the listing as it is.
    std::unique_ptr<TDlgId3> Open(Registry* registry = nullptr)
    {
        fixture.pane.Path = dir.Path();
        ReadDirectory(fixture.pane);
        return OpenSelection(registry);
    }
    std::unique_ptr<TDlgId3> OpenSelection(Registry* registry = nullptr)
    {
        auto d = std::make_unique<TDlgId3>(messages, registry);
        d->OpenForPane(fixture.pane, [this] {
            ++rereads;
            ReadDirectory(fixture.pane);
        });
        return d;
    }
    void Select(const std::string& name)
    {
        for (int i = 0; i < fixture.pane.Count; ++i)
            if (fixture.pane.Item(i).Name == name)
                fixture.controls.SetSelected(i, true);
    }
    uintmax_t Size(const std::string& name) { return std::filesystem::file_size(dir.Path() + name); }
    Id3Tag Read(const std::string& name) { return ReadId3Tag(dir.Path() + name).value_or(Id3Tag{}); }
    static QString Cell(const TDlgId3& d, int row, int column) { return d.Grid()->item(row, column)->text(); }
};

} // namespace

TEST_F(Id3DialogTest, ListsTheMp3FilesAndFixesColumnsThatAgree)
{
    Mp3("a.mp3", Tag("One", "Band", 17));
    Mp3("b.MP3", std::nullopt);
    Mp3("c.txt", Tag("x", "y"));
    dir.Dir("d.mp3");
    auto d = Open();
    EXPECT_EQ(d->windowTitle(), "ID3 manager");
    ASSERT_EQ(d->Grid()->rowCount(), 2);
    EXPECT_EQ(Cell(*d, 0, TDlgId3::FileName), "a.mp3");
    EXPECT_EQ(Cell(*d, 0, TDlgId3::Genre), "Rock");
    EXPECT_EQ(Cell(*d, 1, TDlgId3::Title), "");
    EXPECT_EQ(d->Field(TDlgId3::Title)->text(), "One"); // the first row is shown
    EXPECT_EQ(d->GenreBox()->currentText(), "Rock");
    EXPECT_FALSE(d->Fixed(TDlgId3::Artist)->isChecked()); // "Band" and ""
    EXPECT_FALSE(d->Fixed(TDlgId3::Genre)->isChecked());
    EXPECT_TRUE(d->Fixed(TDlgId3::Album)->isChecked());
    EXPECT_FALSE(d->Fixed(TDlgId3::Title)->isChecked());
    EXPECT_FALSE(d->ApplyButton()->isEnabled());
    EXPECT_EQ(d->GenreBox()->count(), 143);
    EXPECT_EQ(d->GenreBox()->itemText(0), "");
    EXPECT_TRUE(d->AdvancedRow()->isHidden());

    Select("b.MP3"); // only the selected MP3 files
    d = OpenSelection();
    ASSERT_EQ(d->Grid()->rowCount(), 1);
    EXPECT_EQ(Cell(*d, 0, TDlgId3::FileName), "b.MP3");
}

TEST_F(Id3DialogTest, APaneWithoutMp3FilesShowsNoFile)
{
    Mp3("c.txt", std::nullopt);
    auto d = Open();
    ASSERT_EQ(d->Grid()->rowCount(), 1);
    EXPECT_EQ(Cell(*d, 0, 0), "No file");
    EXPECT_FALSE(d->Field(TDlgId3::Title)->isEnabled());
    EXPECT_FALSE(d->GenreBox()->isEnabled());
    for (auto c : {TDlgId3::Artist, TDlgId3::Album, TDlgId3::Year, TDlgId3::Genre, TDlgId3::Comment})
        EXPECT_TRUE(d->Fixed(c)->isChecked());
    EXPECT_FALSE(d->Fixed(TDlgId3::Title)->isChecked());
    d->Field(TDlgId3::Title)->setText("x");
    EXPECT_FALSE(d->ApplyButton()->isEnabled());
    d->BTNApplyClick(); // nothing to write, nothing breaks
}

TEST_F(Id3DialogTest, FixedFieldsEditEveryRowAndApplyWritesInPlace)
{
    Mp3("a.mp3", Tag("One", "First", 200)); // genre above 141
    Mp3("b.mp3", std::nullopt);
    auto d = Open();
    EXPECT_EQ(Cell(*d, 0, TDlgId3::Genre), "");
    d->Fixed(TDlgId3::Artist)->setChecked(true);
    d->Grid()->setCurrentCell(1, 0); // showing row 2 copies its artist to every row
    EXPECT_EQ(Cell(*d, 0, TDlgId3::Artist), "");
    d->Grid()->setCurrentCell(0, 0);
    QTest::keyClicks(d->Field(TDlgId3::Artist), "Both");
    EXPECT_EQ(Cell(*d, 1, TDlgId3::Artist), "Both");
    QTest::keyClicks(d->Field(TDlgId3::Year), "19a9x97");
    EXPECT_EQ(Cell(*d, 0, TDlgId3::Year), "1999"); // digits only, four at most
    d->GenreBox()->setCurrentText("Psychadelic");
    EXPECT_EQ(Cell(*d, 0, TDlgId3::Genre), "Psychadelic");
    ASSERT_TRUE(d->ApplyButton()->isEnabled());

    const auto sizeA = Size("a.mp3"), sizeB = Size("b.mp3");
    d->BTNApplyClick();
    EXPECT_TRUE(messages.log.isEmpty()) << messages.log.join("|").toStdString();
    EXPECT_EQ(Size("a.mp3"), sizeA);       // replaced in place
    EXPECT_EQ(Size("b.mp3"), sizeB + 128); // appended
    EXPECT_EQ(Read("a.mp3").artist, "Both");
    EXPECT_EQ(Read("a.mp3").genre, 67);
    EXPECT_EQ(Read("b.mp3").artist, "Both");
    EXPECT_EQ(Read("b.mp3").year, "1999"); // both years were empty: the column started fixed
    EXPECT_EQ(Read("b.mp3").genre, 67);
    EXPECT_EQ(rereads, 1);
    EXPECT_FALSE(d->ApplyButton()->isEnabled());
    EXPECT_EQ(Cell(*d, 1, TDlgId3::Artist), "Both"); // read back anew
}

TEST_F(Id3DialogTest, ApplyWritesOnlyEditedFilesAndKeepsTrackNumbers)
{
    // Tags as other programs write them: zero padding, a version 1.1 track
    // number below 32, a genre outside the list.
    auto withTrack = [](const std::string& title, uint8_t track) {
        std::string block(128, '\0');
        block.replace(0, 3, "TAG");
        block.replace(3, title.size(), title);
        block.replace(97, 4, "note");
        block[126] = char(track);
        block[127] = char(200);
        return block;
    };
    for (const auto& [name, track] : {std::pair<std::string, uint8_t>{"a.mp3", 3}, {"b.mp3", 17}})
        std::ofstream(dir.Path() + name, std::ios::binary) << std::string(300, 'a') << withTrack(name, track);
    Mp3("untagged.mp3", std::nullopt);
    auto bytes = [&](const std::string& name) {
        std::ifstream in(dir.Path() + name, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    const std::string a = bytes("a.mp3"), b = bytes("b.mp3");
    const auto untaggedSize = Size("untagged.mp3");

    auto d = Open();
    ASSERT_EQ(Cell(*d, 1, 0), "b.mp3");
    d->Grid()->setCurrentCell(1, 0);
    d->Field(TDlgId3::Title)->setText("Changed");
    d->BTNApplyClick();
    EXPECT_TRUE(messages.log.isEmpty()) << messages.log.join("|").toStdString();
    EXPECT_EQ(bytes("a.mp3"), a) << "a file nobody edited is not written";
    EXPECT_EQ(Size("untagged.mp3"), untaggedSize) << "nor given a tag";
    const std::string written = bytes("b.mp3");
    ASSERT_EQ(written.size(), b.size());
    const std::string tag = written.substr(written.size() - 128);
    EXPECT_EQ(tag.substr(3, 7), "Changed");
    EXPECT_EQ(tag.substr(97, 28), "note" + std::string(24, ' '));
    EXPECT_EQ(tag[125], '\0');
    EXPECT_EQ(tag[126], char(17)) << "the track number is kept";
    EXPECT_EQ(Read("b.mp3").track, 17);

    // Typing a field back to what it was is no edit either.
    d->Grid()->setCurrentCell(0, 0);
    d->Field(TDlgId3::Album)->setText("x");
    d->Field(TDlgId3::Album)->setText("");
    EXPECT_TRUE(d->ApplyButton()->isEnabled());
    d->BTNApplyClick();
    EXPECT_EQ(bytes("a.mp3"), a);
}

TEST_F(Id3DialogTest, GuessedTitlesAreCutWhenWritten)
{
    const std::string longName = "a_very_long_title_that_is_forty_chars_x"; // 39 + 1
    Mp3(longName + "1.mp3", std::nullopt);
    Mp3("kept.mp3", Tag("Kept", ""));
    auto d = Open();
    d->AdvancedButton()->click();
    EXPECT_FALSE(d->AdvancedRow()->isHidden());
    d->BTNGuessTitlesClick();
    const int longRow = Cell(*d, 0, 0) == "kept.mp3" ? 1 : 0;
    EXPECT_EQ(Cell(*d, longRow, TDlgId3::Title), "a very long title that is forty chars x1");
    EXPECT_EQ(Cell(*d, 1 - longRow, TDlgId3::Title), "Kept"); // only empty titles
    d->BTNApplyClick();
    EXPECT_EQ(Read(longName + "1.mp3").title, "a very long title that is fort");

    d->OnlyEmptyTitles()->setChecked(false);
    d->SubstituteUnderscores()->setChecked(false);
    d->RemoveExtension()->setChecked(false);
    d->BTNGuessTitlesClick();
    EXPECT_EQ(Cell(*d, 1 - longRow, TDlgId3::Title), "kept.mp3");
    d->BTNUndoClick();
    EXPECT_EQ(Cell(*d, 1 - longRow, TDlgId3::Title), "Kept");
    EXPECT_FALSE(d->UndoButton()->isEnabled());
}

TEST_F(Id3DialogTest, TextIsLatin1BothWays)
{
    Mp3("a.mp3", Tag("Caf\xe9", "", 200));
    auto d = Open();
    EXPECT_EQ(Cell(*d, 0, TDlgId3::Title), QString::fromUtf8("Café"));
    d->Field(TDlgId3::Title)->setText(QString::fromUtf8("Ünï € 😀"));
    d->BTNApplyClick();
    EXPECT_EQ(Read("a.mp3").title, "\xdcn\xef ? ?");
    EXPECT_EQ(Read("a.mp3").genre, 255); // a number outside the list is written back as none
}

TEST_F(Id3DialogTest, UnwritableFilesAreReportedAndTheOthersWritten)
{
    Mp3("a.mp3", std::nullopt);
    Mp3("locked.mp3", std::nullopt);
    chmod((dir.Path() + "locked.mp3").c_str(), 0444);
    if (geteuid() == 0)
        GTEST_SKIP() << "root writes read-only files";
    auto d = Open();
    d->Field(TDlgId3::Comment)->setText("c");
    d->Fixed(TDlgId3::Comment)->setChecked(true);
    d->Field(TDlgId3::Comment)->setText("cc");
    d->BTNApplyClick();
    EXPECT_EQ(messages.log, QStringList{"warning: An error occurred storing the ID3 TAG for\nlocked.mp3"});
    EXPECT_EQ(Read("a.mp3").comment, "cc");
    EXPECT_EQ(Size("locked.mp3"), 500u);
}

TEST_F(Id3DialogTest, ColumnWidthsAreKeptInTheSettings)
{
    test::TempTree store;
    Registry registry(store.Path() + "user.reg", store.Path() + "system.reg");
    Mp3("a.mp3", std::nullopt);
    {
        auto d = Open(&registry);
        d->Grid()->setColumnWidth(TDlgId3::Title, 211);
    }
    RegistryKey k(registry);
    ASSERT_TRUE(k.OpenKey("Software\\Vormane\\orv\\DlgId3", false));
    EXPECT_EQ(k.ReadInteger("TitleWidth"), 211);
    EXPECT_TRUE(k.KeyExists("\\Software\\Vormane\\orv\\Id3Form"));
    auto again = Open(&registry);
    EXPECT_EQ(again->Grid()->columnWidth(TDlgId3::Title), 211);
}
