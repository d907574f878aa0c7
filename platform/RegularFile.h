#pragma once
// The one way to open a user's file for reading. Opening a named pipe takes a
// waiting writer's data away from its reader, and a device may block or act,
// so only regular files are ever opened.
#include <string>

namespace tarnel {

// A path that is there but is no regular file (a fifo, a device, a socket, a
// directory).
inline constexpr int kNotARegularFile = -1000;

// An open descriptor (O_RDONLY, O_NONBLOCK, O_NOCTTY, O_CLOEXEC) when path is a
// regular file; otherwise a negative errno or kNotARegularFile. The type is
// looked at through an O_PATH descriptor before anything is opened, and the
// opened file is confirmed by fstat to be that same regular file.
int OpenRegularFile(const std::string& path);

// As OpenRegularFile, but a symbolic link in the last place is refused
// (kNotARegularFile) instead of followed: for files found in folders other
// users may write, where a link can point anywhere.
int OpenRegularFileNoLink(const std::string& path);

// As OpenRegularFile (followLink) or OpenRegularFileNoLink for one name in
// the folder open at dirFd: the step a walk by descriptor takes. A name
// holding "/" is refused.
int OpenRegularFileAt(int dirFd, const std::string& name, bool followLink = false);

// As OpenRegularFile, -1 for every refusal.
int OpenRegularFileForReading(const std::string& path);

} // namespace tarnel
