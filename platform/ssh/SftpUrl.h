#pragma once
// The address of a folder on a remote machine: sftp://[user@]host[:port]/path.
// The host may be an alias of the user's ~/.ssh/config; user and port, when
// given, win over what the configuration says. The path is raw bytes, taken
// as it stands (no percent escapes: a name may hold "%").
#include <optional>
#include <string>
#include <string_view>

namespace tarnel {

struct SftpUrl {
    std::string user; // "" when not given
    std::string host; // an IPv6 address without its brackets
    int port = 0;     // 0 when not given
    std::string path = "/";

    // nullopt when text is not an sftp:// address with a host.
    static std::optional<SftpUrl> Parse(std::string_view text);
    // "sftp://user@host:port", as given; the same for every folder of one connection.
    std::string Authority() const;
    std::string Text() const { return Authority() + path; }
};

// Whether text starts with "sftp://" (in any case).
bool IsSftpText(std::string_view text);

// The length of "sftp://authority" at the start of text; 0 when text is not
// a remote address. A remote place never goes above Authority() + "/".
size_t RemoteRootLength(std::string_view text);

} // namespace tarnel
