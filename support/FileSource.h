#pragma once
// A whole file carried inside the program's form data and brought out as a
// temporary file at run time (the empty ZIP archive is one).
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace tarnel {

// Saving when the source file is gone: name + kCannotStoreFile + file + kFileIsMissing.
inline constexpr const char* kCannotStoreFile = " cannot store file: ";
inline constexpr const char* kFileIsMissing = " (file is missing)";

// Creates the first free file dir/~fs<second><suffix><extension>, suffixes
// 0, 1, 2, ..., empty and mode 0600. One trailing "/" of dir is dropped.
// Returns its path, or "" with error set.
std::string CreateFsTempFile(const std::string& dir, int second, const std::string& extension, std::string& error);

class TFileSource {
public:
    explicit TFileSource(std::string name = {});
    ~TFileSource(); // deletes the temporary file it created
    TFileSource(const TFileSource&) = delete;
    TFileSource& operator=(const TFileSource&) = delete;

    const std::string& Name() const { return name_; }

    bool Compress() const { return compress_; }
    void SetCompress(bool compress); // packed data is always stored
    const std::string& DisplayLabel() const { return displayLabel_; }
    void SetDisplayLabel(std::string label) { displayLabel_ = std::move(label); }
    const std::string& Extension() const { return extension_; } // with the dot
    void SetExtension(std::string extension) { extension_ = std::move(extension); }
    bool Store() const { return store_; } // else the form keeps FileName, not FileData
    void SetStore(bool store) { store_ = store; }

    // The temporary file (or the named source file) when it exists, else "".
    std::string FileName() const;
    // Names a source file: drops the temporary file this component made and
    // takes the extension of the new name.
    void SetFileName(const std::string& fileName);
    bool OwnsFile() const { return owned_; }

    // Reading the form: FileData (plain or packed, as Compress says) becomes a
    // new temporary file that this component owns. On failure nothing changes
    // and no partial file is left.
    bool LoadFileData(std::span<const uint8_t> data, std::string& error);
    // Writing the form: FileData from the file named by FileName.
    bool SaveFileData(std::vector<uint8_t>& data, std::string& error) const;

    // Where temporary files go; "" (the default) is the private temporary directory.
    void SetTempDirectory(std::string dir) { tempDirectory_ = std::move(dir); }

private:
    void DropOwnedFile();

    std::string name_;
    bool compress_ = false;
    std::string displayLabel_;
    std::string extension_;
    bool store_ = false;
    std::string path_;
    bool owned_ = false;
    std::string tempDirectory_;
};

} // namespace tarnel
