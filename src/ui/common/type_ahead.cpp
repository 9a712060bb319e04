#include "type_ahead.h"

namespace quorvil {

void TypeAhead::Expire(std::int64_t nowMs)
{
    if (!started_ || nowMs - last_ >= kPauseMs)
        prefix_.clear();
    started_ = true;
    last_ = nowMs;
}

const std::string& TypeAhead::Type(std::string_view character, std::int64_t nowMs)
{
    Expire(nowMs);
    prefix_ += character;
    return prefix_;
}

const std::string& TypeAhead::Backspace(std::int64_t nowMs)
{
    Expire(nowMs);
    // Take back one whole UTF-8 character.
    while (!prefix_.empty()) {
        const auto last = static_cast<unsigned char>(prefix_.back());
        prefix_.pop_back();
        if ((last & 0xC0) != 0x80)
            break;
    }
    return prefix_;
}

} // namespace quorvil
