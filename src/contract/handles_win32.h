#pragma once

#include <memory>
#include <type_traits>

#include <windows.h>

namespace quorvil {

// A handle of the system, closed when it goes.
struct HandleCloser {
    void operator()(HANDLE handle) const { CloseHandle(handle); }
};
using UniqueHandle = std::unique_ptr<std::remove_pointer_t<HANDLE>, HandleCloser>;

} // namespace quorvil
