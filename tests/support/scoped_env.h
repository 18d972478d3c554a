#pragma once
// Guards for environment variables in tests.
#include <cstdlib>
#include <initializer_list>
#include <map>
#include <optional>
#include <string>

namespace testsupport {

// Sets (or, with nullptr, removes) an environment variable for the life of
// the object, then puts back what was there.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : m_name(name) {
        if (const char* old = std::getenv(name)) m_old = old, m_had = true;
        if (value) setenv(name, value, 1);
        else unsetenv(name);
    }
    ~ScopedEnv() {
        if (m_had) setenv(m_name.c_str(), m_old.c_str(), 1);
        else unsetenv(m_name.c_str());
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string m_name, m_old;
    bool m_had = false;
};

// Saves the variables it is given and restores them when it dies.
class EnvGuard {
public:
    explicit EnvGuard(std::initializer_list<const char*> names) {
        for (const char* name : names) {
            const char* value = std::getenv(name);
            m_saved[name] = value ? std::optional<std::string>(value) : std::nullopt;
        }
    }
    ~EnvGuard() {
        for (const auto& [name, value] : m_saved) {
            if (value) setenv(name.c_str(), value->c_str(), 1);
            else unsetenv(name.c_str());
        }
    }
    EnvGuard(const EnvGuard&) = delete;
    EnvGuard& operator=(const EnvGuard&) = delete;

private:
    std::map<std::string, std::optional<std::string>> m_saved;
};

} // namespace testsupport
