// The libarchive source against bsdtar in the same run: listing a generated
// .tar.zst of 100,000 members in 1,000 folders (the table read and the top
// folder built, as a pane's first read does) against "bsdtar -tf"; entering
// one folder once the table is kept; and extracting 10,000 small members of
// a .tar.gz through the copy-out path against "bsdtar -xf".
//
// usage: archive_list_bench [WORKDIR] [ROUNDS]
#include "sources/ArchiveSource.h"
#include "sources/archive/ArchiveExtract.h"
#include "sources/archive/ArchiveTable.h"

#include <archive.h>
#include <archive_entry.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

using namespace tarnel;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

namespace {

struct Count : ListSink {
    size_t entries = 0;
    void Chunk(std::vector<SourceEntry>&& chunk) override { entries += chunk.size(); }
};

// Written through libarchive straight away: no tree of files on disk needed.
std::string MakeTar(const std::string& path, int folders, int perFolder, int filter)
{
    if (fs::exists(path))
        return path;
    struct archive* a = archive_write_new();
    archive_write_set_format_pax_restricted(a);
    archive_write_add_filter(a, filter);
    archive_write_open_filename(a, path.c_str());
    for (int d = 0; d < folders; ++d)
        for (int f = 0; f < perFolder; ++f) {
            const std::string name = "folder" + std::to_string(d) + "/file" + std::to_string(f) + ".txt";
            const std::string data = "member " + name + "\n";
            struct archive_entry* e = archive_entry_new();
            archive_entry_set_pathname(e, name.c_str());
            archive_entry_set_filetype(e, AE_IFREG);
            archive_entry_set_perm(e, 0644);
            archive_entry_set_size(e, la_int64_t(data.size()));
            archive_entry_set_mtime(e, 1600000000, 0);
            archive_write_header(a, e);
            archive_write_data(a, data.data(), data.size());
            archive_entry_free(e);
        }
    archive_write_close(a);
    archive_write_free(a);
    return path;
}

double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

double Best(int rounds, const std::function<void()>& run)
{
    double best = 1e9;
    for (int i = 0; i < rounds; ++i) {
        const auto start = Clock::now();
        run();
        best = std::min(best, Seconds(start));
    }
    return best;
}

} // namespace

int main(int argc, char** argv)
{
    const std::string work = argc > 1 ? argv[1] : "/dev/shm/tarnel-archive-bench";
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 3;
    fs::create_directories(work);
    const std::string big = MakeTar(work + "/big.tar.zst", 1000, 100, ARCHIVE_FILTER_ZSTD);
    const std::string small = MakeTar(work + "/small.tar.gz", 100, 100, ARCHIVE_FILTER_GZIP);

    const CancelToken never;
    size_t listed = 0;
    const double list = Best(rounds, [&] {
        ArchiveSource source; // a fresh table each round
        PanePlace place = PanePlace::Archive(big);
        place.SourceName = kArchiveSourceName;
        Count sink;
        source.List(place, sink, never);
        listed = sink.entries;
    });
    const double peerList = Best(rounds, [&] {
        if (std::system(("bsdtar -tf '" + big + "' >/dev/null").c_str()) != 0)
            std::abort();
    });
    std::printf("list 100,000-member .tar.zst: tarnel %.3f s (%zu rows at the top), bsdtar -tf %.3f s, ratio %.2f\n",
                list, listed, peerList, list / peerList);

    ArchiveSource kept;
    PanePlace place = PanePlace::Archive(big);
    place.SourceName = kArchiveSourceName;
    Count first;
    kept.List(place, first, never);
    place.ZipPath = "folder500/";
    size_t inFolder = 0;
    const double enter = Best(rounds, [&] {
        Count sink;
        kept.List(place, sink, never);
        inFolder = sink.entries;
    });
    std::printf("enter one folder after the first listing: %.2f ms (%zu rows; target under 50 ms)\n", enter * 1000,
                inFolder);

    const std::shared_ptr<const ArchiveTable> table = ReadArchiveTable(small, never);
    std::vector<ArchiveExtractItem> plan;
    for (const ArchiveMember& m : table->members)
        plan.push_back({m.ordinal, m.path, false});
    const std::string ours = work + "/ours", theirs = work + "/theirs";
    const double extract = Best(rounds, [&] {
        fs::remove_all(ours);
        fs::create_directories(ours);
        const ArchiveExtractReport report = ExtractArchiveMembers(small, *table, plan, ours);
        if (report.done.size() != plan.size())
            std::abort();
    });
    const double peerExtract = Best(rounds, [&] {
        fs::remove_all(theirs);
        fs::create_directories(theirs);
        if (std::system(("bsdtar -xf '" + small + "' -C '" + theirs + "'").c_str()) != 0)
            std::abort();
    });
    std::printf("extract 10,000 small members of a .tar.gz: tarnel %.3f s, bsdtar -xf %.3f s, ratio %.2f "
                "(target at most 1.2)\n",
                extract, peerExtract, extract / peerExtract);
    return 0;
}
