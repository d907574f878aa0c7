#include "platform/ssh/SftpUrl.h"

#include <cctype>

namespace tarnel {

namespace {

constexpr std::string_view kScheme = "sftp://";

} // namespace

bool IsSftpText(std::string_view text)
{
    if (text.size() < kScheme.size())
        return false;
    for (size_t i = 0; i < kScheme.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(text[i])) != kScheme[i])
            return false;
    return true;
}

size_t RemoteRootLength(std::string_view text)
{
    if (!IsSftpText(text))
        return 0;
    const size_t slash = text.find('/', kScheme.size());
    return slash == std::string_view::npos ? text.size() : slash;
}

std::optional<SftpUrl> SftpUrl::Parse(std::string_view text)
{
    const size_t rootLength = RemoteRootLength(text);
    if (rootLength == 0)
        return std::nullopt;
    std::string_view authority = text.substr(kScheme.size(), rootLength - kScheme.size());
    SftpUrl url;
    // The last "@": a user name may itself hold one.
    if (const size_t at = authority.rfind('@'); at != std::string_view::npos) {
        url.user = authority.substr(0, at);
        authority.remove_prefix(at + 1);
        if (url.user.empty())
            return std::nullopt;
    }
    std::string_view port;
    if (!authority.empty() && authority.front() == '[') {
        const size_t close = authority.find(']');
        if (close == std::string_view::npos)
            return std::nullopt;
        url.host = authority.substr(1, close - 1);
        authority.remove_prefix(close + 1);
        if (!authority.empty()) {
            if (authority.front() != ':')
                return std::nullopt;
            port = authority.substr(1);
        }
    } else {
        const size_t colon = authority.find(':');
        url.host = authority.substr(0, colon);
        if (colon != std::string_view::npos)
            port = authority.substr(colon + 1);
    }
    if (url.host.empty() || url.host.find_first_of(" \t/") != std::string::npos)
        return std::nullopt;
    const bool portGiven = !port.empty() || (authority.size() && authority.back() == ':');
    if (portGiven) {
        int value = 0;
        for (const char c : port) {
            if (c < '0' || c > '9' || value > 65535)
                return std::nullopt;
            value = value * 10 + (c - '0');
        }
        if (value < 1 || value > 65535)
            return std::nullopt;
        url.port = value;
    }
    // Repeated slashes name the same folder: one is kept.
    url.path.clear();
    for (const char c : text.substr(rootLength))
        if (c != '/' || url.path.empty() || url.path.back() != '/')
            url.path += c;
    if (url.path.empty())
        url.path = "/";
    return url;
}

std::string SftpUrl::Authority() const
{
    std::string text(kScheme);
    if (!user.empty())
        text += user + "@";
    text += host.find(':') != std::string::npos ? "[" + host + "]" : host;
    if (port != 0)
        text += ":" + std::to_string(port);
    return text;
}

} // namespace tarnel
