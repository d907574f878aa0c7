#pragma once
// The settings store: keys holding DWORD and text values, kept in files of the
// registry-export text format. HKEY_CURRENT_USER is the user's file, written
// back at the end of a run; HKEY_LOCAL_MACHINE is a file the administrator
// provides and is never written.
//
//   Windows Registry Editor Version 5.00
//
//   [HKEY_CURRENT_USER\Software\Vormane\orv\cfg]
//   "QuitType"=dword:00000000
//   "FontName"="Fixedsys"
//
// Text values carry any bytes: besides \\ and \" a string may hold \xNN (two
// hex digits), which is how control characters and bytes that are not UTF-8
// (file names of older systems) are written, so the file itself stays UTF-8.
// Key names cannot carry such bytes (the format has no escape in key paths):
// a key name must be non-empty UTF-8 without control characters or "\".
//
// Not thread-safe: the store is used from the main thread.
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace tarnel {

inline constexpr const char kRegistryHeader[] = "Windows Registry Editor Version 5.00";
inline constexpr const char kCurrentUserHive[] = "HKEY_CURRENT_USER";
inline constexpr const char kLocalMachineHive[] = "HKEY_LOCAL_MACHINE";
inline constexpr const char kMachineRegistryFile[] = "/etc/tarnel/system.reg";
// As deep as the Windows registry lets keys nest; also keeps a hostile file
// from building a chain deep enough to exhaust the stack.
inline constexpr size_t kMaxKeyDepth = 512;

// A value that cannot be read or written as asked. what() is the text shown to
// the user, e.g. "Invalid data type for 'QuitType'".
class RegistryError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct RegistryValue {
    enum class Type { DWord, Text };
    std::string name; // as first spelled
    Type type = Type::DWord;
    uint32_t dword = 0;
    std::string text; // any bytes
};

// One key: its sub-keys and values in the order they were first seen. Names
// are looked up without regard to ASCII case and keep their first spelling.
class RegistryNode {
public:
    explicit RegistryNode(std::string name = {}) : name_(std::move(name)) {}
    RegistryNode(const RegistryNode&) = delete;
    RegistryNode& operator=(const RegistryNode&) = delete;

    const std::string& Name() const { return name_; }

    RegistryNode* FindKey(std::string_view name) const;
    RegistryNode& AddKey(std::string_view name); // the existing one, or appended
    bool RemoveKey(std::string_view name);       // with everything below it
    const std::vector<std::unique_ptr<RegistryNode>>& Keys() const { return keys_; }

    const RegistryValue* FindValue(std::string_view name) const;
    void SetValue(RegistryValue value); // replaces in place, or appends
    bool RemoveValue(std::string_view name);
    const std::vector<RegistryValue>& Values() const { return values_; }

    void Clear();

private:
    std::string name_;
    std::vector<std::unique_ptr<RegistryNode>> keys_;
    std::unordered_map<std::string, RegistryNode*> keyIndex_; // by folded name
    std::vector<RegistryValue> values_;
    std::unordered_map<std::string, size_t> valueIndex_;
};

// True when name can be a key name (see above).
bool IsValidKeyName(std::string_view name);

// Reads the text of a file into root, whose sub-keys become the hives
// (HKEY_CURRENT_USER, ...). On failure error names the line and the fault and
// root is left empty: a file is taken whole or not at all.
bool ParseRegistryText(std::string_view text, RegistryNode& root, std::string& error);
// The text of root's hives; ParseRegistryText reads it back to the same tree.
std::string FormatRegistryText(const RegistryNode& root);

// The steps of a save that can fail. Tests replace them to play a full disk or
// a program killed before the new file took the old one's place.
class RegistryFileOps {
public:
    virtual ~RegistryFileOps() = default;
    virtual bool Write(int fd, std::string_view data);
    virtual bool Sync(int fd);
    virtual bool Rename(const std::string& from, const std::string& to);
};

// One file of the store.
class RegistryFile {
public:
    explicit RegistryFile(std::string path, bool readOnly = false, RegistryFileOps* ops = nullptr);

    // Reads the file; a missing file is an empty store. Returns "" or the text
    // to show the user once. After a failure nothing of the file is loaded and
    // Save refuses for the rest of this object's life, so that a file the
    // user may still repair is never replaced.
    std::string Load();
    // Replaces the file with the store's content through a temporary file
    // beside it (fsync, rename, fsync of the folder), creating missing folders
    // (0700). False when it failed, was refused or the file is read-only; the
    // previous file is then unchanged and no temporary file is left.
    bool Save();

    const std::string& Path() const { return path_; }
    bool ReadOnly() const { return readOnly_; }
    bool Refused() const { return refused_; }
    bool Modified() const { return modified_; }
    void SetModified() { modified_ = true; }
    RegistryNode& Root() { return root_; }

private:
    std::string path_;
    bool readOnly_;
    bool refused_ = false;
    bool modified_ = false;
    RegistryFileOps* ops_;
    RegistryNode root_;
};

enum class RegistryRoot { CurrentUser, LocalMachine };

// The program's store: the user's hive and the machine's read-only hive.
class Registry {
public:
    explicit Registry(std::string userFile = DefaultUserFile(),
                      std::string machineFile = kMachineRegistryFile,
                      RegistryFileOps* ops = nullptr);

    // Reads both files; one text per file that cannot be used.
    std::vector<std::string> Load();
    // Writes the user's file when something changed. False when that failed.
    bool Save();

    RegistryFile& File(RegistryRoot root) { return root == RegistryRoot::CurrentUser ? user_ : machine_; }

    // $XDG_CONFIG_HOME/tarnel/user.reg, by default ~/.config/tarnel/user.reg.
    static std::string DefaultUserFile();

private:
    RegistryFile user_;
    RegistryFile machine_;
};

// An access object over one hive, opened on one key at a time; cheap, made
// anew wherever a key is used. Paths are "\"-separated, relative to the open
// key, or to the hive's top when they begin with "\" or no key is open.
class RegistryKey {
public:
    explicit RegistryKey(Registry& registry, RegistryRoot root = RegistryRoot::CurrentUser);

    // Opens path, creating the missing keys when create is set. False when it
    // does not exist and is not created (invalid name, read-only hive).
    bool OpenKey(std::string_view path, bool create);
    void CloseKey();
    bool KeyExists(std::string_view path) const;

    bool ValueExists(std::string_view name) const;
    // Throw RegistryError "Invalid data type for '<name>'" when the value
    // holds the other type or does not exist.
    int32_t ReadInteger(std::string_view name) const;
    std::string ReadString(std::string_view name) const;
    // Throw RegistryError "Failed to set data for '<name>'" in a read-only
    // hive or when the open key has been deleted.
    void WriteInteger(std::string_view name, int32_t value);
    void WriteString(std::string_view name, std::string_view value);

    bool DeleteValue(std::string_view name);
    bool DeleteKey(std::string_view path); // the key and everything below it

    std::vector<std::string> GetValueNames() const;
    std::vector<std::string> GetKeyNames() const;

private:
    RegistryNode* Resolve(const std::vector<std::string>& path) const;
    bool Split(std::string_view path, std::vector<std::string>& out) const;
    RegistryNode* Current() const { return Resolve(current_); }
    void Write(std::string_view name, RegistryValue value);

    RegistryFile& file_;
    std::string hive_;
    std::vector<std::string> current_; // from the hive's top
};

} // namespace tarnel
