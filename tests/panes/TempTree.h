#pragma once
// A scratch directory for tests that build trees, memory-backed when possible:
// removing many files from a disk mounted with online discard is slow.
#include <fcntl.h>
#include <filesystem>
#include <stdlib.h>
#include <string>
#include <unistd.h>

namespace tarnel::test {

class TempTree {
public:
    TempTree()
    {
        std::string tmpl = access("/dev/shm", W_OK) == 0 ? "/dev/shm/tarnel-tree-XXXXXX" : "/tmp/tarnel-tree-XXXXXX";
        if (mkdtemp(tmpl.data()))
            dir_ = tmpl + "/";
    }
    ~TempTree()
    {
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
    TempTree(const TempTree&) = delete;
    TempTree& operator=(const TempTree&) = delete;

    // Ends in "/".
    const std::string& Path() const { return dir_; }

    void Dir(const std::string& name) const { std::filesystem::create_directories(dir_ + name); }

    // A file of the given size, its bytes written (not a hole).
    bool File(const std::string& name, size_t bytes) const
    {
        const int fd = open((dir_ + name).c_str(), O_CREAT | O_WRONLY | O_TRUNC | O_CLOEXEC, 0644);
        if (fd < 0)
            return false;
        const std::string data(bytes, 'x');
        const bool ok = write(fd, data.data(), data.size()) == ssize_t(bytes);
        close(fd);
        return ok;
    }

private:
    std::string dir_;
};

} // namespace tarnel::test
