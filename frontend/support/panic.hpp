// Broken invariants.
//
// A handful of states the system can never recover from (an empty Dirichlet
// posterior, an id that does not fit its width) end the current call
// abruptly. They travel as a `Panic`, which deliberately does not derive from
// std::exception so that no generic handler swallows it; the Python binding
// reports it on standard error and raises PanicException.
#pragma once

#include <string>
#include <utility>

namespace morvane::support {

class Panic {
public:
    explicit Panic(std::string message) : message_(std::move(message)) {}
    const std::string& message() const { return message_; }

private:
    std::string message_;
};

[[noreturn]] inline void panic(std::string message) { throw Panic(std::move(message)); }

}  // namespace morvane::support
