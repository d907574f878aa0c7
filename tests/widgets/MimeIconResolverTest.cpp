#include "panes/TempTree.h"
#include "platform/Volumes.h"
#include "widgets/IconCache.h"
#include "widgets/MimeIconResolver.h"

#include <QMimeDatabase>

#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>

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
    EXPECT_EQ(resolver.TypeOfFile(tree.Path() + "report").name(), "application/pdf") << "by content";
    EXPECT_EQ(resolver.TypeOfFile(tree.Path() + "report.txt").name(), "text/plain") << "the name wins";
    EXPECT_TRUE(resolver.TypeOfFile(tree.Path() + "pointer").isDefault()) << "links are not followed";
    EXPECT_TRUE(resolver.TypeOfFile(tree.Path() + "pipe").isDefault()) << "a pipe is not read (nor waited on)";
    EXPECT_TRUE(resolver.TypeOfFile(tree.Path() + "missing").isDefault());

    EXPECT_EQ(resolver.IconKeyFor(fkFile, tree.Path() + "report", nullptr), KeyOf("application/pdf"));
    EXPECT_EQ(resolver.IconKeyFor(fkFile, tree.Path() + "report.txt", nullptr), KeyOf("text/plain"));
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
