#include "platform/UriList.h"

#include <unistd.h>

namespace tarnel {

namespace {

int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool StartsWithNoCase(const std::string& text, const char* prefix)
{
    for (size_t i = 0; prefix[i]; ++i) {
        if (i >= text.size())
            return false;
        char c = text[i];
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
        if (c != prefix[i])
            return false;
    }
    return true;
}

// Hosts that mean this machine: none, "localhost", or its own name (some
// programs write file://hostname/path).
bool IsThisHost(const std::string& host)
{
    if (host.empty() || host == "localhost")
        return true;
    char name[256] = "";
    return gethostname(name, sizeof name - 1) == 0 && host == name;
}

// "/a%20b" to "/a b"; false on a broken escape or a NUL byte.
bool PercentDecode(const std::string& text, std::string& out)
{
    out.clear();
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '%') {
            const int high = i + 2 < text.size() ? HexValue(text[i + 1]) : -1;
            const int low = high >= 0 ? HexValue(text[i + 2]) : -1;
            if (high < 0 || low < 0)
                return false;
            c = char(high * 16 + low);
            i += 2;
        }
        if (c == '\0')
            return false;
        out += c;
    }
    return true;
}

std::string LocalPathOf(const std::string& uri)
{
    if (!StartsWithNoCase(uri, "file:"))
        return {};
    std::string rest = uri.substr(5);
    if (rest.compare(0, 2, "//") == 0) {
        const size_t slash = rest.find('/', 2);
        if (slash == std::string::npos || !IsThisHost(rest.substr(2, slash - 2)))
            return {};
        rest = rest.substr(slash);
    }
    // A query or fragment has no place in a file's URI: "#" and "?" in a
    // name arrive encoded.
    if (rest.empty() || rest[0] != '/' || rest.find_first_of("?#") != std::string::npos)
        return {};
    std::string path;
    if (!PercentDecode(rest, path))
        return {};
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

} // namespace

std::string PercentEncodePath(const std::string& path)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(path.size());
    for (const char c : path) {
        const unsigned char b = static_cast<unsigned char>(c);
        if ((b >= 'a' && b <= 'z') || (b >= 'A' && b <= 'Z') || (b >= '0' && b <= '9') || b == '-' || b == '.' ||
            b == '_' || b == '~' || b == '/') {
            out += c;
        } else {
            out += '%';
            out += hex[b >> 4];
            out += hex[b & 15];
        }
    }
    return out;
}

std::string FileUriList(const std::vector<std::string>& paths)
{
    std::string out;
    for (const std::string& path : paths)
        out += "file://" + PercentEncodePath(path) + "\r\n";
    return out;
}

std::vector<std::string> PathsFromUriList(const std::string& text, size_t* refused)
{
    std::vector<std::string> paths;
    size_t bad = 0;
    size_t from = 0;
    while (from < text.size()) {
        size_t end = text.find('\n', from);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(from, end - from);
        from = end + 1;
        // Lines end in CR LF; some programs send LF alone, or pad with blanks.
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t'))
            line.pop_back();
        size_t start = 0;
        while (start < line.size() && (line[start] == ' ' || line[start] == '\t'))
            ++start;
        line.erase(0, start);
        if (line.empty() || line[0] == '#')
            continue;
        const std::string path = LocalPathOf(line);
        if (path.empty())
            ++bad;
        else
            paths.push_back(path);
    }
    if (refused)
        *refused = bad;
    return paths;
}

} // namespace tarnel
