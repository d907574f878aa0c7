#pragma once
// TEnhRar: lists, tests and extracts a RAR archive through libunrar.so.
// Every library failure ends up in infos(); nothing is thrown.
#include "viewer/model/RarLibrary.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace tarnel {

enum TRarInfo : unsigned { riIncomplete = 1, riBadArchive = 2, riOutOfMemory = 4 };

enum class TRarStatus { rsNone = 0, rsTesting = 1, rsTested = 2, rsExtracting = 3, rsExtracted = 4 };

struct TRarEntry {
    std::string ArchiveName; // the archive as opened
    std::string FileName;    // as the header record gives it: at most 259 bytes
    bool NameMayBeCut = false; // FileName filled the record: the stored name may be longer
    bool IsDirectory = false;
    uint32_t Flags = 0;
    uint64_t PackedSize = 0;
    uint64_t UnpackedSize = 0;
    uint32_t HostSystem = 0;
    uint32_t FileTime = 0;
    uint32_t UnpackVersion = 0;
    uint32_t Method = 0;
    uint32_t Attributes = 0;
};

using TRarNotify = std::function<void(TRarStatus status, const std::string& archiveName,
                                      const std::string& fileName, int errorCode, bool& canContinue)>;

class TEnhRar {
public:
    explicit TEnhRar(const std::string& libraryPath = {});

    bool UnRarAvailable() const { return library_.Loaded(); }
    unsigned infos() const { return infos_; }
    const std::vector<TRarEntry>& Entries() const { return entries_; }

    // Replaces the entry list by the archive's listing. Surrounding double
    // quotes are dropped.
    void SetFileName(const std::string& name);
    const std::string& FileName() const { return fileName_; }
    // Takes the listing another lister made (on a worker): as if SetFileName
    // had run here.
    void TakeListing(const TEnhRar& lister);

    void Test();
    void Extract(const std::string& destination);

    // The code that ended the last walk: ERAR_END_ARCHIVE after the last
    // member, or the failure; codes 11 to 15 also set a flag in infos().
    int LastCode() const { return lastCode_; }
    // Members the last extraction did not write: names outside the
    // destination, links pointing out of it, members that could not be made.
    const std::vector<std::string>& Refused() const { return refused_; }
    // Hard-link members of the last extraction that were not made: their
    // target is no member this extraction wrote inside the destination.
    const std::vector<std::string>& Unlinked() const { return unlinked_; }
    // The member whose failure ended the last walk; empty when the walk ran
    // to the end or stopped on reading a header.
    const std::string& StoppedAt() const { return stoppedAt_; }

    // Set canContinue false in OnNotify to end a test or extraction before
    // its next member; the walk then says Stopped().
    TRarNotify OnNotify;
    bool Stopped() const { return stopped_; }

private:
    enum class Walk { List, Test, Extract };
    void Run(Walk walk, const std::string& destination);
    int ProcessEntry(Walk walk, void* handle, const TRarEntry& entry, const std::string& destination);
    bool Notify(TRarStatus status, const TRarEntry& entry, int code); // false: stop

    RarLibrary library_;
    std::string fileName_;
    std::vector<TRarEntry> entries_;
    std::vector<std::string> refused_;
    std::vector<std::string> unlinked_;
    std::string stoppedAt_;
    unsigned infos_ = 0;
    int lastCode_ = 0;
    bool stopped_ = false;
};

// The flag a walk's final code stands for; 0 for none.
unsigned RarCodeFlag(int code);
// The flag an open failure stands for.
unsigned RarOpenFlag(int code);

} // namespace tarnel
