#pragma once
// libunrar.so, loaded once: from the program's own directory first, then by
// the system's library search. The five entry points are resolved by name.
#include "platform/unrar/unrar.h"

#include <string>

namespace tarnel {

class RarLibrary {
public:
    // An empty path searches as above; tests name the library they built.
    explicit RarLibrary(const std::string& path = {});
    ~RarLibrary();
    RarLibrary(const RarLibrary&) = delete;
    RarLibrary& operator=(const RarLibrary&) = delete;

    bool Loaded() const { return handle_ != nullptr; }

    decltype(&::RAROpenArchive) openArchive = nullptr;
    decltype(&::RARCloseArchive) closeArchive = nullptr;
    decltype(&::RARReadHeader) readHeader = nullptr;
    decltype(&::RARProcessFile) processFile = nullptr;
    decltype(&::RARSetChangeVolProc) setChangeVolProc = nullptr;

private:
    void* handle_ = nullptr;
};

// The directory holding the running program, with a trailing "/".
std::string ProgramDirectory();

} // namespace tarnel
