#pragma once
// A private OpenSSH server for the remote-place tests: it listens on
// 127.0.0.1 on a free port, with a host key and a client key generated in a
// temporary folder of its own, and lets in whoever holds that client key.
// HOME points at a fake home in the same folder (its own ~/.ssh/config,
// known_hosts and key), so that the user's real files are never read or
// written. The server dies with the test process, however that ends.
#include <string>
#include <sys/types.h>
#include <vector>

namespace tarnel::test {

class PrivateSshd {
public:
    PrivateSshd();
    ~PrivateSshd();
    PrivateSshd(const PrivateSshd&) = delete;
    PrivateSshd& operator=(const PrivateSshd&) = delete;

    // "" when the server runs; else why it does not (tests then skip).
    const std::string& Problem() const { return problem_; }
    int Port() const { return port_; }
    // The temporary folder; the fake home is Home(), served files go anywhere below Dir().
    const std::string& Dir() const { return dir_; }
    const std::string& Home() const { return home_; }
    // The user the client key logs in as (the one running the tests).
    const std::string& User() const { return user_; }
    // "sftp://USER@127.0.0.1:PORT" followed by path (which starts with "/").
    std::string Url(const std::string& path) const;

    // Writes the server's host key into the fake home's known_hosts, or empties it.
    void TrustHostKey(bool trusted = true) const;
    // Replaces the known key by another one: the server's key "has changed".
    void TrustOtherHostKey() const;
    // The server's host key fingerprint as "SHA256:...".
    const std::string& HostKeyFingerprint() const { return fingerprint_; }
    // Appends text to the fake home's ~/.ssh/config.
    void AddClientConfig(const std::string& text) const;

    // Makes a client key in the fake home's .ssh (name "id_locked" and so on)
    // with the passphrase; returns its path, "" on failure.
    std::string MakeClientKey(const std::string& name, const std::string& passphrase) const;
    // Sets the keys the server lets in (the public key files' contents).
    void AuthorizeKeys(const std::vector<std::string>& publicKeyFiles) const;
    // Restores the starting state: the host key trusted, the client key
    // authorized, an empty client configuration.
    void Reset() const;
    // Ends every open session (the server side of a dropped link); the
    // listener goes on.
    void DropSessions();

    // Stops the listener and every session it has forked (SIGSTOP): they keep
    // their sockets open and answer nothing, as a hung server does.
    void StopAnswering();
    void Answer(); // SIGCONT to the same processes

private:
    bool Start();
    void Stop();
    void StartReaper();

    std::string problem_;
    std::string dir_;
    std::string home_;
    std::string user_;
    std::string fingerprint_;
    std::string oldHome_;
    bool hadHome_ = false;
    std::string oldAgent_;
    bool hadAgent_ = false;
    int port_ = 0;
    pid_t pid_ = -1;
    pid_t reaper_ = -1;
    int reaperPipe_ = -1;
};

// Runs a command line through /bin/sh; its exit status (-1 when it could not run).
int Shell(const std::string& command);

} // namespace tarnel::test
