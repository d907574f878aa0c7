#pragma once
// What a connection asks of the user while it logs in. Called on the thread
// that connects (a worker); the window's answer reaches it through whatever
// implements this. No answer is ever kept: a password asked for is used
// once and dropped.
#include <optional>
#include <string>

namespace tarnel {

class SshQuestions {
public:
    virtual ~SshQuestions() = default;
    // host's key is in no known_hosts file: trust it (and remember it)?
    virtual bool TrustUnknownHost(const std::string& host, const std::string& keyType,
                                  const std::string& fingerprint) = 0;
    // A password or a keyboard-interactive answer; nullopt when the user declines.
    virtual std::optional<std::string> Password(const std::string& prompt) = 0;
    // The passphrase of a key file; nullopt when the user declines.
    virtual std::optional<std::string> Passphrase(const std::string& prompt) = 0;
};

// Asks nobody: an unknown host is refused, and only the agent and key files
// without a passphrase can log in (the command line, scripts).
class NoSshQuestions final : public SshQuestions {
public:
    bool TrustUnknownHost(const std::string&, const std::string&, const std::string&) override { return false; }
    std::optional<std::string> Password(const std::string&) override { return std::nullopt; }
    std::optional<std::string> Passphrase(const std::string&) override { return std::nullopt; }
};

} // namespace tarnel
