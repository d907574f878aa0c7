#include "sftp/PrivateSshd.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <pwd.h>
#include <sstream>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace tarnel::test {

namespace {

std::string ReadText(const std::string& path)
{
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteText(const std::string& path, const std::string& text, bool append = false)
{
    std::ofstream out(path, append ? std::ios::app : std::ios::trunc);
    out << text;
}

int FreePort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return 0;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof addr;
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &length) == 0)
        port = ntohs(addr.sin_port);
    ::close(fd);
    return port;
}

bool Accepts(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(uint16_t(port));
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    ::close(fd);
    return ok;
}

// The processes below root: the server forks one or two per session.
std::vector<pid_t> Descendants(pid_t root)
{
    std::vector<std::pair<pid_t, pid_t>> parents;
    if (DIR* proc = ::opendir("/proc")) {
        while (const dirent* e = ::readdir(proc)) {
            const pid_t pid = pid_t(std::atoi(e->d_name));
            if (pid <= 0)
                continue;
            const std::string stat = ReadText("/proc/" + std::string(e->d_name) + "/stat");
            const size_t close = stat.rfind(')');
            if (close == std::string::npos)
                continue;
            std::istringstream rest(stat.substr(close + 2));
            char state;
            pid_t parent = 0;
            rest >> state >> parent;
            parents.emplace_back(pid, parent);
        }
        ::closedir(proc);
    }
    std::vector<pid_t> found{root};
    for (size_t i = 0; i < found.size(); ++i)
        for (const auto& [pid, parent] : parents)
            if (parent == found[i])
                found.push_back(pid);
    return found;
}

} // namespace

int Shell(const std::string& command)
{
    const int status = std::system(command.c_str());
    return status == -1 || !WIFEXITED(status) ? -1 : WEXITSTATUS(status);
}

PrivateSshd::PrivateSshd()
{
    if (const char* home = std::getenv("HOME")) {
        hadHome_ = true;
        oldHome_ = home;
    }
    if (const char* agent = std::getenv("SSH_AUTH_SOCK")) {
        hadAgent_ = true;
        oldAgent_ = agent;
    }
    if (!Start())
        Stop();
}

PrivateSshd::~PrivateSshd() { Stop(); }

bool PrivateSshd::Start()
{
    if (::access("/usr/sbin/sshd", X_OK) != 0 || ::access("/usr/bin/ssh-keygen", X_OK) != 0) {
        problem_ = "openssh-server or ssh-keygen is not installed";
        return false;
    }
    if (const passwd* pw = ::getpwuid(::getuid()))
        user_ = pw->pw_name;
    char pattern[] = "/tmp/tarnel-sshd-XXXXXX";
    if (!::mkdtemp(pattern)) {
        problem_ = std::string("no temporary folder: ") + std::strerror(errno);
        return false;
    }
    dir_ = pattern;
    home_ = dir_ + "/home";
    const std::string ssh = home_ + "/.ssh";
    std::filesystem::create_directories(ssh);
    ::chmod(ssh.c_str(), 0700);
    // The server refuses to start without its privilege separation folder.
    ::mkdir("/run/sshd", 0755);
    const std::string quiet = " >/dev/null 2>&1";
    if (Shell("ssh-keygen -q -t ed25519 -N '' -C tarnel-test-host -f '" + dir_ + "/host_key'" + quiet) != 0 ||
        Shell("ssh-keygen -q -t ed25519 -N '' -C tarnel-test-user -f '" + ssh + "/id_ed25519'" + quiet) != 0) {
        problem_ = "ssh-keygen failed";
        return false;
    }
    std::filesystem::copy_file(ssh + "/id_ed25519.pub", dir_ + "/authorized_keys");
    {
        const std::string line = ReadText(dir_ + "/host_key.pub");
        FILE* pipe = ::popen(("ssh-keygen -l -E sha256 -f '" + dir_ + "/host_key.pub'").c_str(), "r");
        char buffer[512] = {};
        if (pipe) {
            if (std::fgets(buffer, sizeof buffer, pipe)) {
                std::istringstream fields(buffer);
                std::string bits;
                fields >> bits >> fingerprint_;
            }
            ::pclose(pipe);
        }
    }
    WriteText(ssh + "/config", "");
    WriteText(ssh + "/known_hosts", "");
    ::setenv("HOME", home_.c_str(), 1);
    // The user's agent would offer the user's own keys.
    ::unsetenv("SSH_AUTH_SOCK");

    for (int attempt = 0; attempt < 5 && pid_ < 0; ++attempt) {
        port_ = FreePort();
        const std::string config = dir_ + "/sshd_config";
        WriteText(config, "Port " + std::to_string(port_) +
                              "\nListenAddress 127.0.0.1\n"
                              "HostKey " + dir_ + "/host_key\n"
                              "PidFile " + dir_ + "/sshd.pid\n"
                              "AuthorizedKeysFile " + dir_ + "/authorized_keys\n"
                              "StrictModes no\n"
                              "PermitRootLogin prohibit-password\n"
                              "PasswordAuthentication no\n"
                              "KbdInteractiveAuthentication no\n"
                              "UsePAM no\n"
                              // A jump host's forward, only back to this server.
                              "AllowTcpForwarding local\n"
                              "PermitOpen 127.0.0.1:" + std::to_string(port_) + "\n"
                              "AllowAgentForwarding no\n"
                              "X11Forwarding no\n"
                              "PermitTunnel no\n"
                              "PrintMotd no\n"
                              "UseDNS no\n"
                              "MaxStartups 100\n"
                              "LogLevel ERROR\n"
                              "Subsystem sftp internal-sftp\n");
        const pid_t parent = ::getpid();
        const pid_t pid = ::fork();
        if (pid == 0) {
            // Killed with the test, however it ends.
            ::prctl(PR_SET_PDEATHSIG, SIGTERM);
            if (::getppid() != parent)
                ::_exit(1);
            const int null = ::open("/dev/null", O_RDWR);
            ::dup2(null, 0);
            if (!std::getenv("TARNEL_SSHD_LOG"))
                ::dup2(null, 2);
            execl("/usr/sbin/sshd", "/usr/sbin/sshd", "-D", "-e", "-f", config.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        if (pid < 0) {
            problem_ = std::string("fork: ") + std::strerror(errno);
            return false;
        }
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        bool exited = false;
        while (std::chrono::steady_clock::now() < until) {
            if (::waitpid(pid, nullptr, WNOHANG) == pid) {
                exited = true; // the port was taken meanwhile, most likely
                break;
            }
            if (Accepts(port_)) {
                pid_ = pid;
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        if (!exited && pid_ < 0) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
    }
    if (pid_ < 0) {
        problem_ = "sshd did not start (run with TARNEL_SSHD_LOG=1 to see why)";
        return false;
    }
    StartReaper();
    return true;
}

// A test that dies leaves no server behind, not even a stopped one (which
// would not see its SIGTERM): a shell waits for the end of a pipe only this
// process holds, then kills the server and its sessions.
void PrivateSshd::StartReaper()
{
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0)
        return;
    const std::string script = "kids() { for c in $(ps -o pid= --ppid \"$1\"); do kids \"$c\"; echo \"$c\"; done; }\n"
                               "cat >/dev/null\n"
                               "kill -KILL $(kids " + std::to_string(pid_) + ") " + std::to_string(pid_) + " 2>/dev/null\n";
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(ends[0], 0);
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, 1);
        ::dup2(null, 2);
        ::setpgid(0, 0); // a Ctrl+C meant for the test does not end it first
        execl("/bin/sh", "sh", "-c", script.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(ends[0]);
    if (pid < 0) {
        ::close(ends[1]);
        return;
    }
    reaper_ = pid;
    reaperPipe_ = ends[1];
}

void PrivateSshd::Stop()
{
    if (reaper_ > 0) {
        ::kill(reaper_, SIGKILL);
        ::waitpid(reaper_, nullptr, 0);
        ::close(reaperPipe_);
        reaper_ = -1;
    }
    if (pid_ > 0) {
        for (const pid_t pid : Descendants(pid_)) {
            ::kill(pid, SIGCONT);
            ::kill(pid, SIGTERM);
        }
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }
    if (hadHome_)
        ::setenv("HOME", oldHome_.c_str(), 1);
    else
        ::unsetenv("HOME");
    if (hadAgent_)
        ::setenv("SSH_AUTH_SOCK", oldAgent_.c_str(), 1);
    if (!dir_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }
}

std::string PrivateSshd::Url(const std::string& path) const
{
    return "sftp://" + user_ + "@127.0.0.1:" + std::to_string(port_) + path;
}

void PrivateSshd::TrustHostKey(bool trusted) const
{
    std::string line;
    if (trusted) {
        std::istringstream key(ReadText(dir_ + "/host_key.pub"));
        std::string type, blob;
        key >> type >> blob;
        line = "[127.0.0.1]:" + std::to_string(port_) + " " + type + " " + blob + "\n";
    }
    WriteText(home_ + "/.ssh/known_hosts", line);
}

void PrivateSshd::TrustOtherHostKey() const
{
    const std::string other = dir_ + "/other_host_key";
    if (::access(other.c_str(), F_OK) != 0)
        Shell("ssh-keygen -q -t ed25519 -N '' -f '" + other + "' >/dev/null 2>&1");
    std::istringstream key(ReadText(other + ".pub"));
    std::string type, blob;
    key >> type >> blob;
    WriteText(home_ + "/.ssh/known_hosts", "[127.0.0.1]:" + std::to_string(port_) + " " + type + " " + blob + "\n");
}

void PrivateSshd::AddClientConfig(const std::string& text) const
{
    WriteText(home_ + "/.ssh/config", text, true);
}

std::string PrivateSshd::MakeClientKey(const std::string& name, const std::string& passphrase) const
{
    const std::string path = home_ + "/.ssh/" + name;
    std::filesystem::remove(path);
    std::filesystem::remove(path + ".pub");
    if (Shell("ssh-keygen -q -t ed25519 -N '" + passphrase + "' -f '" + path + "' >/dev/null 2>&1") != 0)
        return {};
    return path;
}

void PrivateSshd::AuthorizeKeys(const std::vector<std::string>& publicKeyFiles) const
{
    std::string text;
    for (const std::string& file : publicKeyFiles)
        text += ReadText(file);
    WriteText(dir_ + "/authorized_keys", text);
}

void PrivateSshd::Reset() const
{
    TrustHostKey();
    AuthorizeKeys({home_ + "/.ssh/id_ed25519.pub"});
    WriteText(home_ + "/.ssh/config", "");
}

void PrivateSshd::DropSessions()
{
    for (const pid_t pid : Descendants(pid_))
        if (pid != pid_)
            ::kill(pid, SIGKILL);
}

void PrivateSshd::StopAnswering()
{
    for (const pid_t pid : Descendants(pid_))
        ::kill(pid, SIGSTOP);
}

void PrivateSshd::Answer()
{
    for (const pid_t pid : Descendants(pid_))
        ::kill(pid, SIGCONT);
}

} // namespace tarnel::test
