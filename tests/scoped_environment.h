// An environment variable set for the life of an object, for tests of what the program does
// with its environment.
#pragma once

#include <cstdlib>
#include <string>

namespace tessivane::testing {

class ScopedEnvironment {
public:
    ScopedEnvironment(const char* name, const char* value) : name_(name) {
        const char* old = std::getenv(name);
        had_ = old != nullptr;
        old_ = had_ ? old : "";
        setenv(name, value, 1);
    }
    ~ScopedEnvironment() {
        if (had_) {
            setenv(name_, old_.c_str(), 1);
        } else {
            unsetenv(name_);
        }
    }
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

private:
    const char* name_;
    bool had_;
    std::string old_;
};

} // namespace tessivane::testing
