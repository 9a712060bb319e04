#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace quorvil {

// The prefix a list's type-ahead search looks for: characters typed less than 500 ms apart
// build one prefix, a longer pause starts a new one, Backspace takes back the last character.
// The caller gives whole characters in its own encoding (one code-page byte, a double-byte pair,
// a UTF-8 sequence): the prefix keeps their boundaries, so Backspace never splits or joins one.
// SelectFirstBeginningWith finds and selects the entry the prefix names.
class TypeAhead {
public:
    static constexpr std::int64_t kPauseMs = 500;

    // Milliseconds on a clock that never goes back. Empty: the machine's steady clock; a test gives
    // one it holds, so that what counts as a pause does not depend on the machine's speed.
    using Clock = std::function<std::int64_t()>;

    explicit TypeAhead(Clock clock = {}) : clock_(std::move(clock)) {}

    // One typed character, now or at time nowMs; returns the prefix to search for.
    const std::string& Type(std::string_view character) { return Type(character, Now()); }
    const std::string& Type(std::string_view character, std::int64_t nowMs);

    // Backspace, now or at time nowMs; returns the prefix, which may now be empty (then search nothing).
    const std::string& Backspace() { return Backspace(Now()); }
    const std::string& Backspace(std::int64_t nowMs);

private:
    void Expire(std::int64_t nowMs);
    [[nodiscard]] std::int64_t Now() const;

    Clock clock_;

    std::string prefix_;
    std::vector<std::size_t> lengths_; // of each character in prefix_
    std::int64_t last_ = 0;
    bool started_ = false;
};

// A list searched by its type-ahead; each front end answers with its own control and strings.
class TypeAheadList {
public:
    [[nodiscard]] virtual int Count() const = 0;
    // Whether the entry begins with the prefix (in the encoding TypeAhead was given it) regardless of case.
    [[nodiscard]] virtual bool BeginsWith(int index, const std::string& prefix) const = 0;
    virtual void Select(int index) = 0;

protected:
    ~TypeAheadList() = default;
};

// Selects the first entry that begins with the prefix; an empty prefix selects nothing.
void SelectFirstBeginningWith(TypeAheadList& list, const std::string& prefix);

} // namespace quorvil
