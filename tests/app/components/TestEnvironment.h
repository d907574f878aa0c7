#pragma once
// Environment changes that are undone when a test ends.
#include <cstdlib>
#include <map>
#include <optional>
#include <string>

class EnvGuard {
public:
    EnvGuard() = default;
    EnvGuard(const EnvGuard&) = delete;
    EnvGuard& operator=(const EnvGuard&) = delete;
    ~EnvGuard()
    {
        for (const auto& [name, value] : saved_) {
            if (value)
                setenv(name.c_str(), value->c_str(), 1);
            else
                unsetenv(name.c_str());
        }
    }

    void Set(const std::string& name, const std::string& value)
    {
        Save(name);
        setenv(name.c_str(), value.c_str(), 1);
    }

    void Unset(const std::string& name)
    {
        Save(name);
        unsetenv(name.c_str());
    }

private:
    void Save(const std::string& name)
    {
        if (saved_.count(name))
            return;
        const char* v = std::getenv(name.c_str());
        saved_[name] = v ? std::optional<std::string>(v) : std::nullopt;
    }

    std::map<std::string, std::optional<std::string>> saved_;
};
