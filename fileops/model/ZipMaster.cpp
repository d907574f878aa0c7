#include "fileops/model/ZipMaster.h"

#include "platform/RegularFile.h"
#include "platform/zipdll/ZipDllApi.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace tarnel {

// The current directory is the process's: one call at a time, or a copy
// made on a worker could land in the folder of another call. Recursive: a
// callback's question may start a call of the other kind, and a caller that
// changes the directory itself holds it around the call.
std::recursive_mutex& ArchiveCallLock()
{
    static std::recursive_mutex oneCallAtATime;
    return oneCallAtATime;
}


namespace {

bool FileExists(const std::string& path)
{
    struct stat st;
    return !path.empty() && ::stat(path.c_str(), &st) == 0;
}

bool IsDirectory(const std::string& path)
{
    struct stat st;
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

int32_t Flag(bool value) { return value ? ZIPDLL_TRUE : ZIPDLL_FALSE; }

// The zero-terminated buffers a call hands to a library, freed after it.
class CallBuffers {
public:
    char* Text(const std::string& text, size_t size)
    {
        buffers_.push_back(std::make_unique<char[]>(size));
        std::memcpy(buffers_.back().get(), text.data(), std::min(text.size(), size - 1));
        return buffers_.back().get();
    }

private:
    std::vector<std::unique_ptr<char[]>> buffers_;
};

// The library handle for one call.
class LoadedLibrary {
public:
    explicit LoadedLibrary(const std::string& path) : handle_(::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL)) {}
    ~LoadedLibrary()
    {
        if (handle_)
            ::dlclose(handle_);
    }
    LoadedLibrary(const LoadedLibrary&) = delete;
    LoadedLibrary& operator=(const LoadedLibrary&) = delete;
    bool Loaded() const { return handle_ != nullptr; }
    void* Symbol(const char* name) const { return ::dlsym(handle_, name); }

private:
    void* handle_;
};

// Restores the current directory when a call has changed it. O_PATH: a
// folder that may be entered but not read is still returned to.
class CurrentDirectoryScope {
public:
    CurrentDirectoryScope() : saved_(::open(".", O_PATH | O_DIRECTORY | O_CLOEXEC)) {}
    bool Saved() const { return saved_ >= 0; }
    ~CurrentDirectoryScope()
    {
        if (saved_ >= 0) {
            [[maybe_unused]] const int ignored = ::fchdir(saved_);
            ::close(saved_);
        }
    }
    CurrentDirectoryScope(const CurrentDirectoryScope&) = delete;
    CurrentDirectoryScope& operator=(const CurrentDirectoryScope&) = delete;

private:
    int saved_;
};

// Strips one line end, then one more before it.
std::string WithoutLineEnd(std::string text)
{
    for (int i = 0; i < 2 && !text.empty() && (text.back() == '\r' || text.back() == '\n'); ++i)
        text.pop_back();
    return text;
}

} // namespace

std::string ExecutableDirectory()
{
    std::array<char, 4096> buffer{};
    const ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
    if (n <= 0)
        return {};
    std::string path(buffer.data(), size_t(n));
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

// Beside the program in the build tree; lib/tarnel beside bin/ once installed.
std::string ProgramLibraryDirectory()
{
    const std::string exe = ExecutableDirectory();
    if (exe.empty() || FileExists(exe + "/" + kZipLibraryName))
        return exe;
    return exe + "/../lib/tarnel";
}

TZipMaster::TZipMaster() : OwnLibraryDirectory(ProgramLibraryDirectory()) {}

void TZipMaster::SetZipFilename(const std::string& name)
{
    zipFilename_ = name;
    ReadArchiveDirectory();
}

void TZipMaster::ReadArchiveDirectory()
{
    struct DirUpdate {
        TZipMaster& zip;
        ~DirUpdate()
        {
            if (zip.OnDirUpdate)
                zip.OnDirUpdate();
        }
    } update{*this};
    // Never opened unless it is a regular file: a fifo would block here.
    const int fd = OpenRegularFile(zipFilename_);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0) {
        if (fd >= 0)
            ::close(fd);
        contents_.clear();
        tableKey_ = {};
        if (fd == kNotARegularFile)
            throw ZipReadError(NotARegularFileText(zipFilename_));
        return;
    }
    const TableKey key{zipFilename_, st.st_dev, st.st_ino, st.st_size, st.st_mtim.tv_sec, st.st_mtim.tv_nsec};
    if (key == tableKey_) {
        ::close(fd);
        if (!tableError_.empty())
            throw ZipReadError(tableError_);
        return;
    }
    contents_.clear();
    tableKey_ = {};
    tableError_.clear();
    try {
        ReadArchiveDirectoryFromFd(fd, zipFilename_, contents_);
    } catch (const ZipReadError& e) {
        tableError_ = e.what();
    }
    tableKey_ = key;
    if (!tableError_.empty())
        throw ZipReadError(tableError_);
}

void TZipMaster::Message(const std::string& text)
{
    if (ShowMessage)
        ShowMessage(text);
}

bool TZipMaster::ChecksPass(Kind kind)
{
    if (kind == Kind::Add && FSpecArgs.empty()) {
        Message("Error - no files to zip");
        return false;
    }
    if (kind == Kind::Add && zipFilename_.empty()) {
        Message("Error - no zip file specified");
        return false;
    }
    if (kind == Kind::Delete && FSpecArgs.empty()) {
        Message("Error - no files selected for deletion");
        return false;
    }
    if (kind != Kind::Add && !FileExists(zipFilename_)) {
        Message("Error - no zip file specified");
        return false;
    }
    // Members are written relative to the current directory: a base folder
    // that is gone must not send them wherever the program happens to be.
    if (kind == Kind::Extract && !ExtrBaseDir.empty() && !IsDirectory(ExtrBaseDir)) {
        Message("Error - the folder " + ExtrBaseDir + " does not exist");
        FSpecArgs.clear();
        return false;
    }
    return SpecsFit();
}

// The blocks hold 4097 file patterns of at most 255 bytes, and an archive
// name of the same size: longer requests are refused, never cut.
bool TZipMaster::SpecsFit()
{
    if (FSpecArgs.size() > ZIPDLL_MAX_SELECTORS) {
        Message("Error - too many file names or patterns (at most 4097)");
        FSpecArgs.clear();
        return false;
    }
    for (const std::string* text : [&] {
             std::vector<const std::string*> all{&zipFilename_};
             for (const std::string& selector : FSpecArgs)
                 all.push_back(&selector);
             return all;
         }()) {
        if (text->size() >= ZIPDLL_NAME_BUFFER) {
            Message("Error - name longer than 255 bytes: " + text->substr(0, 255) + "...");
            FSpecArgs.clear();
            return false;
        }
    }
    if (Password.size() >= ZIPDLL_PASSWORD_BUFFER) {
        Message("Error - password longer than 80 characters");
        FSpecArgs.clear();
        return false;
    }
    return true;
}

std::string TZipMaster::LibraryPath(const char* name) const
{
    for (const std::string* dir : {&OwnLibraryDirectory, &DLLDirectory}) {
        if (dir->empty())
            continue;
        const std::string path = *dir + "/" + name;
        if (FileExists(path))
            return path;
    }
    return name; // the system's search
}

void TZipMaster::AddFiles() { RunLibrary(Kind::Add); }
void TZipMaster::DeleteFiles() { RunLibrary(Kind::Delete); }
void TZipMaster::ExtractFiles() { RunLibrary(Kind::Extract); }

void TZipMaster::RunLibrary(Kind kind)
{
    successCount_ = 0;
    const bool byIndex = SelectByIndex; // for this call only, whatever ends it
    SelectByIndex = false;
    bool& busy = kind == Kind::Extract ? unzipBusy_ : zipBusy_;
    if (!busy) { // a nested call refused below must not clear the running one's
        doneMembers_.clear();
        doneIndexes_.clear();
        errorCount_ = 0;
    }
    if (!ChecksPass(kind))
        return;
    if (busy)
        return;
    busy = true;
    cancel_ = false;
    struct Cleanup {
        TZipMaster& zip;
        bool& busy;
        ~Cleanup()
        {
            zip.FSpecArgs.clear();
            zip.cancel_ = false;
            busy = false;
        }
    } cleanup{*this, busy};

    const bool zipping = kind != Kind::Extract;
    const char* library = zipping ? kZipLibraryName : kUnzipLibraryName;
    LoadedLibrary loaded(LibraryPath(library));
    if (!loaded.Loaded()) {
        Message(std::string(library) + " not found");
        return;
    }
    if (Trace)
        Message(zipping ? "ZIP DLL Loaded" : "UNZ DLL Loaded");
    const char* execName = zipping ? "ZipDllExec" : "UnzDllExec";
    const char* versionName = zipping ? "GetZipDllVersion" : "GetUnzDllVersion";
    void* exec = loaded.Symbol(execName);
    if (!exec)
        Message(std::string(execName) + " function not found in " + library);
    if (!loaded.Symbol(versionName))
        Message(std::string(versionName) + " function not found in " + library);
    if (!exec)
        return; // nothing to call: refused here rather than failing inside

    const std::lock_guard lock(ArchiveCallLock());
    // The folder may have gone since the checks: members must then go
    // nowhere rather than into whatever the current directory is.
    CurrentDirectoryScope directory;
    if (kind == Kind::Extract && !ExtrBaseDir.empty()) {
        if (!directory.Saved()) {
            Message(std::string("Error - cannot note the current folder: ") + std::strerror(errno));
            return;
        }
        if (::chdir(ExtrBaseDir.c_str()) != 0) {
            Message("Error - cannot enter the folder " + ExtrBaseDir + ": " + std::strerror(errno));
            return;
        }
    }

    CallBuffers buffers;
    try {
        if (zipping) {
            auto p = std::make_unique<TZipParams>();
            std::memset(p.get(), 0, sizeof(TZipParams));
            const bool adding = kind == Kind::Add;
            p->handle = Handle;
            p->caller = this;
            p->version = ZIPDLL_VERSION;
            p->callback = &TZipMaster::Callback;
            p->trace = Flag(Trace);
            p->password = buffers.Text(Password, ZIPDLL_PASSWORD_BUFFER);
            p->encrypt = Flag(adding && AddOptions.Has(AddOpt::AddEncrypt));
            p->hiddenFiles = Flag(AddOptions.Has(AddOpt::AddHiddenFiles));
            p->unused44 = ZIPDLL_TRUE;
            p->verbose = Flag(Verbose || Trace);
            p->unused56 = ZIPDLL_TRUE;
            p->level = AddCompLevel;
            p->dropDirNames = Flag(adding && !AddOptions.Has(AddOpt::AddDirNames));
            p->recurse = Flag(adding && AddOptions.Has(AddOpt::AddRecurseDirs));
            p->adding = Flag(adding);
            p->forceDos = Flag(AddOptions.Has(AddOpt::AddForceDOS));
            p->move = Flag(adding && AddOptions.Has(AddOpt::AddMove));
            p->deleteEntries = Flag(!adding);
            p->update = Flag(adding && AddOptions.Has(AddOpt::AddUpdate));
            p->freshen = Flag(adding && AddOptions.Has(AddOpt::AddFreshen) && !AddOptions.Has(AddOpt::AddUpdate));
            p->latestTime = Flag(AddOptions.Has(AddOpt::AddZipTime));
            p->selectByIndex = Flag(!adding && byIndex);
            p->selectorCount = int32_t(FSpecArgs.size());
            p->archiveName = buffers.Text(zipFilename_, ZIPDLL_NAME_BUFFER);
            p->seven = 7;
            for (size_t i = 0; i < FSpecArgs.size(); ++i)
                p->selectors[i] = buffers.Text(FSpecArgs[i], ZIPDLL_NAME_BUFFER);
            successCount_ = reinterpret_cast<ZipDllExecFunc>(exec)(p.get());
        } else {
            auto p = std::make_unique<TUnzipParams>();
            std::memset(p.get(), 0, sizeof(TUnzipParams));
            p->handle = Handle;
            p->caller = this;
            p->version = ZIPDLL_VERSION;
            p->callback = &TZipMaster::Callback;
            p->trace = Flag(Trace);
            p->password = buffers.Text(Password, ZIPDLL_PASSWORD_BUFFER);
            p->testOnly = Flag(ExtrOptions.Has(ExtrOpt::ExtrTest));
            p->selectByIndex = Flag(byIndex);
            p->unused40 = ZIPDLL_TRUE;
            p->verbose = Flag(Verbose || Trace);
            p->update = Flag(ExtrOptions.Has(ExtrOpt::ExtrUpdate));
            p->freshen = Flag(ExtrOptions.Has(ExtrOpt::ExtrFreshen) && !ExtrOptions.Has(ExtrOpt::ExtrUpdate));
            p->keepDirNames = Flag(ExtrOptions.Has(ExtrOpt::ExtrDirNames));
            p->overwrite = Flag(ExtrOptions.Has(ExtrOpt::ExtrOverWrite));
            p->selectorCount = int32_t(FSpecArgs.size());
            p->archiveName = buffers.Text(zipFilename_, ZIPDLL_NAME_BUFFER);
            p->seven = 7;
            for (size_t i = 0; i < FSpecArgs.size(); ++i)
                p->selectors[i] = buffers.Text(FSpecArgs[i], ZIPDLL_NAME_BUFFER);
            successCount_ = reinterpret_cast<UnzDllExecFunc>(exec)(p.get());
        }
    } catch (...) {
        Message("Fatal DLL Error: abort exception");
    }
    if (zipping && successCount_ > 0) {
        try {
            ReadArchiveDirectory();
        } catch (const ZipReadError& e) {
            Message(e.what());
        }
    }
}

int32_t TZipMaster::Callback(TZipCallbackInfo* info)
{
    auto* zip = static_cast<TZipMaster*>(info->caller);
    if (!zip)
        return ZIPDLL_FALSE;
    info->text[sizeof info->text - 1] = '\0';
    const std::string text = info->text;
    switch (info->actionCode) {
    case ZIPDLL_ACTION_FILE_START:
        if (zip->OnProgress)
            zip->OnProgress(0, text, info->fileSize);
        break;
    case ZIPDLL_ACTION_PROGRESS:
        if (zip->OnProgress)
            zip->OnProgress(1, " ", 0);
        break;
    case ZIPDLL_ACTION_FILE_END:
        if (info->errorCode == 0 && !text.empty()) {
            zip->doneMembers_.push_back(text);
            zip->doneIndexes_.push_back(info->fileSize);
        }
        if (zip->OnProgress)
            zip->OnProgress(2, " ", 0);
        break;
    default:
        if (info->actionCode >= ZIPDLL_ACTION_MESSAGE && info->errorCode != 0)
            ++zip->errorCount_;
        if (info->actionCode >= ZIPDLL_ACTION_MESSAGE && zip->OnMessage)
            zip->OnMessage(info->errorCode, WithoutLineEnd(text));
    }
    return zip->cancel_ ? ZIPDLL_TRUE : ZIPDLL_FALSE;
}

} // namespace tarnel
