#include "platform/ssh/SshConnection.h"

#include <libssh/callbacks.h>
#include <libssh/libssh.h>
#include <libssh/sftp.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <cstdlib>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace tarnel {

namespace {

using Clock = std::chrono::steady_clock;

std::atomic<int64_t> answerTimeoutMs{SshConnection::kDefaultAnswerTimeout.count()};
// An idle connection sends a message the server ignores this often, so that
// firewalls and the server keep it.
constexpr auto kKeepAliveEvery = std::chrono::seconds(30);
// A download keeps this many read requests of this size in flight.
constexpr uint32_t kDownloadRequest = 64 * 1024;
constexpr size_t kDownloadRequestsInFlight = 16;
// And an upload this many write requests of this size.
constexpr uint32_t kUploadRequest = 32 * 1024;
constexpr size_t kUploadRequestsInFlight = 32;

bool Exists(const std::string& path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

RemoteError Stopped()
{
    RemoteError error{"Stopped."};
    error.stopped = true;
    return error;
}

void FillEntry(const sftp_attributes attributes, RemoteEntry& entry)
{
    entry.size = attributes->size;
    entry.mtime = int64_t(attributes->mtime);
    entry.atime = int64_t(attributes->atime);
    entry.permissions = attributes->permissions & 07777;
    entry.uid = attributes->uid;
    entry.gid = attributes->gid;
    entry.directory = attributes->type == SSH_FILEXFER_TYPE_DIRECTORY;
    entry.link = attributes->type == SSH_FILEXFER_TYPE_SYMLINK;
}

std::string ShellQuoted(const std::string& text)
{
    std::string quoted = "'";
    for (const char c : text)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

// A ProxyJump of the configuration becomes a command that runs OpenSSH's
// client to the jump host. That client would read the configuration and
// known hosts of the password database's home and could ask on a terminal
// nobody watches: it is pointed at the files this connection uses and told
// never to ask. True when the connection goes through a jump host.
bool KeepJumpHostInOurFiles(ssh_session session, const std::string& sshDir)
{
    char* command = nullptr;
    if (ssh_options_get(session, SSH_OPTIONS_PROXYCOMMAND, &command) != SSH_OK || !command)
        return false;
    const std::string made = command;
    ssh_string_free_char(command);
    // Only the command libssh made from a ProxyJump; one the user wrote is theirs.
    if (made.rfind("ssh ", 0) != 0 || made.find(" -W '[%h]:%p' ") == std::string::npos)
        return false;
    std::string options = " -o BatchMode=yes -o " + ShellQuoted("UserKnownHostsFile=" + sshDir + "/known_hosts");
    if (Exists(sshDir + "/config"))
        options = " -F " + ShellQuoted(sshDir + "/config") + options;
    const std::string ours = "ssh" + options + made.substr(3);
    ssh_options_set(session, SSH_OPTIONS_PROXYCOMMAND, ours.c_str());
    return true;
}

// What an SFTP status code means; "" for the codes that say nothing more
// than "failed".
std::string StatusText(int status)
{
    switch (status) {
    case SSH_FX_NO_SUCH_FILE: return "No such file or folder";
    case SSH_FX_PERMISSION_DENIED: return "Permission denied";
    case SSH_FX_NO_SUCH_PATH: return "No such path";
    case SSH_FX_FILE_ALREADY_EXISTS: return "It already exists";
    case SSH_FX_WRITE_PROTECT: return "The file system is read-only";
    case SSH_FX_OP_UNSUPPORTED: return "The server cannot do this";
    default: return {};
    }
}

std::string SftpErrorText(sftp_session sftp, ssh_session session)
{
    if (std::string text = StatusText(sftp_get_error(sftp)); !text.empty())
        return text;
    const char* text = ssh_get_error(session);
    return text && *text ? text : "The server refused";
}

} // namespace

std::string UserSshDir()
{
    // HOME first, as every OpenSSH tool's user sees it in the shell; libssh
    // itself would ask the password database.
    if (const char* home = std::getenv("HOME"); home && *home)
        return std::string(home) + "/.ssh";
    if (const passwd* pw = ::getpwuid(::getuid()))
        return std::string(pw->pw_dir) + "/.ssh";
    return "/.ssh";
}

struct SshConnection::Impl {
    std::string key;
    SftpUrl endpoint;

    // Taken for the whole of a Use: one caller at a time.
    std::mutex use;
    // Guards session and sftp against the watchdog, which cuts the socket
    // while a caller waits; taken only briefly.
    std::mutex cut;
    ssh_session session = nullptr;
    sftp_session sftp = nullptr;
    // Nanoseconds of the steady clock after which a waiting call is cut; 0
    // while nothing waits (or the user is being asked something).
    std::atomic<int64_t> deadline{0};
    std::atomic<bool> cutOff{false};
    // The work of this Use has changed something, on the server or in the
    // caller's hands (a file written, chunks of a listing handed on): run
    // again on a new connection it would do that twice. A changing request
    // that failed counts only through its caller: with the link lost its
    // answer may be what went missing.
    bool acted = false;
    std::atomic<int64_t> lastUsed{0};

    // The questions of the Use in progress (libssh's passphrase callback).
    SshQuestions* questions = nullptr;
    ssh_callbacks_struct callbacks{};

    static int64_t Now() { return Clock::now().time_since_epoch().count(); }
    void Arm() { deadline = Now() + std::chrono::duration_cast<Clock::duration>(AnswerTimeout()).count(); }
    void Disarm() { deadline = 0; }

    // Called by the watchdog when the deadline has passed.
    void CutIfLate(int64_t now)
    {
        const int64_t due = deadline.load();
        if (due == 0 || now < due || cutOff)
            return;
        std::lock_guard lock(cut);
        cutOff = true;
        if (session) {
            // Wakes the call that waits on the socket; libssh then sees
            // the connection closed and returns an error.
            if (const socket_t fd = ssh_get_fd(session); fd >= 0)
                ::shutdown(fd, SHUT_RDWR);
        }
    }

    void Drop()
    {
        std::lock_guard lock(cut);
        if (sftp)
            sftp_free(sftp);
        if (session) {
            if (!cutOff && ssh_is_connected(session))
                ssh_disconnect(session);
            ssh_free(session);
        }
        sftp = nullptr;
        session = nullptr;
        cutOff = false;
    }

    RemoteError Failure(std::string text) const
    {
        RemoteError error;
        if (cutOff) {
            error.text = endpoint.host + " is not answering.";
            error.notAnswering = true;
            error.lost = true;
        } else {
            error.text = std::move(text);
            error.lost = !session || !ssh_is_connected(session);
        }
        return error;
    }

    RemoteError Connect(SshQuestions& asked);
    RemoteError CheckHostKey(SshQuestions& asked);
    RemoteError LogIn(SshQuestions& asked);

    // Asks the user something with the clock stopped.
    template <typename Ask>
    auto Asking(Ask ask)
    {
        Disarm();
        auto answer = ask();
        Arm();
        return answer;
    }

    static int PassphraseCallback(const char* prompt, char* buf, size_t len, int, int, void* userdata)
    {
        auto* self = static_cast<Impl*>(userdata);
        if (!self->questions || len == 0)
            return -1;
        std::optional<std::string> answer = self->Asking([&] { return self->questions->Passphrase(prompt ? prompt : "Passphrase"); });
        if (!answer || answer->size() >= len)
            return -1;
        std::memcpy(buf, answer->c_str(), answer->size() + 1);
        std::fill(answer->begin(), answer->end(), '\0');
        return 0;
    }
};

RemoteError SshConnection::Impl::Connect(SshQuestions& asked)
{
    Drop();
    ssh_session made = ssh_new();
    if (!made)
        return {"Out of memory"};
    {
        std::lock_guard lock(cut);
        session = made;
        cutOff = false;
    }
    const std::string dir = UserSshDir();
    const std::string knownHosts = dir + "/known_hosts";
    const long timeoutSeconds = std::max<long>(1, long((AnswerTimeout().count() + 999) / 1000));
    ssh_options_set(session, SSH_OPTIONS_SSH_DIR, dir.c_str());
    ssh_options_set(session, SSH_OPTIONS_HOST, endpoint.host.c_str());
    // The user's file first, then the machine's, as OpenSSH reads them.
    const std::string config = dir + "/config";
    if (Exists(config) && ssh_options_parse_config(session, config.c_str()) != 0)
        return {"Cannot read " + config + ": " + ssh_get_error(session)};
    if (Exists("/etc/ssh/ssh_config"))
        ssh_options_parse_config(session, "/etc/ssh/ssh_config");
    const bool jumps = KeepJumpHostInOurFiles(session, dir);
    // What the address says wins over the configuration.
    if (!endpoint.user.empty())
        ssh_options_set(session, SSH_OPTIONS_USER, endpoint.user.c_str());
    if (endpoint.port != 0) {
        const unsigned int port = unsigned(endpoint.port);
        ssh_options_set(session, SSH_OPTIONS_PORT, &port);
    }
    ssh_options_set(session, SSH_OPTIONS_KNOWNHOSTS, knownHosts.c_str());
    ssh_options_set(session, SSH_OPTIONS_TIMEOUT, &timeoutSeconds);
    // Requests go out whole at once: with Nagle's rule the tail of each
    // write waits for the server's delayed acknowledgement.
    const int noDelay = 1;
    ssh_options_set(session, SSH_OPTIONS_NODELAY, &noDelay);

    callbacks = {};
    callbacks.userdata = this;
    callbacks.auth_function = &Impl::PassphraseCallback;
    ssh_callbacks_init(&callbacks);
    ssh_set_callbacks(session, &callbacks);

    Arm();
    if (ssh_connect(session) != SSH_OK) {
        RemoteError error = Failure("Cannot connect to " + endpoint.host + ": " + ssh_get_error(session) +
                                    (jumps ? " (through its jump host, which must be known and let you in by key or agent)"
                                           : ""));
        Disarm();
        Drop();
        return error;
    }
    RemoteError error = CheckHostKey(asked);
    if (!error)
        error = LogIn(asked);
    if (!error) {
        sftp_session files = sftp_new(session);
        if (!files || sftp_init(files) != SSH_OK) {
            error = Failure(endpoint.host + " offers no file transfer (SFTP): " + ssh_get_error(session));
            if (files)
                sftp_free(files);
        } else {
            std::lock_guard lock(cut);
            sftp = files;
        }
    }
    Disarm();
    if (error)
        Drop();
    return error;
}

RemoteError SshConnection::Impl::CheckHostKey(SshQuestions& asked)
{
    ssh_key key = nullptr;
    if (ssh_get_server_publickey(session, &key) != SSH_OK)
        return Failure("The key of " + endpoint.host + " cannot be read: " + ssh_get_error(session));
    unsigned char* hash = nullptr;
    size_t hashLength = 0;
    std::string fingerprint;
    if (ssh_get_publickey_hash(key, SSH_PUBLICKEY_HASH_SHA256, &hash, &hashLength) == 0) {
        if (char* text = ssh_get_fingerprint_hash(SSH_PUBLICKEY_HASH_SHA256, hash, hashLength)) {
            fingerprint = text;
            ssh_string_free_char(text);
        }
        ssh_clean_pubkey_hash(&hash);
    }
    const std::string type = ssh_key_type_to_char(ssh_key_type(key)) ? ssh_key_type_to_char(ssh_key_type(key)) : "";
    ssh_key_free(key);

    switch (ssh_session_is_known_server(session)) {
    case SSH_KNOWN_HOSTS_OK: return {};
    case SSH_KNOWN_HOSTS_CHANGED:
        return {"The key of " + endpoint.host + " has changed (it is now " + type + " " + fingerprint +
                "). Someone may be listening in on the connection, or the server was set up anew. Not "
                "connected: if the change is expected, remove the old key from " +
                UserSshDir() + "/known_hosts."};
    case SSH_KNOWN_HOSTS_OTHER:
        return {endpoint.host + " offers a key of another type (" + type + " " + fingerprint +
                ") than the one known for it. Someone may be listening in on the connection. Not connected."};
    case SSH_KNOWN_HOSTS_UNKNOWN:
    case SSH_KNOWN_HOSTS_NOT_FOUND: {
        const bool trusted = Asking([&] { return asked.TrustUnknownHost(endpoint.host, type, fingerprint); });
        if (!trusted)
            return {"The key of " + endpoint.host + " is not known (" + type + " " + fingerprint +
                    "): not connected."};
        ::mkdir(UserSshDir().c_str(), 0700);
        if (ssh_session_update_known_hosts(session) != SSH_OK)
            return {"The key of " + endpoint.host + " could not be remembered: " + ssh_get_error(session)};
        return {};
    }
    case SSH_KNOWN_HOSTS_ERROR:
    default: return Failure("The known hosts cannot be checked: " + std::string(ssh_get_error(session)));
    }
}

RemoteError SshConnection::Impl::LogIn(SshQuestions& asked)
{
    int rc = ssh_userauth_none(session, nullptr);
    if (rc == SSH_AUTH_SUCCESS)
        return {};
    if (rc == SSH_AUTH_ERROR)
        return Failure("Cannot log in to " + endpoint.host + ": " + ssh_get_error(session));
    char* userText = nullptr;
    std::string user;
    if (ssh_options_get(session, SSH_OPTIONS_USER, &userText) == SSH_OK && userText) {
        user = userText;
        ssh_string_free_char(userText);
    }
    const int methods = ssh_userauth_list(session, nullptr);
    if (methods & SSH_AUTH_METHOD_PUBLICKEY) {
        // The agent, then the configured key files (a passphrase asked for
        // through the callback only for a key the server would take).
        questions = &asked;
        rc = ssh_userauth_publickey_auto(session, nullptr, nullptr);
        questions = nullptr;
        if (rc == SSH_AUTH_SUCCESS)
            return {};
        if (rc == SSH_AUTH_ERROR)
            return Failure("Cannot log in to " + endpoint.host + ": " + ssh_get_error(session));
    }
    if (methods & SSH_AUTH_METHOD_INTERACTIVE) {
        rc = ssh_userauth_kbdint(session, nullptr, nullptr);
        for (int rounds = 0; rc == SSH_AUTH_INFO && rounds < 8; ++rounds) {
            const int prompts = ssh_userauth_kbdint_getnprompts(session);
            for (int i = 0; i < prompts; ++i) {
                char echo = 0;
                const char* prompt = ssh_userauth_kbdint_getprompt(session, unsigned(i), &echo);
                std::optional<std::string> answer = Asking([&] {
                    return asked.Password(user + "@" + endpoint.host + ": " + (prompt ? prompt : ""));
                });
                if (!answer)
                    return {"Not logged in to " + endpoint.host + ": no answer was given."};
                ssh_userauth_kbdint_setanswer(session, unsigned(i), answer->c_str());
                std::fill(answer->begin(), answer->end(), '\0');
            }
            rc = ssh_userauth_kbdint(session, nullptr, nullptr);
        }
        if (rc == SSH_AUTH_SUCCESS)
            return {};
        if (rc == SSH_AUTH_ERROR)
            return Failure("Cannot log in to " + endpoint.host + ": " + ssh_get_error(session));
    }
    if (methods & SSH_AUTH_METHOD_PASSWORD) {
        for (int tries = 0; tries < 3; ++tries) {
            std::optional<std::string> password =
                Asking([&] { return asked.Password("Password for " + user + "@" + endpoint.host + ":"); });
            if (!password)
                return {"Not logged in to " + endpoint.host + ": no password was given."};
            rc = ssh_userauth_password(session, nullptr, password->c_str());
            std::fill(password->begin(), password->end(), '\0');
            if (rc == SSH_AUTH_SUCCESS)
                return {};
            if (rc == SSH_AUTH_ERROR)
                return Failure("Cannot log in to " + endpoint.host + ": " + ssh_get_error(session));
        }
    }
    return Failure(endpoint.host + " did not let " + user + " log in (no key, agent or password it accepts).");
}

// Every connection, by key; the watchdog and keep-alive thread. Never
// destroyed: workers that wait on a connection may outlive main().
struct ConnectionPool {
    std::mutex mutex;
    std::map<std::string, std::shared_ptr<SshConnection>> connections;
    std::thread watchdog;

    static ConnectionPool& Shared()
    {
        static ConnectionPool* pool = [] {
            auto* made = new ConnectionPool;
            made->watchdog = std::thread([made] { made->Watch(); });
            made->watchdog.detach();
            return made;
        }();
        return *pool;
    }

    std::vector<std::shared_ptr<SshConnection>> All()
    {
        std::lock_guard lock(mutex);
        std::vector<std::shared_ptr<SshConnection>> all;
        for (const auto& [key, connection] : connections)
            all.push_back(connection);
        return all;
    }

    [[noreturn]] void Watch()
    {
        for (;;) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            const int64_t now = SshConnection::Impl::Now();
            const int64_t idleFor = std::chrono::duration_cast<Clock::duration>(kKeepAliveEvery).count();
            for (const std::shared_ptr<SshConnection>& connection : All()) {
                SshConnection::Impl& impl = *connection->impl_;
                impl.CutIfLate(now);
                if (now - impl.lastUsed < idleFor)
                    continue;
                std::unique_lock busy(impl.use, std::try_to_lock);
                if (!busy || !impl.session)
                    continue;
                impl.lastUsed = now;
                // No answer is awaited: a dead link shows on the next use.
                ssh_send_ignore(impl.session, "");
            }
        }
    }
};

SshConnection::SshConnection(std::string key, SftpUrl endpoint) : impl_(std::make_unique<Impl>())
{
    impl_->key = std::move(key);
    impl_->endpoint = std::move(endpoint);
    impl_->endpoint.path = "/";
}

SshConnection::~SshConnection() { impl_->Drop(); }

std::shared_ptr<SshConnection> SshConnection::Pooled(const SftpUrl& url, const char* purpose)
{
    ConnectionPool& pool = ConnectionPool::Shared();
    SftpUrl endpoint = url;
    endpoint.path = "/";
    // An authority ends at the first "/": the keys of the two kinds never meet.
    const std::string key = endpoint.Authority() + purpose;
    std::lock_guard lock(pool.mutex);
    std::shared_ptr<SshConnection>& connection = pool.connections[key];
    if (!connection)
        connection.reset(new SshConnection(key, endpoint));
    return connection;
}

std::shared_ptr<SshConnection> SshConnection::For(const SftpUrl& url) { return Pooled(url, ""); }

std::shared_ptr<SshConnection> SshConnection::ForTransfers(const SftpUrl& url) { return Pooled(url, "/transfers"); }

RemoteError SshConnection::Use(SshQuestions& questions, const std::function<RemoteError(RemoteFiles&)>& work)
{
    std::lock_guard lock(impl_->use);
    RemoteFiles files(*this);
    for (int attempt = 0;; ++attempt) {
        const bool reused = impl_->session && impl_->sftp;
        if (!reused) {
            if (RemoteError error = impl_->Connect(questions))
                return error;
        }
        impl_->Arm();
        impl_->acted = false;
        RemoteError error = work(files);
        impl_->Disarm();
        impl_->lastUsed = Impl::Now();
        if (!error)
            return error;
        if (impl_->cutOff)
            error = impl_->Failure(error.text);
        else if (!ssh_is_connected(impl_->session))
            error.lost = true;
        if (error.lost)
            impl_->Drop();
        // A connection that broke while idle is made again, once; one that
        // stopped answering is not waited for twice.
        if (!error.lost || error.notAnswering || !reused || attempt > 0 || impl_->acted)
            return error;
    }
}

void SshConnection::Disconnect()
{
    std::lock_guard lock(impl_->use);
    impl_->Drop();
}

void SshConnection::DisconnectAll()
{
    for (const std::shared_ptr<SshConnection>& connection : ConnectionPool::Shared().All())
        connection->Disconnect();
}

bool SshConnection::Connected() const
{
    std::lock_guard lock(impl_->use);
    return impl_->session && impl_->sftp && ssh_is_connected(impl_->session);
}

std::chrono::milliseconds SshConnection::AnswerTimeout() { return std::chrono::milliseconds(answerTimeoutMs.load()); }

void SshConnection::SetAnswerTimeout(std::chrono::milliseconds timeout) { answerTimeoutMs = timeout.count(); }

RemoteError RemoteFiles::List(const std::string& path, size_t chunkSize,
                              const std::function<bool(std::vector<RemoteEntry>&&)>& onChunk)
{
    SshConnection::Impl& c = *connection_.impl_;
    sftp_dir dir = sftp_opendir(c.sftp, path.c_str());
    if (!dir)
        return c.Failure("Cannot list " + path + ": " + SftpErrorText(c.sftp, c.session));
    c.Arm();
    std::vector<RemoteEntry> chunk;
    RemoteError error;
    const std::string folder = path.empty() || path.back() != '/' ? path + "/" : path;
    for (;;) {
        sftp_attributes attributes = sftp_readdir(c.sftp, dir);
        c.Arm(); // an answer came: the clock starts again
        if (!attributes) {
            if (!sftp_dir_eof(dir))
                error = c.Failure("Cannot list " + path + ": " + SftpErrorText(c.sftp, c.session));
            break;
        }
        // A name holding "/" comes only from a broken or hostile server: as a
        // path part of a copy it would lead out of the target folder.
        if (!attributes->name || !*attributes->name || std::strcmp(attributes->name, ".") == 0 ||
            std::strchr(attributes->name, '/')) {
            sftp_attributes_free(attributes);
            continue;
        }
        RemoteEntry& entry = chunk.emplace_back();
        entry.name = attributes->name;
        FillEntry(attributes, entry);
        sftp_attributes_free(attributes);
        if (entry.link) {
            // A link to a folder is a folder, as on the disk; a dangling
            // link a file of size 0.
            entry.size = 0;
            if (sftp_attributes target = sftp_stat(c.sftp, (folder + entry.name).c_str())) {
                entry.directory = target->type == SSH_FILEXFER_TYPE_DIRECTORY;
                if (!entry.directory)
                    entry.size = target->size;
                sftp_attributes_free(target);
            }
            c.Arm();
            if (c.cutOff) {
                error = c.Failure({});
                break;
            }
        }
        if (chunk.size() >= chunkSize) {
            c.acted = true;
            if (!onChunk(std::move(chunk)))
                break;
            chunk.clear();
        }
    }
    if (!error && !chunk.empty())
        onChunk(std::move(chunk));
    // On a cut socket the close fails at once; the handle is freed all the same.
    sftp_closedir(dir);
    return error;
}

RemoteError RemoteFiles::Stat(const std::string& path, RemoteEntry& entry)
{
    SshConnection::Impl& c = *connection_.impl_;
    sftp_attributes attributes = sftp_stat(c.sftp, path.c_str());
    if (!attributes)
        return c.Failure(path + ": " + SftpErrorText(c.sftp, c.session));
    const size_t slash = path.rfind('/');
    entry.name = slash == std::string::npos ? path : path.substr(slash + 1);
    FillEntry(attributes, entry);
    entry.link = false; // followed
    sftp_attributes_free(attributes);
    return {};
}

RemoteError RemoteFiles::RealPath(const std::string& path, std::string& real)
{
    SshConnection::Impl& c = *connection_.impl_;
    char* text = sftp_canonicalize_path(c.sftp, path.c_str());
    if (!text)
        return c.Failure(path + ": " + SftpErrorText(c.sftp, c.session));
    real = text;
    ssh_string_free_char(text);
    return {};
}

void RemoteFiles::Asking(bool asking)
{
    if (asking)
        connection_.impl_->Disarm();
    else
        connection_.impl_->Arm();
}

RemoteError RemoteFiles::Exists(const std::string& path, bool& exists, RemoteEntry& entry)
{
    SshConnection::Impl& c = *connection_.impl_;
    sftp_attributes attributes = sftp_lstat(c.sftp, path.c_str());
    c.Arm();
    exists = attributes != nullptr;
    if (!attributes) {
        if (sftp_get_error(c.sftp) == SSH_FX_NO_SUCH_FILE)
            return {};
        return c.Failure(path + ": " + SftpErrorText(c.sftp, c.session));
    }
    FillEntry(attributes, entry);
    sftp_attributes_free(attributes);
    return {};
}

RemoteError RemoteFiles::Download(const std::string& path, int fd, const Moved& moved)
{
    SshConnection::Impl& c = *connection_.impl_;
    sftp_file file = sftp_open(c.sftp, path.c_str(), O_RDONLY, 0);
    c.Arm();
    if (!file)
        return c.Failure("Cannot read " + path + ": " + SftpErrorText(c.sftp, c.session));
    c.acted = true;
    // One read per round trip would leave the link idle most of the time:
    // several requests stay in flight. libssh takes an answer only by
    // reading the next one from the link, so answers are taken in the order
    // asked. It reads at the file's own offset and moves it as if one
    // request were out at a time: every request sets the offset it means.
    struct Request {
        uint64_t offset;
        uint32_t length;
        int id;
    };
    std::deque<Request> inFlight;
    std::vector<char> buffer(kDownloadRequest);
    auto take = [&](const Request& request) {
        sftp_seek64(file, request.offset); // an end met by another request is not this one's
        const int got = sftp_async_read(file, buffer.data(), request.length, uint32_t(request.id));
        c.Arm(); // an answer came: the clock starts again
        return got;
    };
    // Answers to requests that are no longer wanted, taken so that none
    // stays queued in the session (at once when the link is cut).
    auto dropInFlight = [&] {
        for (const Request& left : inFlight)
            if (!c.cutOff && ssh_is_connected(c.session))
                take(left);
        inFlight.clear();
    };
    uint64_t next = 0; // where the next new request starts
    uint32_t length = kDownloadRequest;
    // One request first, doubled with each whole answer: a small file
    // costs no more requests than reading one at a time.
    size_t window = 1;
    uint64_t done = 0;
    RemoteError error;
    for (;;) {
        while (inFlight.size() < window) {
            sftp_seek64(file, next);
            const int id = sftp_async_read_begin(file, length);
            if (id < 0)
                break;
            inFlight.push_back({next, length, id});
            next += length;
        }
        if (inFlight.empty()) {
            error = c.Failure("Cannot read " + path + ": " + SftpErrorText(c.sftp, c.session));
            break;
        }
        const Request head = inFlight.front();
        inFlight.pop_front();
        const int got = take(head);
        if (got < 0) {
            error = c.Failure("Cannot read " + path + ": " + SftpErrorText(c.sftp, c.session));
            break;
        }
        if (got == 0)
            break; // the end
        for (int written = 0; written < got;) {
            const ssize_t n = ::write(fd, buffer.data() + written, size_t(got - written));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                error.text = std::string("Cannot write the copy: ") + std::strerror(errno);
                break;
            }
            written += int(n);
        }
        if (error)
            break;
        if (uint32_t(got) < head.length) {
            // Less than asked: the file's end, or the most the server sends
            // at once. The requests after it asked from the wrong offsets.
            dropInFlight();
            next = head.offset + uint64_t(got);
            length = std::max<uint32_t>(uint32_t(got), 4096);
        } else {
            window = std::min(window * 2, kDownloadRequestsInFlight);
        }
        done += uint64_t(got);
        if (moved && !moved(done)) {
            error = Stopped();
            break;
        }
    }
    dropInFlight();
    sftp_close(file);
    return error;
}

RemoteError RemoteFiles::Upload(int fd, const std::string& path, uint32_t mode, int64_t mtime, const Moved& moved)
{
    SshConnection::Impl& c = *connection_.impl_;
    sftp_file file = sftp_open(c.sftp, path.c_str(), O_WRONLY | O_CREAT | O_EXCL, mode_t(mode & 07777));
    c.Arm();
    if (!file)
        return c.Failure("Cannot write " + path + ": " + SftpErrorText(c.sftp, c.session));
    c.acted = true;
    // libssh 0.10 writes one request per round trip, which leaves the link
    // idle most of the time. The write requests are framed here and sent on
    // the session's channel, several in flight, and their answers read back
    // from it before anything else uses the session, so libssh never sees
    // them. 32 KiB is what every server takes in one request.
    ssh_channel channel = c.sftp->channel;
    const uint32_t handleLength = uint32_t(ssh_string_len(file->handle));
    const size_t header = 4 + 1 + 4 + 4 + handleLength + 8 + 4;
    std::vector<unsigned char> packet(header + kUploadRequest);
    auto put32 = [&](size_t at, uint32_t value) {
        for (int i = 0; i < 4; ++i)
            packet[at + size_t(i)] = uint8_t(value >> (24 - 8 * i));
    };
    packet[4] = SSH_FXP_WRITE;
    put32(9, handleLength);
    std::memcpy(packet.data() + 13, ssh_string_data(file->handle), handleLength);

    struct Request {
        uint32_t id;
        uint32_t length; // 0: setting the times
    };
    std::deque<Request> inFlight;
    uint64_t offset = 0, done = 0;
    RemoteError error;
    // The session is no longer in step with the server: it is made again.
    auto broken = [&](const char* why) {
        if (!error)
            error = c.Failure("Cannot write " + path + ": " + (why && *why ? why : "the connection was lost"));
        error.lost = true;
    };
    auto readExactly = [&](unsigned char* into, uint32_t length) {
        for (uint32_t got = 0; got < length;) {
            const int n = ssh_channel_read(channel, into + got, length - got, 0);
            if (n <= 0)
                return false;
            got += uint32_t(n);
        }
        return true;
    };
    auto get32 = [](const unsigned char* at) {
        return uint32_t(at[0]) << 24 | uint32_t(at[1]) << 16 | uint32_t(at[2]) << 8 | uint32_t(at[3]);
    };
    // Takes the next answer; false once the session is out of step or cut.
    std::vector<unsigned char> answer;
    auto takeAnswer = [&] {
        unsigned char sizeBytes[4];
        if (!readExactly(sizeBytes, 4)) {
            broken(ssh_get_error(c.session));
            return false;
        }
        // type, id and status, then the server's own message and its language
        const uint32_t size = get32(sizeBytes);
        if (size < 9 || size > 256 * 1024) {
            broken("the server's answer makes no sense");
            return false;
        }
        answer.resize(size);
        if (!readExactly(answer.data(), size)) {
            broken(ssh_get_error(c.session));
            return false;
        }
        c.Arm(); // an answer came: the clock starts again
        const uint32_t id = get32(&answer[1]);
        const auto request = std::find_if(inFlight.begin(), inFlight.end(), [&](const Request& r) { return r.id == id; });
        if (answer[0] != SSH_FXP_STATUS || request == inFlight.end()) {
            broken("the server's answer makes no sense");
            return false;
        }
        const uint32_t length = request->length;
        inFlight.erase(request);
        if (length == 0)
            return true; // a copy with today's time is still whole
        if (const uint32_t status = get32(&answer[5]); status != SSH_FX_OK) {
            if (!error) {
                std::string text = StatusText(int(status));
                if (text.empty() && size >= 13 && get32(&answer[9]) <= size - 13)
                    text.assign(reinterpret_cast<const char*>(&answer[13]), get32(&answer[9]));
                error = c.Failure("Cannot write " + path + ": " + (text.empty() ? "The server refused" : text));
            }
            return true;
        }
        done += length;
        if (!error && moved && !moved(done))
            error = Stopped();
        return true;
    };

    while (!error) {
        const ssize_t got = ::read(fd, packet.data() + header, kUploadRequest);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            error.text = std::string("Cannot read the file: ") + std::strerror(errno);
            break;
        }
        if (got == 0)
            break;
        const uint32_t id = ++c.sftp->id_counter;
        put32(0, uint32_t(header - 4 + size_t(got)));
        put32(5, id);
        for (int i = 0; i < 8; ++i)
            packet[13 + handleLength + size_t(i)] = uint8_t(offset >> (56 - 8 * i));
        put32(13 + handleLength + 8, uint32_t(got));
        const size_t size = header + size_t(got);
        if (ssh_channel_write(channel, packet.data(), uint32_t(size)) != int(size)) {
            broken(ssh_get_error(c.session));
            break;
        }
        inFlight.push_back({id, uint32_t(got)});
        offset += uint64_t(got);
        if (inFlight.size() >= kUploadRequestsInFlight && !takeAnswer())
            break;
    }
    if (!error && mtime != 0) {
        // The times go with the writes (the server keeps the order), not
        // in a round trip of their own after the close.
        const uint32_t id = ++c.sftp->id_counter;
        const size_t size = 4 + 1 + 4 + 4 + handleLength + 4 + 4 + 4;
        packet[4] = SSH_FXP_FSETSTAT;
        put32(0, uint32_t(size - 4));
        put32(5, id);
        put32(13 + handleLength, SSH_FILEXFER_ATTR_ACMODTIME);
        put32(13 + handleLength + 4, uint32_t(mtime));
        put32(13 + handleLength + 8, uint32_t(mtime));
        if (ssh_channel_write(channel, packet.data(), uint32_t(size)) != int(size))
            broken(ssh_get_error(c.session));
        else
            inFlight.push_back({id, 0});
    }
    // Every answer is taken before libssh reads from the session again;
    // once it is out of step it is dropped instead.
    while (!inFlight.empty() && !error.lost) {
        if (!takeAnswer())
            break;
    }
    if (sftp_close(file) != SSH_NO_ERROR && !error)
        error = c.Failure("Cannot write " + path + ": " + SftpErrorText(c.sftp, c.session));
    c.Arm();
    return error;
}

RemoteError RemoteFiles::Rename(const std::string& from, const std::string& to)
{
    SshConnection::Impl& c = *connection_.impl_;
    const int rc = sftp_rename(c.sftp, from.c_str(), to.c_str());
    c.acted = c.acted || rc == 0;
    c.Arm();
    if (rc != 0)
        return c.Failure("Cannot rename " + from + " to " + to + ": " + SftpErrorText(c.sftp, c.session));
    return {};
}

RemoteError RemoteFiles::Remove(const std::string& path, bool folder)
{
    SshConnection::Impl& c = *connection_.impl_;
    const int rc = folder ? sftp_rmdir(c.sftp, path.c_str()) : sftp_unlink(c.sftp, path.c_str());
    c.acted = c.acted || rc == 0;
    c.Arm();
    if (rc != 0)
        return c.Failure("Cannot delete " + path + ": " + SftpErrorText(c.sftp, c.session));
    return {};
}

RemoteError RemoteFiles::Replace(const std::string& part, const std::string& target, const std::string& aside)
{
    if (RemoteError error = Rename(target, aside))
        return error;
    RemoteError error = Rename(part, target);
    if (!error) {
        Remove(aside, false);
        return {};
    }
    if (error.lost || Rename(aside, target)) {
        error.keptAs = aside;
        error.text += " The old file is kept as " + aside + ".";
    }
    return error;
}

RemoteError RemoteFiles::MakeFolder(const std::string& path, uint32_t mode)
{
    SshConnection::Impl& c = *connection_.impl_;
    const int rc = sftp_mkdir(c.sftp, path.c_str(), mode_t(mode & 07777));
    c.acted = c.acted || rc == 0;
    c.Arm();
    if (rc != 0)
        return c.Failure("Cannot make the folder " + path + ": " + SftpErrorText(c.sftp, c.session));
    return {};
}

RemoteError RemoteFiles::ReadAt(const std::string& path, uint64_t offset, size_t length, std::string& out)
{
    SshConnection::Impl& c = *connection_.impl_;
    out.clear();
    sftp_file file = sftp_open(c.sftp, path.c_str(), O_RDONLY, 0);
    c.Arm();
    if (!file)
        return c.Failure("Cannot read " + path + ": " + SftpErrorText(c.sftp, c.session));
    RemoteError error;
    if (sftp_seek64(file, offset) != 0) {
        error = c.Failure("Cannot read " + path + ": " + SftpErrorText(c.sftp, c.session));
    } else {
        out.resize(length);
        size_t got = 0;
        while (got < length) {
            const ssize_t n = sftp_read(file, out.data() + got, std::min<size_t>(length - got, 64 * 1024));
            c.Arm();
            if (n < 0) {
                error = c.Failure("Cannot read " + path + ": " + SftpErrorText(c.sftp, c.session));
                break;
            }
            if (n == 0)
                break;
            got += size_t(n);
        }
        out.resize(got);
    }
    sftp_close(file);
    c.Arm();
    return error;
}

RemoteError RemoteFiles::SetPermissions(const std::string& path, uint32_t permissions)
{
    SshConnection::Impl& c = *connection_.impl_;
    const int rc = sftp_chmod(c.sftp, path.c_str(), mode_t(permissions & 07777));
    c.acted = c.acted || rc == 0;
    c.Arm();
    if (rc != 0)
        return c.Failure("Cannot change the permissions of " + path + ": " + SftpErrorText(c.sftp, c.session));
    return {};
}

RemoteError RemoteFiles::ReadLink(const std::string& path, std::string& target)
{
    SshConnection::Impl& c = *connection_.impl_;
    char* text = sftp_readlink(c.sftp, path.c_str());
    c.Arm();
    if (!text)
        return c.Failure("Cannot read the link " + path + ": " + SftpErrorText(c.sftp, c.session));
    target = text;
    ssh_string_free_char(text);
    return {};
}

} // namespace tarnel
