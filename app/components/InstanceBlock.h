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
    // The block as a file in the instance socket's private folder, used while
    // the shared memory name is someone else's: "" without such a folder.
    static std::string PrivateFileName();

    enum class Mode { CreateIfMissing, ExistingOnly };

    explicit InstanceBlock(std::string name = DefaultName());
    ~InstanceBlock();
    InstanceBlock(const InstanceBlock&) = delete;
    InstanceBlock& operator=(const InstanceBlock&) = delete;

    // Opens the block, creating it when missing (unless ExistingOnly), and
    // maps it. Anyone may create a shared memory block under our name first;
    // such a block is never used: the private file stands in for it (said
    // once on standard error), and so does a private file a live instance
    // holds. On failure error gets the text to report and the block stays
    // unusable.
    bool Open(std::string* error, Mode mode = Mode::CreateIfMissing);
    bool IsOpen() const { return view_ != nullptr; }
    const std::string& Name() const { return name_; }
    bool InPrivateFile() const { return !file_.empty(); }

    // Another instance runs: the block existed before Open and a process of
    // this user listens on the instance socket. A block left by a crashed run
    // gives false and is then simply taken over. Blocks up to about a second
    // only while the socket's backlog is full.
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
    bool OpenShared(Mode mode);
    bool OpenFile(const std::string& path, Mode mode);
    bool Map(std::string* error);

    std::string name_;
    std::string file_; // the private file in use, else ""
    int fd_ = -1;
    unsigned char* view_ = nullptr;
    bool existed_ = false;
    bool claimed_ = false; // this object wrote its process id
};

} // namespace tarnel
