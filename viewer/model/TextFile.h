#pragma once
// The file a text view shows: opened read-only, read by offset, never whole.
// A file of the disk is read through its descriptor, a remote one through a
// reader that asks its server for each range.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace tarnel {

class FileBlocks;
class RangeReader;

class TextFile {
public:
    TextFile() = default;
    ~TextFile();
    TextFile(const TextFile&) = delete;
    TextFile& operator=(const TextFile&) = delete;

    // False when the path is missing or not a readable regular file.
    // headBytes of its start are read at once and kept: a file opened on a
    // worker then shows its first screen without another read.
    bool Open(const std::string& path, int64_t headBytes = 0);
    // Reads through reader a file of size bytes that path names (for the
    // caption and messages only); headBytes as above. False when the start
    // could not be read (Failure() says why).
    bool Open(std::shared_ptr<const RangeReader> reader, const std::string& path, int64_t size, int64_t headBytes = 0);
    void Close();
    // Takes other's open file (and its kept start); other is left closed.
    void TakeFrom(TextFile& other);
    // Makes other read the same open file, directly: a worker's copy. The
    // reader (a descriptor) is closed when the last of them lets go of it.
    void Share(TextFile& other) const;
    // From now on bytes past the kept start come from blocks only: a read of
    // bytes not in memory asks for them and comes up short (Misses() counts
    // it), so that the caller never waits on the file system.
    void ReadThrough(std::shared_ptr<FileBlocks> blocks);
    const std::shared_ptr<FileBlocks>& Blocks() const { return blocks_; }
    int64_t Misses() const { return misses_; }
    int64_t HeadBytes() const { return head_ ? int64_t(head_->size()) : 0; }
    bool IsOpen() const { return reader_ != nullptr; }
    // Its reads cross a network: only what is on show is fetched.
    bool Remote() const;
    const std::shared_ptr<const RangeReader>& Reader() const { return reader_; }
    // What the last failed read met ("" when none has failed).
    std::string Failure() const;
    const std::string& Path() const { return path_; }
    // The size when the file was opened: a file that grows keeps its old
    // length until it is opened again.
    int64_t Size() const { return size_; }
    // Reads up to size bytes at offset; fewer only at the end of the file or
    // on an error (a file that shrank reads short).
    size_t ReadAt(int64_t offset, void* buffer, size_t size) const;
    // Bytes read since opening: benchmarks hold painting to the visible lines.
    int64_t BytesRead() const { return bytesRead_; }

private:
    void KeepHead(int64_t headBytes);

    std::shared_ptr<const RangeReader> reader_;
    int64_t size_ = 0;
    mutable int64_t bytesRead_ = 0;
    mutable int64_t misses_ = 0;
    std::string path_;
    std::shared_ptr<const std::string> head_; // the file's first bytes, read when it was opened
    std::shared_ptr<FileBlocks> blocks_;
};

// The whole file as it is now, for the editor. Refuses files larger than
// maxBytes (size tells how large) and a read that comes up short.
enum class WholeRead { Read, Missing, TooLarge, Failed };
WholeRead ReadFileForEditing(const std::string& path, int64_t maxBytes, std::string& data, int64_t& size);

// Replaces path with data so that a crash or a full disk leaves the old file
// whole: a temporary beside it, fsync, rename over. Keeps the old permissions; a link stays a
// link and the file it points to is replaced.
// Returns an empty text, or what went wrong.
std::string SaveFileAtomically(const std::string& path, const std::string& data);

} // namespace tarnel
