#include "viewer/model/RarArchive.h"

#include "platform/unrar/ExtractPath.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <unistd.h>

namespace tarnel {
namespace {

// The record holds names of up to 259 bytes; longer ones arrive cut.
bool MayBeCut(const char (&field)[260]) { return strnlen(field, sizeof field) >= sizeof field - 1; }

TRarEntry EntryFrom(const RARHeaderData& h, const std::string& archiveName)
{
    TRarEntry e;
    e.ArchiveName = archiveName; // the name opened, never cut
    e.FileName.assign(h.FileName, strnlen(h.FileName, sizeof h.FileName));
    e.NameMayBeCut = MayBeCut(h.FileName);
    e.Flags = h.Flags;
    e.IsDirectory = (h.Flags & 0xE0) == 0xE0;
    e.PackedSize = uint64_t(h.PackSizeHigh) << 32 | h.PackSize;
    e.UnpackedSize = uint64_t(h.UnpSizeHigh) << 32 | h.UnpSize;
    e.HostSystem = h.HostOS;
    e.FileTime = h.FileTime;
    e.UnpackVersion = h.UnpVer;
    e.Method = h.Method;
    e.Attributes = h.FileAttr;
    return e;
}

std::string FullDirectoryPath(const std::string& path)
{
    std::string full = path;
    if (full.empty() || full[0] != '/') {
        char cwd[PATH_MAX];
        if (::getcwd(cwd, sizeof cwd)) full = std::string(cwd) + "/" + full;
    }
    if (full.empty() || full.back() != '/') full += '/';
    return full;
}

} // namespace

unsigned RarCodeFlag(int code)
{
    switch (code) {
    case ERAR_NO_MEMORY: return riOutOfMemory;
    case ERAR_BAD_DATA:
    case ERAR_BAD_ARCHIVE:
    case ERAR_UNKNOWN_FORMAT: return riBadArchive;
    case ERAR_EOPEN: return riIncomplete;
    default: return 0;
    }
}

unsigned RarOpenFlag(int code)
{
    switch (code) {
    case ERAR_NO_MEMORY: return riOutOfMemory;
    case ERAR_BAD_DATA:
    case ERAR_BAD_ARCHIVE:
    case ERAR_EOPEN: return riBadArchive;
    default: return 0;
    }
}

TEnhRar::TEnhRar(const std::string& libraryPath) : library_(libraryPath) {}

void TEnhRar::SetFileName(const std::string& name)
{
    entries_.clear();
    fileName_ = name.size() >= 2 && name.front() == '"' && name.back() == '"' ? name.substr(1, name.size() - 2) : name;
    Run(Walk::List, {});
}

void TEnhRar::TakeListing(const TEnhRar& lister)
{
    fileName_ = lister.fileName_;
    entries_ = lister.entries_;
    refused_ = lister.refused_;
    unlinked_ = lister.unlinked_;
    stoppedAt_ = lister.stoppedAt_;
    infos_ = lister.infos_;
    lastCode_ = lister.lastCode_;
}

void TEnhRar::Test() { Run(Walk::Test, {}); }

void TEnhRar::Extract(const std::string& destination) { Run(Walk::Extract, FullDirectoryPath(destination)); }

bool TEnhRar::Notify(TRarStatus status, const TRarEntry& entry, int code)
{
    bool canContinue = true;
    if (OnNotify) OnNotify(status, entry.ArchiveName, entry.FileName, code, canContinue);
    if (!canContinue)
        stopped_ = true;
    return canContinue;
}

int TEnhRar::ProcessEntry(Walk walk, void* handle, const TRarEntry& entry, const std::string& destination)
{
    if (walk == Walk::List) return library_.processFile(handle, RAR_SKIP, nullptr, nullptr);
    if (walk == Walk::Test) {
        if (!Notify(TRarStatus::rsTesting, entry, 0))
            return 0; // the walk ends before this member
        const int result = library_.processFile(handle, RAR_TEST, nullptr, nullptr);
        Notify(TRarStatus::rsTested, entry, result);
        return result;
    }
    if (!Notify(TRarStatus::rsExtracting, entry, 0))
        return 0; // the walk ends before this member
    int result;
    if (entry.IsDirectory && !entry.NameMayBeCut) {
        const int made = MakeMemberDirectory(destination, entry.FileName);
        result = made == 0 ? ERAR_SUCCESS : made == -ENOSPC || made == -EDQUOT ? ERAR_EWRITE : ERAR_ECREATE;
        const int skipped = library_.processFile(handle, RAR_SKIP, nullptr, nullptr);
        if (result == ERAR_SUCCESS) result = skipped;
    } else {
        // A directory whose name may be cut is made by the library, which
        // knows the whole name: a directory under the cut one would be wrong.
        std::string target = destination;
        result = library_.processFile(handle, RAR_EXTRACT, target.data(), nullptr);
    }
    Notify(TRarStatus::rsExtracted, entry, result);
    // A member that cannot or must not be written is left out; the rest go on.
    if (result == ERAR_ECREATE) {
        refused_.push_back(entry.FileName);
        return ERAR_SUCCESS;
    }
    if (result == ERAR_EREFERENCE) {
        unlinked_.push_back(entry.FileName);
        return ERAR_SUCCESS;
    }
    return result;
}

void TEnhRar::Run(Walk walk, const std::string& destination)
{
    infos_ = 0;
    lastCode_ = 0;
    stoppedAt_.clear();
    stopped_ = false;
    if (walk == Walk::Extract) {
        refused_.clear();
        unlinked_.clear();
    }
    if (!library_.Loaded()) return;
    std::string name = fileName_;
    RAROpenArchiveData open{};
    open.ArcName = name.data();
    open.OpenMode = walk == Walk::List ? RAR_OM_LIST : RAR_OM_EXTRACT;
    void* handle = library_.openArchive(&open);
    if (!handle) {
        lastCode_ = int(open.OpenResult);
        infos_ |= RarOpenFlag(lastCode_);
        return;
    }
    if (open.OpenResult != 0) {
        lastCode_ = int(open.OpenResult);
        library_.closeArchive(handle);
        return;
    }
    RARHeaderData header{};
    header.CmtBuf = nullptr;
    header.CmtBufSize = 0;
    int result = library_.readHeader(handle, &header);
    if (result != 0) {
        lastCode_ = result;
        infos_ |= riBadArchive; // an archive without members counts as bad
        library_.closeArchive(handle);
        return;
    }
    while (result == 0 && !stopped_) {
        entries_.push_back(EntryFrom(header, fileName_));
        result = ProcessEntry(walk, handle, entries_.back(), destination);
        if (result != 0) stoppedAt_ = entries_.back().FileName;
        if (result == 0 && !stopped_) result = library_.readHeader(handle, &header);
    }
    lastCode_ = result;
    infos_ |= RarCodeFlag(result);
    library_.closeArchive(handle);
}

} // namespace tarnel
