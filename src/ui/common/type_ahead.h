#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quorvil {

// The prefix a list's type-ahead search looks for: characters typed less than 500 ms apart
// build one prefix, a longer pause starts a new one, Backspace takes back the last character.
// The caller gives whole characters in its own encoding (one code-page byte, a double-byte pair,
// a UTF-8 sequence): the prefix keeps their boundaries, so Backspace never splits or joins one.
// Matching the prefix against the entries (first entry that begins with it, regardless of
// case) is the front end's, in its own string type.
class TypeAhead {
public:
    static constexpr std::int64_t kPauseMs = 500;

    // One typed character at time nowMs; returns the prefix to search for.
    const std::string& Type(std::string_view character, std::int64_t nowMs);

    // Backspace at time nowMs; returns the prefix, which may now be empty (then search nothing).
    const std::string& Backspace(std::int64_t nowMs);

private:
    void Expire(std::int64_t nowMs);

    std::string prefix_;
    std::vector<std::size_t> lengths_; // of each character in prefix_
    std::int64_t last_ = 0;
    bool started_ = false;
};

} // namespace quorvil
