#pragma once
// Where the viewer's bytes come from: a file read by offset, a range at a
// time, never whole. A local file is read through its descriptor; a remote
// one asks the server for each range. Reads may block (a slow disk, a
// server that stops answering): callers on the window's thread read only
// through blocks a worker fetched (FileBlocks).
#include <cstddef>
#include <cstdint>
#include <string>

namespace tarnel {

class RangeReader {
public:
    virtual ~RangeReader() = default;
    // Up to size bytes at offset; fewer only at the end or on a failure
    // (Failure() then says what went wrong).
    virtual size_t ReadAt(int64_t offset, void* buffer, size_t size) const = 0;
    // What the last read that failed met; "" while reads go well.
    virtual std::string Failure() const { return {}; }
    // Every read crosses a network: the reader's users fetch only what is
    // asked for, never whole files ahead of need.
    virtual bool Remote() const { return false; }
};

// A file of this machine, by its open descriptor (closed with the reader).
class DescriptorReader final : public RangeReader {
public:
    explicit DescriptorReader(int fd) : fd_(fd) {}
    ~DescriptorReader() override;
    DescriptorReader(const DescriptorReader&) = delete;
    DescriptorReader& operator=(const DescriptorReader&) = delete;
    size_t ReadAt(int64_t offset, void* buffer, size_t size) const override;

private:
    int fd_;
};

} // namespace tarnel
