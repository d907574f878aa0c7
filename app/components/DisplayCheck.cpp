#include "app/components/DisplayCheck.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <dlfcn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace tarnel {

namespace {

std::string Env(const char* name)
{
    const char* v = std::getenv(name);
    return v ? v : "";
}

void AddReason(std::string& reasons, const std::string& reason)
{
    reasons += (reasons.empty() ? "" : ", ") + reason;
}

bool WaylandReachable(std::string& reason)
{
    // An inherited, already connected socket.
    if (!Env("WAYLAND_SOCKET").empty())
        return true;
    std::string display = Env("WAYLAND_DISPLAY");
    if (display.empty())
        display = "wayland-0"; // what the client library assumes
    std::string path = display;
    if (display[0] != '/') {
        const std::string runtime = Env("XDG_RUNTIME_DIR");
        if (runtime.empty()) {
            reason = "XDG_RUNTIME_DIR is not set for Wayland display " + display;
            return false;
        }
        path = runtime + "/" + display;
    }
    sockaddr_un addr{};
    if (path.size() >= sizeof(addr.sun_path)) {
        reason = "Wayland socket path too long: " + path;
        return false;
    }
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        reason = std::string("no socket: ") + std::strerror(errno);
        return false;
    }
    const bool ok = connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0;
    const int err = errno;
    ::close(fd);
    if (!ok)
        reason = "cannot connect to Wayland display " + display + " (" + std::strerror(err) + ")";
    return ok;
}

// libxcb is loaded at run time: it is there wherever Qt's X plugin is, and the
// program does not need it anywhere else.
bool XReachable(std::string& reason)
{
    const std::string display = Env("DISPLAY");
    if (display.empty()) {
        reason = "DISPLAY is not set";
        return false;
    }
    void* lib = dlopen("libxcb.so.1", RTLD_NOW | RTLD_LOCAL);
    if (!lib) {
        reason = "libxcb.so.1 cannot be loaded";
        return false;
    }
    using Connect = void* (*)(const char*, int*);
    using HasError = int (*)(void*);
    using Disconnect = void (*)(void*);
    auto connectX = reinterpret_cast<Connect>(dlsym(lib, "xcb_connect"));
    auto hasError = reinterpret_cast<HasError>(dlsym(lib, "xcb_connection_has_error"));
    auto disconnectX = reinterpret_cast<Disconnect>(dlsym(lib, "xcb_disconnect"));
    bool ok = false;
    if (!connectX || !hasError || !disconnectX) {
        reason = "libxcb.so.1 lacks the connection calls";
    } else {
        // xcb_connect returns an error object rather than null; it is
        // disconnected all the same.
        void* connection = connectX(nullptr, nullptr);
        ok = connection && hasError(connection) == 0;
        if (connection)
            disconnectX(connection);
        if (!ok)
            reason = "cannot connect to X display " + display;
    }
    dlclose(lib);
    return ok;
}

} // namespace

bool DisplayReachable(std::string* why)
{
    bool tryWayland = false;
    bool tryX = false;
    // QT_QPA_PLATFORM is "name[:options]", several separated by ";", tried in order.
    const std::string platforms = Env("QT_QPA_PLATFORM");
    size_t start = 0;
    while (start <= platforms.size()) {
        size_t end = platforms.find(';', start);
        if (end == std::string::npos)
            end = platforms.size();
        const std::string entry = platforms.substr(start, end - start);
        const std::string name = entry.substr(0, entry.find(':'));
        if (name.rfind("wayland", 0) == 0)
            tryWayland = true;
        else if (name == "xcb")
            tryX = true;
        else if (!name.empty())
            return true; // offscreen, minimal, vnc, linuxfb, eglfs...: no display server needed
        start = end + 1;
    }
    if (!tryWayland && !tryX) {
        tryWayland = !Env("WAYLAND_DISPLAY").empty() || !Env("WAYLAND_SOCKET").empty();
        tryX = !Env("DISPLAY").empty();
    }

    std::string reasons;
    std::string reason;
    if (tryWayland) {
        if (WaylandReachable(reason))
            return true;
        AddReason(reasons, reason);
    }
    if (tryX) {
        if (XReachable(reason))
            return true;
        AddReason(reasons, reason);
    }
    if (reasons.empty())
        reasons = "neither DISPLAY nor WAYLAND_DISPLAY is set";
    if (why)
        *why = reasons;
    return false;
}

std::string NoDisplayMessage(const std::string& why)
{
    return "tarnel: no display can be reached (" + why +
           "); use tarnel --list DIR or tarnel --screenshot FILE.png";
}

} // namespace tarnel
