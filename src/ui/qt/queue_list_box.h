#pragma once

#include <functional>

#include <QListWidget>
#include <QStringList>

#include "type_ahead.h"

class QMenu;
class QMimeData;

namespace quorvil {

// ListBox1, the queue: single selection, type-ahead search, a right click that leaves the
// selection alone, the context menu at the list's corner from the keyboard, files dropped on it.
class QueueListBox : public QListWidget, private TypeAheadList {
public:
    QueueListBox(QWidget* parent, std::function<void(const QStringList&)> dropped, TypeAhead::Clock clock);

    QMenu* contextMenu = nullptr;

    // The entries, in order.
    [[nodiscard]] QStringList Entries() const;

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    [[nodiscard]] int Count() const override { return count(); }
    [[nodiscard]] bool BeginsWith(int index, const std::string& utf8Prefix) const override;
    void Select(int index) override { setCurrentRow(index); }

    std::function<void(const QStringList&)> dropped_;
    TypeAhead typeAhead_;
};

} // namespace quorvil
