#include "type_ahead.h"

#include <chrono>

namespace quorvil {

std::int64_t TypeAhead::Now() const
{
    if (clock_)
        return clock_();
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void TypeAhead::Expire(std::int64_t nowMs)
{
    if (!started_ || nowMs - last_ >= kPauseMs) {
        prefix_.clear();
        lengths_.clear();
    }
    started_ = true;
    last_ = nowMs;
}

const std::string& TypeAhead::Type(std::string_view character, std::int64_t nowMs)
{
    Expire(nowMs);
    if (!character.empty()) {
        prefix_ += character;
        lengths_.push_back(character.size());
    }
    return prefix_;
}

const std::string& TypeAhead::Backspace(std::int64_t nowMs)
{
    Expire(nowMs);
    if (!lengths_.empty()) {
        prefix_.resize(prefix_.size() - lengths_.back());
        lengths_.pop_back();
    }
    return prefix_;
}

void SelectFirstBeginningWith(TypeAheadList& list, const std::string& prefix)
{
    if (prefix.empty())
        return;
    const int count = list.Count();
    for (int i = 0; i < count; ++i) {
        if (list.BeginsWith(i, prefix)) {
            list.Select(i);
            return;
        }
    }
}

} // namespace quorvil
