#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace quorvil {

// The prefix a list's type-ahead search looks for: characters typed less than 500 ms apart
// build one prefix, a longer pause starts a new one, Backspace takes back the last character.
// Matching the prefix against the entries (first entry that begins with it, regardless of
// case) is the front end's, in its own string type.
class TypeAhead {
public:
    static constexpr std::int64_t kPauseMs = 500;

    // A typed character (UTF-8) at time nowMs; returns the prefix to search for.
    const std::string& Type(std::string_view character, std::int64_t nowMs);

    // Backspace at time nowMs; returns the prefix, which may now be empty (then search nothing).
    const std::string& Backspace(std::int64_t nowMs);

private:
    void Expire(std::int64_t nowMs);

    std::string prefix_;
    std::int64_t last_ = 0;
    bool started_ = false;
};

} // namespace quorvil
