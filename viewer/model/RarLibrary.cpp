#include "viewer/model/RarLibrary.h"

#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>

namespace tarnel {
namespace {

constexpr const char* kLibraryName = "libunrar.so";

template <typename F>
bool Resolve(void* handle, const char* name, F& function)
{
    function = reinterpret_cast<F>(dlsym(handle, name));
    return function != nullptr;
}

} // namespace

std::string ProgramDirectory()
{
    char buffer[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0) return {};
    std::string path(buffer, size_t(n));
    return path.substr(0, path.rfind('/') + 1);
}

RarLibrary::RarLibrary(const std::string& path)
{
    if (!path.empty()) {
        handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    } else {
        const std::string own = ProgramDirectory();
        // Beside the program in the build tree; lib/tarnel beside bin/ once installed.
        for (const std::string& dir : {own, own.empty() ? own : own + "../lib/tarnel/"})
            if (!handle_ && !dir.empty()) handle_ = dlopen((dir + kLibraryName).c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!handle_) handle_ = dlopen(kLibraryName, RTLD_NOW | RTLD_LOCAL);
    }
    if (!handle_) return;
    const bool all = Resolve(handle_, "RAROpenArchive", openArchive) && Resolve(handle_, "RARCloseArchive", closeArchive)
                     && Resolve(handle_, "RARReadHeader", readHeader) && Resolve(handle_, "RARProcessFile", processFile)
                     && Resolve(handle_, "RARSetChangeVolProc", setChangeVolProc);
    if (!all) { // a library without the whole interface is as good as none
        dlclose(handle_);
        handle_ = nullptr;
    }
}

RarLibrary::~RarLibrary()
{
    if (handle_) dlclose(handle_);
}

} // namespace tarnel
