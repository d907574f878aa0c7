#include "sources/ArchiveSource.h"

#include "panes/FileData.h"
#include "panes/PathUtil.h"
#include "platform/DirectoryReader.h"
#include "platform/ShellFileOperation.h"
#include "sources/archive/ArchiveExtract.h"
#include "sources/archive/ArchiveTable.h"
#include "sources/archive/ArchiveWriteOperations.h"

#include <map>
#include <set>
#include <string_view>
#include <sys/stat.h>

namespace tarnel {

bool ArchiveFormatWritable(const ArchiveTable& table) { return table.writable; }

namespace {

bool InArchiveSource(const PanePlace& place) { return std::string_view(place.Source()) == kArchiveSourceName; }

bool IsTransfer(int code) { return code == FO_COPY || code == FO_MOVE; }

class Chunks {
public:
    Chunks(ListSink& sink) : sink_(sink) {}
    ~Chunks()
    {
        if (!chunk_.empty())
            sink_.Chunk(std::move(chunk_));
    }
    SourceEntry& Add()
    {
        if (chunk_.size() == FileSource::kChunkSize)
            sink_.Chunk(std::exchange(chunk_, {}));
        return chunk_.emplace_back();
    }

private:
    ListSink& sink_;
    std::vector<SourceEntry> chunk_;
};

std::string JoinLines(const char* headline, const std::vector<std::string>& lines)
{
    std::string text = headline;
    for (size_t i = 0; i < lines.size() && i < 10; ++i)
        text += "\n" + lines[i];
    if (lines.size() > 10)
        text += "\n...";
    return text;
}

class ArchiveCopyOut : public SourceOperation {
public:
    ArchiveCopyOut(std::shared_ptr<ArchiveTableCache> tables, int code, const PanePlace& from, const PanePlace& to,
                   SourceOperationUi& ui)
        : tables_(std::move(tables)), code_(code), from_(from), to_(to), ui_(ui)
    {
    }

    SourceOperationResult Run(const std::vector<SourceRow>& rows) override
    {
        if (!InArchiveSource(from_)) { // files of another kind of place into the archive
            ui_.Inform("Files are put into an archive only from a folder of the disk.");
            return {};
        }
        const CancelToken never;
        const std::string archive = from_.ArchiveFile();
        const std::shared_ptr<const ArchiveTable> table = tables_->Get(archive, never);
        if (!table)
            return {};
        if (code_ == FO_PROPERTIES)
            return {};
        if (code_ == FO_RENAME) {
            ui_.Inform("Members of an archive cannot be renamed.");
            return {};
        }
        if (!IsTransfer(code_) || (code_ == FO_MOVE && !ArchiveFormatWritable(*table))) {
            ui_.Inform(kArchiveReadOnlyText);
            return {};
        }
        if (std::string_view(to_.Source()) != kLocalSourceName) {
            ui_.Inform("Members of an archive are copied out only to a folder of the disk.");
            return {};
        }
        std::vector<ArchiveExtractItem> plan;
        if (!Plan(*table, rows, plan))
            return {};
        if (!AskBeforeReplacing(*table, plan))
            return {};
        struct stat before {};
        const bool archiveSeen = ::stat(archive.c_str(), &before) == 0;
        const ArchiveExtractReport report = ExtractArchiveMembers(
            archive, *table, plan, to_.Path, [this](const std::string& name) { ui_.Status(name); });
        if (!report.refused.empty())
            ui_.Error(JoinLines(kNotCopiedFromArchiveText, report.refused));
        if (!report.stopped.empty())
            ui_.Error(report.stopped);
        if (code_ == FO_MOVE && archiveSeen && report.stopped.empty())
            return {RemoveMoved(archive, before, *table, rows, report), !report.done.empty()};
        return {false, !report.done.empty()};
    }

private:
    // The members the rows stand for, each with the place it takes below
    // the target: a file row is the member its index names, still under
    // the row's name; a folder row is everything below it.
    bool Plan(const ArchiveTable& table, const std::vector<SourceRow>& rows, std::vector<ArchiveExtractItem>& plan)
    {
        const std::string& base = from_.ZipPath;
        std::set<int64_t> chosen;
        std::vector<std::string> folders;
        for (const SourceRow& row : rows) {
            if (row.folder) {
                folders.push_back(base + row.name);
                continue;
            }
            const ArchiveMember* m = table.ByOrdinal(row.index);
            if (!m || m->path != base + row.name) {
                ui_.Error("The archive no longer holds " + row.name +
                          " as it was listed (it changed, or its entry is damaged); nothing was done.");
                return false;
            }
            chosen.insert(m->ordinal);
        }
        for (const std::string& folder : folders) {
            const std::string below = folder + "/";
            for (const ArchiveMember& m : table.members)
                if (!m.unsafe && (m.path == folder || m.path.starts_with(below)))
                    chosen.insert(m.ordinal);
        }
        for (const int64_t ordinal : chosen) {
            const ArchiveMember& m = *table.ByOrdinal(ordinal);
            // An earlier copy of a name stored twice is passed over for the last.
            if (const ArchiveMember* last = table.ByPath(m.path); last && last->ordinal != ordinal)
                continue;
            plan.push_back({ordinal, m.path.substr(base.size()), false});
        }
        return true;
    }

    // A move's second half: the rows whose every member reached the disk
    // leave the archive, by the same safe rewrite as a delete, and only
    // while the archive is still the file the copies came from.
    bool RemoveMoved(const std::string& archive, const struct stat& before, const ArchiveTable& table,
                     const std::vector<SourceRow>& rows, const ArchiveExtractReport& report)
    {
        const std::set<int64_t> done(report.done.begin(), report.done.end());
        std::vector<SourceRow> moved;
        for (const SourceRow& row : rows)
            if (AllCopied(table, row, done))
                moved.push_back(row);
        if (moved.empty())
            return false;
        struct stat now {};
        if (::stat(archive.c_str(), &now) != 0 || now.st_dev != before.st_dev || now.st_ino != before.st_ino ||
            now.st_size != before.st_size || now.st_mtim.tv_sec != before.st_mtim.tv_sec ||
            now.st_mtim.tv_nsec != before.st_mtim.tv_nsec) {
            ui_.Error("The archive changed while its members were copied out, so they were left in it: " + archive);
            return false;
        }
        MakeArchiveDelete(from_, ui_)->Run(moved);
        return true;
    }

    bool AllCopied(const ArchiveTable& table, const SourceRow& row, const std::set<int64_t>& done) const
    {
        const std::string path = from_.ZipPath + row.name;
        if (!row.folder) {
            const ArchiveMember* m = table.ByOrdinal(row.index);
            return m && done.count(m->ordinal) != 0;
        }
        // A member left behind (skipped, refused, or never to be written,
        // like a name that leads out) keeps its folder in the archive.
        const std::string below = path + "/";
        for (const ArchiveMember& m : table.members)
            if ((m.path == path || m.path.starts_with(below)) && m.type != ArchiveMember::Type::Folder &&
                done.count(m.ordinal) == 0)
                return false;
        return true;
    }

    // The disk copy's question for each file that is already there.
    bool AskBeforeReplacing(const ArchiveTable& table, std::vector<ArchiveExtractItem>& plan)
    {
        struct stat archive {};
        const bool archiveKnown = ::stat(from_.ArchiveFile().c_str(), &archive) == 0;
        ReplaceQuestions questions;
        std::vector<ArchiveExtractItem> kept;
        for (ArchiveExtractItem& item : plan) {
            const ArchiveMember& m = *table.ByOrdinal(item.ordinal);
            const std::string path = AddPathDelimiter(to_.Path) + item.relative;
            struct stat st;
            if (m.type == ArchiveMember::Type::Folder || ::lstat(path.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) {
                kept.push_back(item);
                continue;
            }
            if (archiveKnown && st.st_dev == archive.st_dev && st.st_ino == archive.st_ino) {
                ui_.Error("The archive cannot be replaced by its own member: " + path);
                continue;
            }
            const SourceOperationUi::FileFacts existing{int64_t(st.st_size), int64_t(st.st_mtime)};
            const SourceOperationUi::FileFacts incoming{m.size, m.mtime};
            const ReplaceQuestions::Choice choice =
                questions.Next([&] { return ui_.AskReplace(path, existing, incoming); });
            if (choice == ReplaceQuestions::Choice::Stop)
                return false;
            if (choice == ReplaceQuestions::Choice::Replace) {
                item.replace = true;
                kept.push_back(item);
            }
        }
        plan = std::move(kept);
        return true;
    }

    std::shared_ptr<ArchiveTableCache> tables_;
    int code_;
    PanePlace from_, to_;
    SourceOperationUi& ui_;
};

} // namespace

ArchiveSource::ArchiveSource() : tables_(std::make_shared<ArchiveTableCache>()) {}

ArchiveSource::~ArchiveSource() = default;

void ArchiveSource::List(const PanePlace& place, ListSink& sink, const CancelToken& cancel) const
{
    const std::string archive = place.ArchiveFile();
    const std::shared_ptr<const ArchiveTable> table = tables_->Get(archive, cancel, [&](int p) { sink.Progress(p); });
    if (!table || cancel.Cancelled())
        return;
    {
        Chunks chunks(sink);
        SourceEntry& up = chunks.Add();
        up.kind = fkDirectory;
        up.name = "..";
        up.size = -1;
        struct stat st;
        up.time = ::stat(archive.c_str(), &st) == 0 ? int32_t(DosTimeFromUnix(st.st_mtime)) : 0;
        const auto here = table->folders.find(place.ZipPath);
        if (here != table->folders.end()) {
            for (const std::string& name : here->second.folders) {
                if (cancel.Cancelled())
                    return;
                const ArchiveFolder& folder = table->folders.at(place.ZipPath + name + "/");
                SourceEntry& e = chunks.Add();
                e.kind = fkDirectory;
                e.name = name;
                e.size = folder.size;
                e.sizeDone = true;
                e.time = int32_t(DosTimeFromUnix(folder.mtime));
            }
            for (const size_t index : here->second.files) {
                if (cancel.Cancelled())
                    return;
                const ArchiveMember& m = table->members[index];
                SourceEntry& e = chunks.Add();
                e.kind = fkFile;
                e.name = m.path.substr(place.ZipPath.size());
                e.size = m.size;
                e.time = int32_t(DosTimeFromUnix(m.mtime));
                e.memberIndex = m.ordinal;
                if (m.encrypted)
                    e.description = "encrypted";
                else if (m.type == ArchiveMember::Type::Symlink)
                    e.description = "-> " + m.linkTarget;
            }
        }
    }
    std::string problem = table->problem;
    size_t unsafe = 0;
    for (const ArchiveMember& m : table->members)
        unsafe += m.unsafe && !m.top ? 1 : 0;
    if (unsafe > 0) {
        const std::string hidden = std::to_string(unsafe) +
                                   " member(s) are not listed: their names are absolute or hold a \"..\" part";
        problem = problem.empty() ? hidden : problem + "; " + hidden;
    }
    if (!problem.empty() && !cancel.Cancelled())
        sink.Problem(problem);
}

// Whether this archive's kind can be written is known only by reading it;
// the operations refuse the read-only kinds with their message.
Capabilities ArchiveSource::Can(const PanePlace&) const
{
    return {Capability::CopyIn, Capability::CopyOut, Capability::Delete, Capability::OpenMember};
}

bool ArchiveSource::RunsOperation(int code, const PanePlace& from, const PanePlace& to) const
{
    return InArchiveSource(from) || (InArchiveSource(to) && IsTransfer(code));
}

std::unique_ptr<SourceOperation> ArchiveSource::OperationFor(int code, const PanePlace& from, const PanePlace& to,
                                                             SourceOperationUi& ui,
                                                             const SourceOperationOptions& options) const
{
    if (!RunsOperation(code, from, to))
        return nullptr;
    const bool fromArchive = InArchiveSource(from);
    if (fromArchive && code == FO_DELETE)
        return MakeArchiveDelete(from, ui);
    if (!fromArchive && IsTransfer(code) && std::string_view(from.Source()) == kLocalSourceName)
        return MakeArchiveAdd(to, from.Path, code == FO_MOVE, ui, options);
    return std::make_unique<ArchiveCopyOut>(tables_, code, from, to, ui);
}

bool ArchiveSource::ExtractMember(const std::string& archive, const std::string& member,
                                  const std::string& targetDir) const
{
    const CancelToken never;
    const std::shared_ptr<const ArchiveTable> table = tables_->Get(archive, never);
    const ArchiveMember* m = table ? table->ByPath(member) : nullptr;
    if (!m || m->unsafe || m->type != ArchiveMember::Type::File)
        return false;
    // A hard link's data lies with the member it shares.
    const ArchiveMember* data = m->hardLink.empty() ? m : table->ByPath(m->hardLink);
    if (!data || !data->hardLink.empty())
        return false;
    const size_t slash = member.rfind('/');
    const std::string name = slash == std::string::npos ? member : member.substr(slash + 1);
    const ArchiveExtractReport report =
        ExtractArchiveMembers(archive, *table, {{data->ordinal, name, true}}, targetDir);
    return report.done.size() == 1;
}

} // namespace tarnel
