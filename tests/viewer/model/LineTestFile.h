#pragma once
// A scratch file for the text viewer tests.
#include <cstdlib>
#include <string>

#include <fcntl.h>
#include <unistd.h>

namespace tarnel::test {

class LineTestFile {
public:
    explicit LineTestFile(const std::string& content = {})
    {
        std::string dir = "/tmp/tarnel-text-XXXXXX";
        if (::mkdtemp(dir.data()))
            dir_ = dir;
        path_ = dir_ + "/file.txt";
        Write(content);
    }
    ~LineTestFile()
    {
        ::unlink(path_.c_str());
        std::system(("rm -rf '" + dir_ + "'").c_str());
    }
    LineTestFile(const LineTestFile&) = delete;
    LineTestFile& operator=(const LineTestFile&) = delete;

    const std::string& Path() const { return path_; }
    const std::string& Dir() const { return dir_; }
    void Write(const std::string& content) const
    {
        const int fd = ::open(path_.c_str(), O_CREAT | O_WRONLY | O_TRUNC | O_CLOEXEC, 0644);
        if (fd >= 0) {
            (void)!::write(fd, content.data(), content.size());
            ::close(fd);
        }
    }
    void Truncate(off_t size) const { (void)!::truncate(path_.c_str(), size); }

private:
    std::string dir_, path_;
};

} // namespace tarnel::test
