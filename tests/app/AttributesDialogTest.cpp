// The Attributes command on real files: the start state of the boxes, the
// change masks, the refusals and the warnings.
#include "app/AttributesDialog.h"
#include "app/UserMessages.h"
#include "panes/DirData.h"
#include "panes/HeadlessPane.h"
#include "panes/ReadDirectory.h"
#include "platform/DirectoryReader.h"

#include <QCheckBox>
#include <QTest>
#include "RecordedMessages.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

using namespace tarnel;

namespace {

using AttributeMessages = test::RecordedMessages;

class AttributesCommandTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string templ = testing::TempDir() + "attrcmd-XXXXXX";
        ASSERT_NE(nullptr, mkdtemp(templ.data()));
        dir_ = templ + "/";
        pane_.Controls = &controls_;
        pane_.Drives = &noDrives_;
    }

    void TearDown() override
    {
        pane_.StopWorkers();
        std::filesystem::remove_all(dir_);
    }

    std::string Make(const std::string& name, mode_t mode = 0644) const
    {
        const std::string path = dir_ + name;
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, mode);
        EXPECT_GE(fd, 0) << name;
        ::close(fd);
        EXPECT_EQ(0, ::chmod(path.c_str(), mode));
        return path;
    }

    bool XattrsSupported() const
    {
        const std::string probe = Make("xattr-probe");
        const bool ok = ::setxattr(probe.c_str(), "user.probe", "1", 1, 0) == 0;
        ::unlink(probe.c_str());
        return ok;
    }

    static mode_t Mode(const std::string& path)
    {
        struct stat st {};
        EXPECT_EQ(0, ::stat(path.c_str(), &st));
        return st.st_mode & 07777;
    }

    static std::string Stored(const std::string& path)
    {
        char value[64];
        const ssize_t n = ::getxattr(path.c_str(), "user.DOSATTRIB", value, sizeof value);
        return n < 0 ? std::string("-") : std::string(value, size_t(n));
    }

    // Lists the directory and selects the named entries.
    void List(std::initializer_list<const char*> selected)
    {
        pane_.Path = dir_;
        ReadDirectory(pane_);
        for (const char* name : selected)
            controls_.SetSelected(Row(name), true);
    }

    int Row(const std::string& name) const
    {
        for (int i = 0; i < pane_.Count; ++i)
            if (pane_.Item(i).Name == name)
                return i;
        ADD_FAILURE() << name << " not listed";
        return -1;
    }

    const TFileData& Entry(const std::string& name) const { return pane_.Item(Row(name)); }

    // Runs the command; step sees the dialog as shown, then its result is OK
    // unless it says otherwise.
    int Run(const std::function<int(AttributesDialog&)>& step)
    {
        int shown = 0;
        RunAttributesCommand(pane_, controls_, messages_, nullptr, [&](AttributesDialog& dialog) {
            ++shown;
            return step(dialog);
        });
        return shown;
    }

    static void Click(AttributesDialog& dialog, uint32_t bit) { QTest::mouseClick(dialog.Box(bit), Qt::LeftButton); }

    std::string dir_;
    HeadlessPane controls_;
    DriveList noDrives_;
    TDirData pane_;
    AttributeMessages messages_;
};

TEST_F(AttributesCommandTest, MixedSelectionStartsGrayedAndAGrayedBoxKeepsEachFilesBit)
{
    if (!XattrsSupported())
        GTEST_SKIP() << "no user extended attributes on " << dir_;
    const std::string locked = Make("locked", 0444);
    const std::string open = Make("open");
    List({"locked", "open"});

    EXPECT_EQ(1, Run([&](AttributesDialog& dialog) {
        EXPECT_EQ(Qt::PartiallyChecked, dialog.Box(faReadOnly)->checkState());
        EXPECT_EQ(Qt::Unchecked, dialog.Box(faHidden)->checkState());
        EXPECT_EQ(Qt::Unchecked, dialog.Box(faArchive)->checkState());
        EXPECT_EQ(Qt::Unchecked, dialog.Box(faSysFile)->checkState());
        Click(dialog, faHidden);
        return int(QDialog::Accepted);
    }));
    EXPECT_TRUE(messages_.log.isEmpty()) << messages_.log.join('|').toStdString();
    EXPECT_EQ("0x2", Stored(locked));
    EXPECT_EQ("0x2", Stored(open));
    EXPECT_EQ(0444u, Mode(locked));
    EXPECT_EQ(0644u, Mode(open));
    // The entries carry the new words without a new listing.
    EXPECT_EQ(uint32_t(faReadOnly | faHidden), Entry("locked").Attr);
    EXPECT_EQ(uint32_t(faHidden), Entry("open").Attr);
}

TEST_F(AttributesCommandTest, AClickedGrayedBoxNeverTurnsGrayAgainAndAppliesToAll)
{
    const std::string locked = Make("locked", 0444);
    const std::string open = Make("open");
    ASSERT_EQ(0, ::mkdir((dir_ + "sub").c_str(), 0755));
    List({"locked", "open", "sub"});

    Run([&](AttributesDialog& dialog) {
        QCheckBox* box = dialog.Box(faReadOnly);
        EXPECT_EQ(Qt::PartiallyChecked, box->checkState());
        Click(dialog, faReadOnly);
        EXPECT_EQ(Qt::Checked, box->checkState());
        Click(dialog, faReadOnly);
        EXPECT_EQ(Qt::Unchecked, box->checkState());
        Click(dialog, faReadOnly);
        EXPECT_EQ(Qt::Checked, box->checkState());
        return int(QDialog::Accepted);
    });
    EXPECT_EQ(0444u, Mode(locked));
    EXPECT_EQ(0444u, Mode(open));
    EXPECT_EQ(0555u, Mode(dir_ + "sub"));
    EXPECT_EQ(uint32_t(faDirectory | faReadOnly), Entry("sub").Attr);

    // A uniform box starts in its common state.
    controls_.SetSelected(Row("sub"), false);
    Run([&](AttributesDialog& dialog) {
        EXPECT_EQ(Qt::Checked, dialog.Box(faReadOnly)->checkState());
        EXPECT_FALSE(dialog.Box(faReadOnly)->isTristate());
        return int(QDialog::Rejected);
    });
}

TEST_F(AttributesCommandTest, NothingChangedOrCancelWritesNothing)
{
    Make("locked", 0444);
    List({"locked"});
    // The file vanishes while the dialog is open: any attempt to write would
    // report that it cannot be read.
    auto vanish = [&](int result) {
        return [this, result](AttributesDialog&) {
            ::unlink((dir_ + "locked").c_str());
            return result;
        };
    };
    Run(vanish(QDialog::Accepted));
    Make("locked", 0444);
    Run([&](AttributesDialog& dialog) {
        Click(dialog, faArchive);
        ::unlink((dir_ + "locked").c_str());
        return int(QDialog::Rejected);
    });
    EXPECT_TRUE(messages_.log.isEmpty()) << messages_.log.join('|').toStdString();
}

TEST_F(AttributesCommandTest, WritesAgainstTheCurrentAttributesAndWarnsPerEntry)
{
    if (!XattrsSupported())
        GTEST_SKIP() << "no user extended attributes on " << dir_;
    const std::string first = Make("a-first");
    const std::string gone = Make("b-gone");
    const std::string changed = Make("c-changed");
    List({"a-first", "b-gone", "c-changed"});

    Run([&](AttributesDialog& dialog) {
        Click(dialog, faArchive);
        // Meanwhile someone else removes one file and marks another system
        // and read-only.
        ::unlink(gone.c_str());
        EXPECT_EQ(0, ::setxattr(changed.c_str(), "user.DOSATTRIB", "0x4", 3, 0));
        EXPECT_EQ(0, ::chmod(changed.c_str(), 0444));
        return int(QDialog::Accepted);
    });
    EXPECT_EQ(messages_.log, QStringList({"warning: An error occurred retrieving attributes for\nb-gone"}));
    EXPECT_EQ("0x20", Stored(first));
    EXPECT_EQ("0x24", Stored(changed));
    EXPECT_EQ(0444u, Mode(changed));
    EXPECT_EQ(uint32_t(faArchive), Entry("a-first").Attr);
    EXPECT_EQ(uint32_t(faArchive | faSysFile | faReadOnly), Entry("c-changed").Attr);
    EXPECT_EQ(0u, Entry("b-gone").Attr) << "a failed entry keeps its word";
}

TEST_F(AttributesCommandTest, ClearingHiddenOnADotNameIsASettingFailure)
{
    const std::string dotted = Make(".dotted");
    const std::string plain = Make("plain");
    List({".dotted", "plain"});

    Run([&](AttributesDialog& dialog) {
        EXPECT_EQ(Qt::PartiallyChecked, dialog.Box(faHidden)->checkState());
        Click(dialog, faHidden);
        Click(dialog, faHidden);
        EXPECT_EQ(Qt::Unchecked, dialog.Box(faHidden)->checkState());
        Click(dialog, faReadOnly);
        return int(QDialog::Accepted);
    });
    EXPECT_EQ(messages_.log, QStringList({"warning: An error occurred setting attributes for\n.dotted"}));
    EXPECT_EQ(0644u, Mode(dotted)) << "the refused entry is left as it was";
    EXPECT_EQ(uint32_t(faHidden), Entry(".dotted").Attr);
    EXPECT_EQ(0444u, Mode(plain));
    EXPECT_EQ(uint32_t(faReadOnly), Entry("plain").Attr);
}

TEST_F(AttributesCommandTest, RefusesParentEntryArchivesAndEmptySelections)
{
    const std::string file = Make("file");
    List({}); // nothing selected: no dialog, no message
    EXPECT_EQ(0, Run([](AttributesDialog&) { return int(QDialog::Accepted); }));
    EXPECT_TRUE(messages_.log.isEmpty());

    controls_.SetSelected(Row(".."), true);
    controls_.SetSelected(Row("file"), true);
    EXPECT_EQ(0, Run([](AttributesDialog&) { return int(QDialog::Accepted); }));
    EXPECT_EQ(messages_.log,
              QStringList({"information: Attributes are supported only for files and true directories."}));

    messages_.log.clear();
    controls_.SetSelected(Row(".."), false);
    pane_.ZipMode = 1;
    EXPECT_EQ(0, Run([](AttributesDialog&) { return int(QDialog::Accepted); }));
    EXPECT_EQ(messages_.log,
              QStringList({"information: Attributes are not (yet) supported for compressed files."}));
    pane_.ZipMode = 0;
    EXPECT_EQ(0644u, Mode(file));
}

} // namespace

namespace {

// A re-read of the pane while the dialog is open puts other entries in the
// selected rows: the change still goes to the files that were selected.
TEST_F(AttributesCommandTest, PaneReadAgainDuringTheDialogChangesTheSelectedFilesOnly)
{
    const std::string b = Make("b.txt");
    const std::string c = Make("c.txt");
    List({"c.txt"});
    Run([&](AttributesDialog& dialog) {
        const std::string a = Make("a.txt"); // sorts first: c.txt moves down a row
        ReadDirectory(pane_);
        Click(dialog, faReadOnly);
        return int(QDialog::Accepted);
    });
    EXPECT_EQ(0444u, Mode(c));
    EXPECT_EQ(0644u, Mode(b));
    EXPECT_EQ(0644u, Mode(dir_ + "a.txt"));
    EXPECT_TRUE(Entry("c.txt").Attr & faReadOnly);
}

} // namespace
