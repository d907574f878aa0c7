// Lists a generated archive of 100,000 members in 1,000 folders the way a
// pane does (the table read from the local headers, the root folder built)
// and compares it with "unzip -l" and "zipinfo -1" on the same archive, in
// the same run.
//
// usage: zip_list_bench [WORKDIR] [ROUNDS]
#include "fileops/model/ListArchivePane.h"
#include "fileops/model/ZipMaster.h"
#include "panes/DirData.h"
#include "panes/HeadlessPane.h"
#include "panes/ReadDirectory.h"

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
    int rows = 0;
    const double pane = Best(rounds, [&] {
        HeadlessPane controls;
        DriveList noDrives;
        TDirData listing;
        listing.Controls = &controls;
        listing.Drives = &noDrives;
        listing.Path = archive;
        listing.ZipMode = 1;
        listing.ListArchive = [&](TDirData& p, const std::string& filter, ExtensionList& patterns) {
            ListArchivePane(p, filter, patterns, zip);
        };
        ReadDirectory(listing);
        rows = listing.Count;
    });
    const std::string quiet = " '" + archive + "' >/dev/null";
    const double unzip = Best(rounds, [&] { std::system(("unzip -l" + quiet).c_str()); });
    const double zipinfo = Best(rounds, [&] { std::system(("zipinfo -1" + quiet).c_str()); });
    std::printf("archive of %d members in %d folders, %d rows at its root\n", kFolders * kPerFolder, kFolders, rows);
    std::printf("pane listing  %8.3f s\nunzip -l      %8.3f s\nzipinfo -1    %8.3f s\n", pane, unzip, zipinfo);
    return 0;
}
