// Lists a generated archive of 100,000 members in 1,000 folders the way a
// pane does (the table read from the local headers, the root folder built)
// and compares it with "unzip -l" and "zipinfo -1" on the same archive; then
// adds 10,000 small files at level 9 and extracts them again through the
// driver and the two libraries, against "zip -q -r -9" and "unzip -q -o".
// All in the same run.
//
// With TARNEL (the program built in the same tree) it also times the whole
// "tarnel --list ARCHIVE" command, start to exit, against "unzip -l".
//
// usage: zip_list_bench [WORKDIR] [ROUNDS] [LIBRARYDIR] [TARNEL]
#include "fileops/model/ZipMaster.h"
#include "panes/DirData.h"
#include "panes/HeadlessPane.h"
#include "panes/ReadDirectory.h"
#include "sources/ZipSource.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

using namespace tarnel;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kFolders = 1000;
constexpr int kPerFolder = 100;

// zip makes the archive from a tree of small files (once; kept between runs).
std::string MakeArchive(const std::string& work)
{
    const std::string archive = work + "/big.zip";
    if (std::filesystem::exists(archive))
        return archive;
    const std::string tree = work + "/tree";
    for (int d = 0; d < kFolders; ++d) {
        const std::string dir = tree + "/folder" + std::to_string(d);
        std::filesystem::create_directories(dir);
        for (int f = 0; f < kPerFolder; ++f) {
            FILE* out = std::fopen((dir + "/member_" + std::to_string(f) + ".txt").c_str(), "w");
            std::fprintf(out, "%d/%d\n", d, f);
            std::fclose(out);
        }
    }
    const std::string command = "cd '" + tree + "' && zip -q -r -0 '" + archive + "' .";
    if (std::system(command.c_str()) != 0)
        std::exit(1);
    std::filesystem::remove_all(tree);
    return archive;
}

void MakeSmallTree(const std::string& tree)
{
    for (int d = 0; d < 100; ++d) {
        const std::string dir = tree + "/small/d" + std::to_string(d);
        std::filesystem::create_directories(dir);
        for (int f = 0; f < 100; ++f) {
            FILE* out = std::fopen((dir + "/f" + std::to_string(f) + ".txt").c_str(), "w");
            for (int line = 0; line < 20; ++line)
                std::fprintf(out, "line %d of file %d in folder %d\n", line, f, d);
            std::fclose(out);
        }
    }
}

void Run(const std::string& command)
{
    if (std::system(command.c_str()) != 0)
        std::exit(1);
}

template <class F>
double Best(int rounds, F&& run)
{
    double best = 1e9;
    for (int i = 0; i < rounds; ++i) {
        const auto start = Clock::now();
        run();
        best = std::min(best, std::chrono::duration<double>(Clock::now() - start).count());
    }
    return best;
}

} // namespace

int main(int argc, char** argv)
{
    const std::string work = argc > 1 ? argv[1] : "/tmp/tarnel-zip-bench";
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 5;
    std::filesystem::create_directories(work);
    const std::string archive = MakeArchive(work);

    TZipMaster zip;
    // Listing reads through the source's own drivers, kept between rounds as
    // a window keeps them between visits.
    auto sources = std::make_shared<SourceTable>(*DefaultSources());
    sources->zip = std::make_shared<ZipSource>(&zip);
    int rows = 0;
    const double pane = Best(rounds, [&] {
        HeadlessPane controls;
        DriveList noDrives;
        TDirData listing;
        listing.Controls = &controls;
        listing.Drives = &noDrives;
        listing.MoveTo(PanePlace::Archive(archive));
        listing.Sources = sources;
        ReadDirectory(listing);
        rows = listing.Count;
    });
    const std::string quiet = " '" + archive + "' >/dev/null";
    const double unzip = Best(rounds, [&] { std::system(("unzip -l" + quiet).c_str()); });
    const double zipinfo = Best(rounds, [&] { std::system(("zipinfo -1" + quiet).c_str()); });
    const std::string program = argc > 4 ? std::filesystem::absolute(argv[4]).string() : "";
    const double command =
        program.empty() ? 0 : Best(rounds, [&] { std::system(("'" + program + "' --list" + quiet).c_str()); });
    // Adding and extracting 10,000 small files.
    if (argc > 3)
        zip.OwnLibraryDirectory = std::filesystem::absolute(argv[3]).string(); // the adding round changes directory
    const std::string tree = work + "/addtree";
    if (!std::filesystem::exists(tree))
        MakeSmallTree(tree);
    const std::string ours = work + "/ours.zip", theirs = work + "/theirs.zip";
    const double add = Best(rounds, [&] {
        std::filesystem::remove(ours);
        std::filesystem::current_path(tree);
        zip.SetZipFilename(ours);
        zip.AddCompLevel = 9;
        zip.AddOptions = {AddOpt::AddDirNames, AddOpt::AddRecurseDirs};
        zip.FSpecArgs = {"small"};
        zip.Verbose = false;
        zip.AddFiles();
    });
    const int added = zip.SuccessCount();
    const double zipAdd = Best(rounds, [&] {
        std::filesystem::remove(theirs);
        Run("cd '" + tree + "' && zip -q -r -9 '" + theirs + "' small");
    });
    const std::string outOurs = work + "/out-ours", outTheirs = work + "/out-theirs";
    const double extract = Best(rounds, [&] {
        std::filesystem::remove_all(outOurs);
        std::filesystem::create_directories(outOurs);
        zip.SetZipFilename(ours);
        zip.ExtrOptions = {ExtrOpt::ExtrDirNames, ExtrOpt::ExtrOverWrite};
        zip.ExtrBaseDir = outOurs;
        zip.ExtractFiles();
    });
    const int extracted = zip.SuccessCount();
    const double unzipExtract = Best(rounds, [&] {
        std::filesystem::remove_all(outTheirs);
        std::filesystem::create_directories(outTheirs);
        Run("unzip -q -o '" + theirs + "' -d '" + outTheirs + "'");
    });

    std::printf("archive of %d members in %d folders, %d rows at its root\n", kFolders * kPerFolder, kFolders, rows);
    std::printf("pane listing  %8.3f s\nunzip -l      %8.3f s\nzipinfo -1    %8.3f s\n", pane, unzip, zipinfo);
    if (!program.empty())
        std::printf("tarnel --list %8.3f s (the whole command)\n", command);
    std::printf("add %d files, level 9: driver %8.3f s, zip -q -r -9 %8.3f s (ours %lld bytes, zip's %lld)\n", added,
                add, zipAdd, (long long)std::filesystem::file_size(ours), (long long)std::filesystem::file_size(theirs));
    std::printf("extract %d files: driver %8.3f s, unzip -q -o %8.3f s\n", extracted, extract, unzipExtract);
    return 0;
}
