#pragma once
// The instance block: a small per-user shared memory block through which a new
// process finds the running instance and hands it a path.
//
// Layout, little-endian: offset 0 uint32 process id of the running instance;
// offset 4 uint16 length of the path text; offset 6 the text (no terminator).
#include <cstddef>
#include <cstdint>
#include <string>

namespace tarnel {

// $TARNEL_INSTANCE_TAG, reduced to characters safe in file and shm names. It is
// appended to the block and socket names so that separate sets of processes
// (tests, mostly) never meet a real running instance.
std::string InstanceTag();

class InstanceBlock {
public:
    static constexpr size_t kBlockSize = 4096;
    static constexpr size_t kTextOffset = 6;
    static constexpr size_t kMaxTextLength = kBlockSize - kTextOffset; // 4090

    // "/OrvBuffer-<uid><tag>"
    static std::string DefaultName();

    explicit InstanceBlock(std::string name = DefaultName());
    ~InstanceBlock();
    InstanceBlock(const InstanceBlock&) = delete;
    InstanceBlock& operator=(const InstanceBlock&) = delete;

    // Opens the block, creating it when missing, and maps it. On failure error
    // gets the text to report and the block stays unusable.
    bool Open(std::string* error);
    bool IsOpen() const { return view_ != nullptr; }
    const std::string& Name() const { return name_; }

    // Another instance runs: the block existed before Open, the process named
    // at offset 0 is alive and it answers on the instance channel. A block
    // left by a crashed run gives false and is then simply taken over.
    // Blocks up to about a second while asking.
    bool BlockExists() const;

    void WriteOwnPid();
    uint32_t RunningPid() const;

    uint16_t ShellCallLength() const;
    // length bytes from the text offset, cut at the end of the block.
    std::string ShellCallText(size_t length) const;
    // For the sender: the true length (up to kMaxTextLength, longer paths are
    // cut) so that the receiver can refuse what is too long, then the text.
    void WriteShellCall(const std::string& path);

private:
    void Close();

    std::string name_;
    int fd_ = -1;
    unsigned char* view_ = nullptr;
    bool existed_ = false;
    bool claimed_ = false; // this object wrote its process id
};

} // namespace tarnel
