#include "panes/TempTree.h"
#include "platform/Volumes.h"
#include "widgets/IconCache.h"
#include "widgets/MimeIconResolver.h"
#include "app/TryWait.h"

#include <QMimeDatabase>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

using namespace tarnel;

namespace {

int KeyOf(const char* mimeName) { return Icons().KeyForMimeType(QMimeDatabase().mimeTypeForName(mimeName)); }

TEST(MimeIconResolver, NameFirstContentOnlyWhenTheNameSaysNothing)
{
    test::TempTree tree;
    const std::string pdf = "%PDF-1.4\n%\xe2\xe3\xcf\xd3\n1 0 obj\n<< /Type /Catalog >>\nendobj\n";
    {
        FILE* f = fopen((tree.Path() + "report").c_str(), "wb");
        ASSERT_NE(f, nullptr);
        fwrite(pdf.data(), 1, pdf.size(), f);
        fclose(f);
        std::filesystem::copy_file(tree.Path() + "report", tree.Path() + "report.txt");
    }
    std::filesystem::create_symlink(tree.Path() + "report", tree.Path() + "pointer");
    ASSERT_EQ(mkfifo((tree.Path() + "pipe").c_str(), 0644), 0);

    MimeIconResolver resolver;
    EXPECT_EQ(resolver.TypeOfFile(tree.Path() + "report").name().toStdString(), "application/pdf") << "by content";
    EXPECT_EQ(resolver.TypeOfFile(tree.Path() + "report.txt").name().toStdString(), "text/plain") << "the name wins";
    EXPECT_EQ(resolver.TypeOfFile(tree.Path() + "pointer").name().toStdString(), "application/pdf")
        << "a link is its target";
    EXPECT_TRUE(resolver.TypeOfFile(tree.Path() + "missing").isDefault());

}

// The icon thread goes over every entry of a listing: by name alone, and
// provisionally, without asking anything of the file system.
TEST(MimeIconResolver, TheIconThreadGoesByNameAloneAndTouchesNoFile)
{
    test::TempTree tree;
    {
        std::ofstream(tree.Path() + "report") << "%PDF-1.4\n";
    }
    ASSERT_EQ(mkfifo((tree.Path() + "pipe.txt").c_str(), 0644), 0);
    const int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(watch, 0);
    ASSERT_GE(inotify_add_watch(watch, tree.Path().c_str(), IN_OPEN | IN_ACCESS), 0);

    MimeIconResolver resolver;
    EXPECT_EQ(resolver.IconKeyFor(fkFile, tree.Path() + "report", nullptr), -KeyOf("application/octet-stream"));
    EXPECT_EQ(resolver.IconKeyFor(fkFile, tree.Path() + "pipe.txt", nullptr), -KeyOf("text/plain"));
    EXPECT_EQ(resolver.IconKeyFor(fkFile, "/no/such/dir/photo.png", nullptr), -KeyOf("image/png"));

    char events[4096];
    EXPECT_LE(::read(watch, events, sizeof events), 0) << "a file was opened";
    ::close(watch);

    // The other pane on the same folder, or another folder with the same
    // names: the answers are shared, nothing is looked up again.
    const int lookups = MimeIconResolver::NameLookups();
    MimeIconResolver other;
    EXPECT_EQ(other.IconKeyFor(fkFile, tree.Path() + "report", nullptr), -KeyOf("application/octet-stream"));
    EXPECT_EQ(other.IconKeyFor(fkFile, "/elsewhere/pipe.txt", nullptr), -KeyOf("text/plain"));
    EXPECT_EQ(MimeIconResolver::NameLookups(), lookups);
}

// Rows that show are looked at on a worker, once for every pane: what the
// node is first (a fifo named .txt), then the content when the name says nothing.
TEST(ContentLooks, ShownFilesAreLookedAtOnceAndTheAnswerIsShared)
{
    test::TempTree tree;
    const std::string report = tree.Path() + "report";
    {
        std::ofstream(report) << "%PDF-1.4\n%\xe2\xe3\xcf\xd3\n1 0 obj\n<< /Type /Catalog >>\nendobj\n";
    }
    ASSERT_EQ(mkfifo((tree.Path() + "pipe.txt").c_str(), 0644), 0);
    ContentLooks& looks = ContentLooks::Instance();
    QSignalSpy answered(&looks, &ContentLooks::answered);
    const int before = looks.LooksDone();

    EXPECT_EQ(looks.KeyFor(report, 40, 7), 0) << "never waits for the answer";
    EXPECT_EQ(looks.KeyFor(report, 40, 7), 0) << "asked twice, looked at once";
    TRY_COMPARE(looks.KeyFor(report, 40, 7), KeyOf("application/pdf"));
    EXPECT_GE(answered.count(), 1);
    EXPECT_EQ(looks.KeyFor(report, 40, 7), KeyOf("application/pdf")) << "the other pane's paint";
    EXPECT_EQ(looks.LooksDone(), before + 1);

    TRY_COMPARE(looks.KeyFor(tree.Path() + "pipe.txt", 0, 7), KeyOf("inode/fifo"));

    // The file changed since: looked at again.
    {
        std::ofstream(report) << "plain words";
    }
    EXPECT_EQ(looks.KeyFor(report, 11, 8), 0);
    TRY_COMPARE(looks.KeyFor(report, 11, 8), KeyOf("text/plain"));
}

// Nodes that hold no file data take their type from what they are, whatever
// their name, and are never opened: opening a terminal or the kernel log acts,
// and opening a fifo may take a waiting writer's data.
// Names alike from their first dot on share one lookup, yet every name gets
// the type the database gives that very name: literal names, prefixes,
// numbered suffixes and letter case included.
TEST(MimeIconResolver, NamesOfOneKindShareALookupAndKeepTheirOwnType)
{
    const QMimeDatabase db;
    MimeIconResolver resolver;
    const auto byDatabase = [&](const std::string& name) {
        return -Icons().KeyForMimeType(db.mimeTypeForFile(QString::fromStdString(name), QMimeDatabase::MatchExtension));
    };
    resolver.IconKeyFor(fkFile, "/a/0_item.cpp", nullptr);
    const int lookups = MimeIconResolver::NameLookups();
    for (int i = 1; i < 500; ++i)
        EXPECT_EQ(resolver.IconKeyFor(fkFile, "/a/" + std::to_string(i) + "_item.cpp", nullptr), byDatabase("x.cpp"));
    EXPECT_EQ(MimeIconResolver::NameLookups(), lookups) << "names of one kind were looked up one by one";

    for (const std::string name :
         {"Makefile", "makefile.in", "README", "readme.txt", "README.md", "core", "libz.so.1", "libz.so.1.2", "x.so",
          "page.1", "page.x", "a.tar.gz", "b.gz", "c.C", "c.c", "notes~", "x,v", "001.vdr", "frame.anim3", "noext",
          ".hidden", ".txt", "CMakeLists.txt", "other.txt", "caf\xc3\xa9.png", "plain\xffname.txt"}) {
        EXPECT_EQ(resolver.IconKeyFor(fkFile, "/b/" + name, nullptr), byDatabase(name)) << name;
        EXPECT_EQ(resolver.IconKeyFor(fkFile, "/c/" + name, nullptr), byDatabase(name)) << name << ", asked again";
    }
}

TEST(MimeIconResolver, FifosDevicesAndSocketsByTheirTypeNeverOpened)
{
    test::TempTree tree;
    for (const char* name : {"pipe", "pipe.txt"})
        ASSERT_EQ(mkfifo((tree.Path() + name).c_str(), 0644), 0);
    const int socketFd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string socketPath = tree.Path() + "socket.png";
    ASSERT_LT(socketPath.size(), sizeof address.sun_path);
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", socketPath.c_str());
    ASSERT_EQ(::bind(socketFd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    std::filesystem::create_symlink("/dev/null", tree.Path() + "null.txt");

    const int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(watch, 0);
    ASSERT_GE(inotify_add_watch(watch, tree.Path().c_str(), IN_OPEN), 0);

    MimeIconResolver resolver;
    EXPECT_EQ(resolver.TypeOfFile(tree.Path() + "pipe").name().toStdString(), "inode/fifo");
    EXPECT_EQ(resolver.TypeOfFile(tree.Path() + "pipe.txt").name().toStdString(), "inode/fifo")
        << "the type, not the name";
    EXPECT_EQ(resolver.TypeOfFile(socketPath).name().toStdString(), "inode/socket");
    EXPECT_EQ(resolver.TypeOfFile(tree.Path() + "null.txt").name().toStdString(), "inode/chardevice");
    if (access("/dev/zero", F_OK) == 0)
        EXPECT_EQ(resolver.TypeOfFile("/dev/zero").name().toStdString(), "inode/chardevice");

    alignas(inotify_event) char events[4096];
    const ssize_t got = ::read(watch, events, sizeof events);
    std::string opened;
    for (ssize_t at = 0; at < got;) {
        const auto* e = reinterpret_cast<const inotify_event*>(events + at);
        opened += std::string(e->len ? e->name : "(directory)") + " ";
        at += ssize_t(sizeof(inotify_event) + e->len);
    }
    EXPECT_EQ(opened, "") << "opened: " << opened;
    ::close(watch);
    ::close(socketFd);
}

TEST(MimeIconResolver, FoldersAndDrivesByKind)
{
    MimeIconResolver resolver;
    const Volume usb{"/media/usb", DriveType::Removable, "vfat", "/dev/sdb1", "", "/media/usb", "usb"};
    EXPECT_EQ(resolver.IconKeyFor(fkDirectory, "/tmp/.", nullptr), Icons().FolderKey());
    EXPECT_EQ(resolver.IconKeyFor(fkDirectory, "/no/such/dir", nullptr), Icons().FolderKey());
    EXPECT_EQ(resolver.IconKeyFor(fkDrive, "/media/usb", &usb), Icons().DriveKey(DriveType::Removable));
    EXPECT_EQ(resolver.IconKeyFor(fkDrive, "", nullptr), Icons().DriveKey(DriveType::Fixed));
}

} // namespace
