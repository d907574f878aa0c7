#pragma once
// TZipMaster: the one archive driver. It reads an archive's table itself and
// hands adding, deleting and extracting to libzipdll.so and libunzdll.so,
// loaded for each call.
#include "fileops/model/ZipDirectory.h"

#include <cstdint>
#include <functional>
#include <mutex>
#include <initializer_list>
#include <string>
#include <sys/types.h>
#include <vector>

struct TZipCallbackInfo;

namespace tarnel {

template <class E>
class OptionSet {
public:
    OptionSet() = default;
    OptionSet(std::initializer_list<E> items)
    {
        for (E e : items)
            Include(e);
    }
    bool Has(E e) const { return bits_ & (1u << unsigned(e)); }
    void Include(E e) { bits_ |= 1u << unsigned(e); }
    void Exclude(E e) { bits_ &= ~(1u << unsigned(e)); }
    bool operator==(const OptionSet&) const = default;

private:
    uint32_t bits_ = 0;
};

enum class AddOpt { AddDirNames, AddRecurseDirs, AddMove, AddFreshen, AddUpdate, AddZipTime, AddForceDOS, AddHiddenFiles, AddEncrypt };
enum class ExtrOpt { ExtrDirNames, ExtrOverWrite, ExtrFreshen, ExtrUpdate, ExtrTest };
enum class SFXOpt { SFXAskCmdLine, SFXAskFiles, SFXHideOverWriteBox };
enum class OvrOpt { OvrConfirm, OvrAlways, OvrNever };
using AddOpts = OptionSet<AddOpt>;
using ExtrOpts = OptionSet<ExtrOpt>;

inline constexpr const char* kZipLibraryName = "libzipdll.so";
inline constexpr const char* kUnzipLibraryName = "libunzdll.so";

// Held by every library call, which changes the process's current directory;
// whoever changes it for a call holds it from before the change.
std::recursive_mutex& ArchiveCallLock();

class TZipMaster {
public:
    TZipMaster();
    TZipMaster(const TZipMaster&) = delete;
    TZipMaster& operator=(const TZipMaster&) = delete;

    bool Verbose = true;
    bool Trace = false;
    int AddCompLevel = 9;
    AddOpts AddOptions{AddOpt::AddDirNames, AddOpt::AddRecurseDirs};
    ExtrOpts ExtrOptions{ExtrOpt::ExtrDirNames};
    std::string ExtrBaseDir;
    std::vector<std::string> FSpecArgs;
    // For the next delete or extract: FSpecArgs are members' central
    // directory indexes (ZipDirEntry::CentralIndex), never patterns. Cleared
    // with FSpecArgs after every call.
    bool SelectByIndex = false;
    std::string Password;
    std::string DLLDirectory;
    // Looked in before DLLDirectory: where the program's own libraries are.
    std::string OwnLibraryDirectory;
    // Stored for self-extractors, which this program does not make.
    OptionSet<SFXOpt> SFXOptions;
    OvrOpt SFXOverWriteMode = OvrOpt::OvrConfirm;
    std::string SFXCaption = "Self-extracting Archive";
    std::string SFXPath, SFXDefaultDir, SFXCommandLine;
    void* Handle = nullptr; // the owning window, passed through to the libraries

    // A library's message; the error code is 0 for plain progress lines.
    std::function<void(int errorCode, const std::string& message)> OnMessage;
    // Progress type 0 (a file starts, with its size), 1 (a step), 2 (the end).
    std::function<void(int type, const std::string& fileName, int64_t size)> OnProgress;
    std::function<void()> OnDirUpdate;
    // The plain message box of the checks and the loader.
    std::function<void(const std::string& text)> ShowMessage;

    // Stores the name and reads the archive's table; a damaged archive
    // throws ZipReadError with the entries read so far kept.
    void SetZipFilename(const std::string& name);
    const std::string& ZipFilename() const { return zipFilename_; }
    const std::vector<ZipDirEntry>& ZipContents() const { return contents_; }
    int Count() const { return zipFilename_.empty() ? 0 : int(contents_.size()); }
    int SuccessCount() const { return successCount_; }
    // The members the last extraction wrote (or tested) whole, by their
    // stored names, folder entries included.
    const std::vector<std::string>& DoneMembers() const { return doneMembers_; }
    // Their central directory indexes, in the same order.
    const std::vector<int64_t>& DoneIndexes() const { return doneIndexes_; }
    // The library messages of the last call that reported an error.
    int ErrorCount() const { return errorCount_; }

    void AddFiles();
    void DeleteFiles();
    void ExtractFiles();

    // The callback record's entry point (public for the libraries' sake).
    static int32_t Callback(TZipCallbackInfo* info);

private:
    enum class Kind { Add, Delete, Extract };
    void ReadArchiveDirectory();
    void RunLibrary(Kind kind);
    bool ChecksPass(Kind kind);
    bool SpecsFit();
    void Message(const std::string& text);
    std::string LibraryPath(const char* name) const;

    std::string zipFilename_;
    std::vector<ZipDirEntry> contents_;
    int successCount_ = 0;
    std::vector<std::string> doneMembers_;
    std::vector<int64_t> doneIndexes_;
    // The file whose table contents_ holds: the same file unchanged is not
    // read again.
    struct TableKey {
        std::string name;
        dev_t dev = 0;
        ino_t ino = 0;
        off_t size = -1;
        int64_t mtimeSec = 0, mtimeNsec = 0;
        bool operator==(const TableKey&) const = default;
    };
    TableKey tableKey_;
    std::string tableError_;
    int errorCount_ = 0;
    bool zipBusy_ = false;
    bool unzipBusy_ = false;
    bool cancel_ = false;
};

// The directory of the running executable ("" when unknown).
std::string ExecutableDirectory();
// Where the program's own archive libraries are.
std::string ProgramLibraryDirectory();

} // namespace tarnel
