#include "platform/Registry.h"

#include "platform/RegularFile.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarnel {

namespace {

// Larger than any settings file can honestly grow; refusing early keeps a
// stray huge file from eating memory at start-up.
constexpr off_t kMaxFileSize = 64 * 1024 * 1024;

// What a key or a value costs in memory besides its names and text (node,
// index entry, share of the containers), measured on this layout. A file is
// allowed kMemoryPerByte times its size plus kMemoryFloor; deeply nested or
// tiny keys cost far more than their lines and are refused, not loaded.
constexpr size_t kKeyCost = 320;
constexpr size_t kValueCost = 96;
constexpr size_t kMemoryPerByte = 12;
constexpr size_t kMemoryFloor = 1024 * 1024;

std::string Fold(std::string_view s)
{
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    return out;
}

bool IsControl(unsigned char c) { return c < 0x20 || c == 0x7F; }
bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

std::string_view Trim(std::string_view s)
{
    while (!s.empty() && IsBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Length of the well-formed UTF-8 sequence at s[i] (no overlong forms, no
// surrogates, nothing past U+10FFFF), 0 when there is none.
size_t Utf8Length(std::string_view s, size_t i)
{
    if (i >= s.size())
        return 0;
    auto at = [&](size_t k) { return i + k < s.size() ? unsigned(static_cast<unsigned char>(s[i + k])) : 0u; };
    auto cont = [&](size_t k, unsigned lo = 0x80, unsigned hi = 0xBF) { return at(k) >= lo && at(k) <= hi; };
    const unsigned c = at(0);
    if (c < 0x80)
        return 1;
    if (c >= 0xC2 && c <= 0xDF)
        return cont(1) ? 2 : 0;
    if (c >= 0xE0 && c <= 0xEF) {
        const unsigned lo = c == 0xE0 ? 0xA0 : 0x80;
        const unsigned hi = c == 0xED ? 0x9F : 0xBF;
        return cont(1, lo, hi) && cont(2) ? 3 : 0;
    }
    if (c >= 0xF0 && c <= 0xF4) {
        const unsigned lo = c == 0xF0 ? 0x90 : 0x80;
        const unsigned hi = c == 0xF4 ? 0x8F : 0xBF;
        return cont(1, lo, hi) && cont(2) && cont(3) ? 4 : 0;
    }
    return 0;
}

bool IsUtf8(std::string_view s)
{
    for (size_t i = 0; i < s.size();) {
        if (static_cast<unsigned char>(s[i]) < 0x80) {
            ++i;
            continue;
        }
        const size_t n = Utf8Length(s, i);
        if (n == 0)
            return false;
        i += n;
    }
    return true;
}

// Reads the quoted string that starts at line[pos]; pos ends after its
// closing quote.
bool ReadQuoted(std::string_view line, size_t& pos, std::string& out, std::string& error)
{
    ++pos;
    while (pos < line.size()) {
        const char c = line[pos++];
        if (c == '"')
            return true;
        if (c != '\\') {
            out += c;
            continue;
        }
        if (pos >= line.size())
            break;
        const char e = line[pos++];
        if (e == '\\' || e == '"') {
            out += e;
        } else if (e == 'x' && pos + 1 < line.size() && HexDigit(line[pos]) >= 0 && HexDigit(line[pos + 1]) >= 0) {
            out += char(HexDigit(line[pos]) * 16 + HexDigit(line[pos + 1]));
            pos += 2;
        } else {
            error = "bad escape in a string (only \\\\, \\\" and \\xNN are known)";
            return false;
        }
    }
    error = "unterminated string";
    return false;
}

void AppendQuoted(std::string& out, std::string_view s)
{
    static const char hex[] = "0123456789abcdef";
    out += '"';
    for (size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        size_t n = 1;
        if (c == '\\' || c == '"') {
            out += '\\';
            out += char(c);
        } else if (c >= 0x80 && (n = Utf8Length(s, i)) != 0) {
            out.append(s.substr(i, n));
        } else if (c >= 0x80 || IsControl(c)) {
            n = 1;
            out += "\\x";
            out += hex[c >> 4];
            out += hex[c & 15];
        } else {
            out += char(c);
        }
        i += n;
    }
    out += '"';
}

void AppendKey(std::string& out, const RegistryNode& node, const std::string& path)
{
    // A key with sub-keys but no values exists through its sub-keys' lines.
    if (!node.Values().empty() || node.Keys().empty()) {
        out += "\n[" + path + "]\n";
        for (const RegistryValue& v : node.Values()) {
            if (v.name.empty())
                out += '@';
            else
                AppendQuoted(out, v.name);
            out += '=';
            if (v.type == RegistryValue::Type::DWord) {
                char digits[16];
                std::snprintf(digits, sizeof digits, "dword:%08x", v.dword);
                out += digits;
            } else {
                AppendQuoted(out, v.text);
            }
            out += '\n';
        }
    }
    for (const auto& child : node.Keys())
        AppendKey(out, *child, path + '\\' + child->Name());
}

std::string Unusable(const std::string& path, const std::string& reason)
{
    return "The settings file " + path + " cannot be used (" + reason +
           "). Nothing was read from it and it is left as it is.";
}

RegistryFileOps& DefaultOps()
{
    static RegistryFileOps ops;
    return ops;
}

bool MakeFolders(const std::string& dir)
{
    struct stat st;
    for (size_t i = 1; i <= dir.size(); ++i) {
        if (i < dir.size() && dir[i] != '/')
            continue;
        const std::string prefix = dir.substr(0, i);
        if (::stat(prefix.c_str(), &st) == 0)
            continue;
        if (::mkdir(prefix.c_str(), 0700) != 0 && errno != EEXIST)
            return false;
    }
    return true;
}

} // namespace

// --- RegistryNode ----------------------------------------------------------

RegistryNode* RegistryNode::FindKey(std::string_view name) const
{
    auto it = keyIndex_.find(Fold(name));
    return it == keyIndex_.end() ? nullptr : it->second;
}

RegistryNode& RegistryNode::AddKey(std::string_view name)
{
    auto [it, inserted] = keyIndex_.try_emplace(Fold(name), nullptr);
    if (inserted) {
        keys_.push_back(std::make_unique<RegistryNode>(std::string(name)));
        it->second = keys_.back().get();
    }
    return *it->second;
}

bool RegistryNode::RemoveKey(std::string_view name)
{
    auto it = keyIndex_.find(Fold(name));
    if (it == keyIndex_.end())
        return false;
    RegistryNode* node = it->second;
    keyIndex_.erase(it);
    keys_.erase(std::find_if(keys_.begin(), keys_.end(), [&](const auto& k) { return k.get() == node; }));
    return true;
}

const RegistryValue* RegistryNode::FindValue(std::string_view name) const
{
    auto it = valueIndex_.find(Fold(name));
    return it == valueIndex_.end() ? nullptr : &values_[it->second];
}

void RegistryNode::SetValue(RegistryValue value)
{
    auto [it, inserted] = valueIndex_.try_emplace(Fold(value.name), values_.size());
    if (inserted) {
        values_.push_back(std::move(value));
    } else {
        value.name = std::move(values_[it->second].name);
        values_[it->second] = std::move(value);
    }
}

bool RegistryNode::RemoveValue(std::string_view name)
{
    auto it = valueIndex_.find(Fold(name));
    if (it == valueIndex_.end())
        return false;
    const size_t index = it->second;
    valueIndex_.erase(it);
    values_.erase(values_.begin() + ptrdiff_t(index));
    for (auto& entry : valueIndex_)
        if (entry.second > index)
            --entry.second;
    return true;
}

void RegistryNode::Clear()
{
    keys_.clear();
    keyIndex_.clear();
    values_.clear();
    valueIndex_.clear();
}

// --- Text form ---------------------------------------------------------------

bool IsValidKeyName(std::string_view name)
{
    if (name.empty() || !IsUtf8(name))
        return false;
    return std::none_of(name.begin(), name.end(), [](char c) { return c == '\\' || IsControl(static_cast<unsigned char>(c)); });
}

bool ParseRegistryText(std::string_view text, RegistryNode& root, std::string& error)
{
    root.Clear();
    size_t lineNo = 0;
    auto fail = [&](const std::string& reason) {
        root.Clear();
        error = "line " + std::to_string(lineNo) + ": " + reason;
        return false;
    };

    if (text.starts_with("\xEF\xBB\xBF"))
        text.remove_prefix(3);
    const size_t budget = kMemoryFloor + kMemoryPerByte * text.size();
    size_t spent = 0;
    RegistryNode* section = nullptr;
    for (size_t pos = 0; pos < text.size() || lineNo == 0;) {
        size_t end = text.find('\n', pos);
        if (end == std::string_view::npos)
            end = text.size();
        const std::string_view raw = text.substr(pos, end - pos);
        pos = end + 1;
        ++lineNo;
        if (!IsUtf8(raw))
            return fail("not UTF-8 text");
        const std::string_view line = Trim(raw);
        if (lineNo == 1) {
            if (line != kRegistryHeader)
                return fail(std::string("the first line is not \"") + kRegistryHeader + "\"");
            continue;
        }
        if (line.empty() || line.front() == ';')
            continue;

        if (line.front() == '[') {
            if (line.size() < 2 || line.back() != ']')
                return fail("a key line must end with \"]\"");
            std::string_view path = line.substr(1, line.size() - 2);
            if (path.starts_with('-'))
                return fail("deleting keys is not supported");
            RegistryNode* node = &root;
            for (size_t depth = 1;; ++depth) {
                const size_t cut = path.find('\\');
                const std::string_view name = path.substr(0, cut);
                if (!IsValidKeyName(name))
                    return fail("invalid key name");
                if (depth > kMaxKeyDepth)
                    return fail("keys nested too deeply");
                RegistryNode* parent = node;
                const size_t siblings = parent->Keys().size();
                node = &parent->AddKey(name);
                if (parent->Keys().size() != siblings)
                    spent += kKeyCost + name.size();
                if (spent > budget)
                    return fail("more keys and values than a settings file of this size can hold");
                if (cut == std::string_view::npos)
                    break;
                path.remove_prefix(cut + 1);
            }
            section = node;
            continue;
        }

        if (line.front() != '"' && line.front() != '@')
            return fail("neither a key nor a value");
        if (!section)
            return fail("a value before the first key");
        RegistryValue value; // "@" names the key's default value, the empty name
        size_t p = 0;
        std::string reason;
        if (line.front() == '@')
            p = 1;
        else if (!ReadQuoted(line, p, value.name, reason))
            return fail(reason);
        while (p < line.size() && IsBlank(line[p]))
            ++p;
        if (p >= line.size() || line[p] != '=')
            return fail("\"=\" expected after the value name");
        ++p;
        while (p < line.size() && IsBlank(line[p]))
            ++p;
        const std::string_view data = line.substr(p);
        if (data.starts_with('"')) {
            size_t q = 0;
            if (!ReadQuoted(data, q, value.text, reason))
                return fail(reason);
            if (q != data.size())
                return fail("text after the closing quote");
            value.type = RegistryValue::Type::Text;
        } else if (data.size() > 6 && Fold(data.substr(0, 6)) == "dword:") {
            const std::string_view digits = data.substr(6);
            if (digits.size() > 8)
                return fail("a dword has at most 8 hexadecimal digits");
            for (char c : digits) {
                const int d = HexDigit(c);
                if (d < 0)
                    return fail("a dword must be hexadecimal");
                value.dword = value.dword * 16 + uint32_t(d);
            }
            value.type = RegistryValue::Type::DWord;
        } else {
            return fail("unsupported value type (only dword: and text values are known)");
        }
        spent += kValueCost + value.name.size() + value.text.size();
        if (spent > budget)
            return fail("more keys and values than a settings file of this size can hold");
        section->SetValue(std::move(value));
    }
    error.clear();
    return true;
}

std::string FormatRegistryText(const RegistryNode& root)
{
    std::string out = kRegistryHeader;
    out += '\n';
    for (const auto& hive : root.Keys())
        AppendKey(out, *hive, hive->Name());
    return out;
}

// --- Files -------------------------------------------------------------------

bool RegistryFileOps::Write(int fd, std::string_view data)
{
    while (!data.empty()) {
        const ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data.remove_prefix(size_t(n));
    }
    return true;
}

bool RegistryFileOps::Sync(int fd) { return ::fsync(fd) == 0; }

bool RegistryFileOps::Rename(const std::string& from, const std::string& to)
{
    return ::rename(from.c_str(), to.c_str()) == 0;
}

RegistryFile::RegistryFile(std::string path, bool readOnly, RegistryFileOps* ops)
    : path_(std::move(path)), readOnly_(readOnly), ops_(ops ? ops : &DefaultOps())
{
}

std::string RegistryFile::Load()
{
    root_.Clear();
    modified_ = false;
    // A fifo or a device under the file's name would block the start in open.
    const int fd = OpenRegularFile(path_);
    if (fd == -ENOENT)
        return {};
    std::string reason;
    std::string text;
    struct stat st;
    if (fd == kNotARegularFile) {
        reason = "not a regular file";
    } else if (fd < 0) {
        reason = std::strerror(-fd);
    } else if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        reason = "not a regular file";
    } else if (st.st_size > kMaxFileSize) {
        reason = "larger than 64 MiB";
    } else {
        text.resize(size_t(st.st_size));
        size_t got = 0;
        while (got < text.size()) {
            const ssize_t n = ::read(fd, text.data() + got, text.size() - got);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0) {
                reason = std::strerror(errno);
                break;
            }
            if (n == 0) {
                // Cut by someone while being read: what is there is not the
                // settings, and saving it back would lose the rest.
                reason = "changed while it was read";
                break;
            }
            got += size_t(n);
        }
        text.resize(got);
    }
    if (fd >= 0)
        ::close(fd);
    if (reason.empty())
        ParseRegistryText(text, root_, reason); // leaves root_ empty on failure
    if (reason.empty())
        return {};
    // For the rest of the run: the user may repair the file, we must not
    // replace it with the defaults meanwhile.
    refused_ = true;
    return Unusable(path_, reason);
}

bool RegistryFile::Save()
{
    if (readOnly_ || refused_)
        return false;

    // A link (settings kept with the user's other dotfiles) stays a link: the
    // file it points to is the one replaced.
    std::string target = path_;
    struct stat st;
    if (::lstat(target.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        if (char* real = ::realpath(target.c_str(), nullptr)) {
            target = real;
            std::free(real);
        }
    }
    const size_t slash = target.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : target.substr(0, slash);
    if (!MakeFolders(dir))
        return false;
    const bool oldExists = ::stat(target.c_str(), &st) == 0 && S_ISREG(st.st_mode);

    std::string temp = target + ".XXXXXX";
    int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0)
        return false;
    auto fail = [&] {
        if (fd >= 0)
            ::close(fd);
        ::unlink(temp.c_str());
        return false;
    };
    if (oldExists)
        (void)::fchmod(fd, st.st_mode & 0777);
    if (!ops_->Write(fd, FormatRegistryText(root_)) || !ops_->Sync(fd))
        return fail();
    const int closed = ::close(fd);
    fd = -1;
    if (closed != 0 || !ops_->Rename(temp, target))
        return fail();

    // The rename itself must reach the disk before the run is over.
    const int dirFd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        (void)::fsync(dirFd);
        ::close(dirFd);
    }
    modified_ = false;
    return true;
}

// --- Registry ----------------------------------------------------------------

Registry::Registry(std::string userFile, std::string machineFile, RegistryFileOps* ops)
    : user_(std::move(userFile), false, ops), machine_(std::move(machineFile), true, ops)
{
}

std::vector<std::string> Registry::Load()
{
    std::vector<std::string> problems;
    for (RegistryFile* file : {&user_, &machine_}) {
        std::string problem = file->Load();
        if (!problem.empty())
            problems.push_back(std::move(problem));
    }
    return problems;
}

bool Registry::Save() { return !user_.Modified() || user_.Save(); }

std::string Registry::DefaultUserFile()
{
    std::string base;
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg && xdg[0] == '/') { // relative values are to be ignored
        base = xdg;
    } else {
        const char* home = std::getenv("HOME");
        if (home && *home) {
            base = home;
        } else if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir) {
            base = pw->pw_dir;
        }
        base += "/.config";
    }
    while (base.size() > 1 && base.back() == '/')
        base.pop_back();
    return base + "/tarnel/user.reg";
}

// --- RegistryKey -------------------------------------------------------------

RegistryKey::RegistryKey(Registry& registry, RegistryRoot root)
    : file_(registry.File(root)), hive_(root == RegistryRoot::CurrentUser ? kCurrentUserHive : kLocalMachineHive)
{
}

bool RegistryKey::Split(std::string_view path, std::vector<std::string>& out) const
{
    out.clear();
    if (path.starts_with('\\'))
        path.remove_prefix(1);
    else
        out = current_;
    if (path.empty())
        return true;
    for (;;) {
        const size_t cut = path.find('\\');
        const std::string_view name = path.substr(0, cut);
        if (!IsValidKeyName(name) || out.size() + 1 >= kMaxKeyDepth) // the hive is a level too
            return false;
        out.emplace_back(name);
        if (cut == std::string_view::npos)
            return true;
        path.remove_prefix(cut + 1);
    }
}

RegistryNode* RegistryKey::Resolve(const std::vector<std::string>& path) const
{
    RegistryNode* node = file_.Root().FindKey(hive_);
    for (const std::string& name : path) {
        if (!node)
            return nullptr;
        node = node->FindKey(name);
    }
    return node;
}

bool RegistryKey::OpenKey(std::string_view path, bool create)
{
    std::vector<std::string> target;
    if (!Split(path, target))
        return false;
    if (!Resolve(target)) {
        if (!create || file_.ReadOnly())
            return false;
        RegistryNode* node = &file_.Root().AddKey(hive_);
        for (const std::string& name : target)
            node = &node->AddKey(name);
        file_.SetModified();
    }
    current_ = std::move(target);
    return true;
}

void RegistryKey::CloseKey() { current_.clear(); }

bool RegistryKey::KeyExists(std::string_view path) const
{
    std::vector<std::string> target;
    return Split(path, target) && Resolve(target);
}

bool RegistryKey::ValueExists(std::string_view name) const
{
    const RegistryNode* node = Current();
    return node && node->FindValue(name);
}

int32_t RegistryKey::ReadInteger(std::string_view name) const
{
    const RegistryNode* node = Current();
    const RegistryValue* value = node ? node->FindValue(name) : nullptr;
    if (!value || value->type != RegistryValue::Type::DWord)
        throw RegistryError("Invalid data type for '" + std::string(name) + "'");
    return static_cast<int32_t>(value->dword);
}

std::string RegistryKey::ReadString(std::string_view name) const
{
    const RegistryNode* node = Current();
    const RegistryValue* value = node ? node->FindValue(name) : nullptr;
    if (!value || value->type != RegistryValue::Type::Text)
        throw RegistryError("Invalid data type for '" + std::string(name) + "'");
    return value->text;
}

void RegistryKey::Write(std::string_view name, RegistryValue value)
{
    RegistryNode* node = file_.ReadOnly() ? nullptr : Current();
    if (!node && !file_.ReadOnly() && current_.empty())
        node = &file_.Root().AddKey(hive_);
    if (!node)
        throw RegistryError("Failed to set data for '" + std::string(name) + "'");
    value.name = name;
    node->SetValue(std::move(value));
    file_.SetModified();
}

void RegistryKey::WriteInteger(std::string_view name, int32_t value)
{
    RegistryValue v;
    v.type = RegistryValue::Type::DWord;
    v.dword = static_cast<uint32_t>(value);
    Write(name, std::move(v));
}

void RegistryKey::WriteString(std::string_view name, std::string_view value)
{
    RegistryValue v;
    v.type = RegistryValue::Type::Text;
    v.text = value;
    Write(name, std::move(v));
}

bool RegistryKey::DeleteValue(std::string_view name)
{
    RegistryNode* node = file_.ReadOnly() ? nullptr : Current();
    if (!node || !node->RemoveValue(name))
        return false;
    file_.SetModified();
    return true;
}

bool RegistryKey::DeleteKey(std::string_view path)
{
    std::vector<std::string> target;
    if (file_.ReadOnly() || !Split(path, target) || target.empty())
        return false;
    const std::string name = std::move(target.back());
    target.pop_back();
    RegistryNode* parent = Resolve(target);
    if (!parent || !parent->RemoveKey(name))
        return false;
    file_.SetModified();
    return true;
}

std::vector<std::string> RegistryKey::GetValueNames() const
{
    std::vector<std::string> names;
    if (const RegistryNode* node = Current())
        for (const RegistryValue& v : node->Values())
            names.push_back(v.name);
    return names;
}

std::vector<std::string> RegistryKey::GetKeyNames() const
{
    std::vector<std::string> names;
    if (const RegistryNode* node = Current())
        for (const auto& k : node->Keys())
            names.push_back(k->Name());
    return names;
}

} // namespace tarnel
