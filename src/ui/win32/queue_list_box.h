#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <windows.h>

#include "type_ahead.h"

namespace quorvil {

// ListBox1, the queue: a list box in insertion order with one selected entry at most, a vertical
// scroll bar when needed and never a horizontal one, type-ahead search by whole characters of the
// ANSI code page, no action on a double click, and files dropped on it from Explorer handed to
// `dropped` (the drop is let go afterwards).
class QueueListBox final : private TypeAheadList {
public:
    QueueListBox(HWND parent, int id, HFONT font, TypeAhead::Clock clock, std::function<void(HDROP)> dropped);
    ~QueueListBox();
    QueueListBox(const QueueListBox&) = delete;
    QueueListBox& operator=(const QueueListBox&) = delete;

    [[nodiscard]] HWND Handle() const { return handle_; }

    [[nodiscard]] int Count() const override;
    // Entry i, or nothing when the list has no such entry.
    [[nodiscard]] std::optional<std::string> Entry(int index) const;
    [[nodiscard]] std::vector<std::string> Entries() const;
    void Append(const std::string& entry);

private:
    static LRESULT CALLBACK Subclass(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                     DWORD_PTR self);
    void TypeAheadKey(WPARAM key);
    [[nodiscard]] bool BeginsWith(int index, const std::string& prefix) const override;
    void Select(int index) override;

    HWND handle_ = nullptr;
    TypeAhead typeAhead_;
    std::function<void(HDROP)> dropped_;
    std::string leadByte_; // the first byte of a double-byte character, until its second comes
};

} // namespace quorvil
