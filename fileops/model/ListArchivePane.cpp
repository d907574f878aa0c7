#include "fileops/model/ListArchivePane.h"

#include "fileops/model/ZipMaster.h"
#include "panes/DirData.h"
#include "panes/Matcher.h"
#include "panes/PaneControls.h"
#include "panes/PathUtil.h"
#include "platform/DirectoryReader.h"

#include <string_view>
#include <sys/stat.h>
#include <unordered_map>

namespace tarnel {

namespace {

std::string LowerAscii(std::string_view text)
{
    std::string lower(text);
    for (char& c : lower)
        c = LowerAsciiChar(c);
    return lower;
}

bool StartsWithIgnoreCase(std::string_view text, std::string_view prefix)
{
    return text.size() >= prefix.size() && EqualsIgnoreCase(text.substr(0, prefix.size()), prefix);
}

int32_t ModificationTime(const std::string& path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 ? int32_t(DosTimeFromUnix(st.st_mtime)) : 0;
}

// Keeps the gauge's calls to one per percent: a large archive has many
// more members than the gauge has steps.
class Gauge {
public:
    Gauge(PaneControls* controls, size_t total) : controls_(controls), total_(total) {}
    ~Gauge()
    {
        if (controls_)
            controls_->SetGauge(0, false);
    }
    Gauge(const Gauge&) = delete;
    Gauge& operator=(const Gauge&) = delete;
    void Step(size_t position)
    {
        const int percent = total_ ? int(position * 100 / total_) : 100;
        if (controls_ && percent != shown_)
            controls_->SetGauge(shown_ = percent, true);
    }

private:
    PaneControls* controls_;
    size_t total_;
    int shown_ = -1;
};

class ArchiveListing {
public:
    ArchiveListing(TDirData& pane, const std::string& filter, ExtensionList& patterns)
        : pane_(pane), filter_(filter), patterns_(patterns)
    {
    }

    void AddParent(int32_t time)
    {
        TFileData& e = pane_.NewEntry();
        e.Kind = fkDirectory;
        e.Name = "..";
        e.Time = time;
        e.Size = -1;
        dirs_.push_back(&e);
    }

    void Add(const ZipDirEntry& member)
    {
        const std::string& name = member.FileName;
        if (!StartsWithIgnoreCase(name, pane_.ZipPath))
            return;
        const std::string_view rest = std::string_view(name).substr(pane_.ZipPath.size());
        const size_t slash = rest.find('/');
        if (slash != std::string_view::npos) {
            TFileData* dir = Folder(rest.substr(0, slash), int32_t(member.DateTime));
            if (dir && !member.IsDirectory())
                dir->Size += int64_t(member.UncompressedSize);
            else if (!dir)
                ++unlisted_;
            return;
        }
        if (rest == "." || rest == "..")
            ++unlisted_;
        if (rest.empty() || rest == "." || rest == "..")
            return; // the folder's own entry, or a name no row may carry
        patterns_.AddPattern(ExtensionPatternOf(rest));
        if (!Match(filter_, rest))
            return;
        TFileData& e = pane_.NewEntry();
        e.Kind = fkFile;
        e.Name = std::string(rest);
        e.Time = int32_t(member.DateTime);
        e.Size = int64_t(member.UncompressedSize);
        e.ZipIndex = member.CentralIndex;
        files_.push_back(&e);
    }

    // Folders are placed ahead of the files, the newest first, as inserting
    // each at the front would; sorting orders them afterwards.
    void Finish()
    {
        pane_.Items.insert(pane_.Items.end(), dirs_.rbegin(), dirs_.rend());
        pane_.Items.insert(pane_.Items.end(), files_.begin(), files_.end());
        pane_.DirCount = int(dirs_.size());
        pane_.FileCount = int(files_.size());
    }

    // Members of this folder that no row can show (an absolute name, an
    // empty, "." or ".." part): the user is told they are there.
    size_t Unlisted() const { return unlisted_; }

private:
    // The folder entry of that name, made at its first mention; none for an
    // empty name (a doubled "/") nor for "." and "..", which would pose as
    // the way out.
    TFileData* Folder(std::string_view name, int32_t time)
    {
        if (name.empty() || name == "." || name == "..")
            return nullptr;
        auto [it, made] = folders_.try_emplace(LowerAscii(name), nullptr);
        if (made) {
            TFileData& e = pane_.NewEntry();
            e.Kind = fkDirectory;
            e.Name = std::string(name);
            e.Time = time;
            e.Size = 0;
            e.SizeDone = 1;
            dirs_.push_back(&e);
            it->second = &e;
        }
        return it->second;
    }

    TDirData& pane_;
    const std::string& filter_;
    ExtensionList& patterns_;
    std::vector<TFileData*> dirs_, files_;
    std::unordered_map<std::string, TFileData*> folders_;
    size_t unlisted_ = 0;
};

} // namespace

std::string ListArchivePane(TDirData& pane, const std::string& filter, ExtensionList& patterns, TZipMaster& zip)
{
    const std::string archive = pane.Path.size() > 1 && pane.Path.back() == '/' ? pane.Path.substr(0, pane.Path.size() - 1)
                                                                                 : pane.Path;
    ArchiveListing listing(pane, filter, patterns);
    listing.AddParent(ModificationTime(archive));
    std::string error;
    try {
        zip.SetZipFilename(archive);
    } catch (const ZipReadError& e) {
        error = e.what();
    }
    const std::vector<ZipDirEntry>& contents = zip.ZipContents();
    {
        Gauge gauge(pane.Controls, contents.size());
        for (size_t i = 0; i < contents.size(); ++i) {
            gauge.Step(i + 1);
            listing.Add(contents[i]);
        }
    }
    listing.Finish();
    if (listing.Unlisted() > 0) {
        const std::string hidden = std::to_string(listing.Unlisted()) +
                                   " member(s) here are not listed: their names are absolute or hold an empty, "
                                   "\".\" or \"..\" part";
        error = error.empty() ? hidden : error + "; " + hidden;
    }
    return error;
}

} // namespace tarnel
