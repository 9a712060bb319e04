#include "queue_list_box.h"

#include <QContextMenuEvent>
#include <QDir>
#include <QFileInfo>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QUrl>

namespace quorvil {

namespace {

// The files dropped, a folder standing for the AVI files directly inside it, in name order.
QStringList LocalFiles(const QMimeData* data)
{
    QStringList files;
    for (const QUrl& url : data->urls()) {
        if (!url.isLocalFile())
            continue;
        const QString path = url.toLocalFile();
        if (!QFileInfo(path).isDir()) {
            files << path;
            continue;
        }
        QDir folder(path);
        folder.setNameFilters({"*.avi"}); // regardless of case, as QDir matches by default
        folder.setFilter(QDir::Files | QDir::Hidden);
        folder.setSorting(QDir::Name);
        for (const QString& name : folder.entryList())
            files << folder.filePath(name);
    }
    return files;
}

void AcceptFiles(QDropEvent* event)
{
    if (!LocalFiles(event->mimeData()).isEmpty())
        event->acceptProposedAction();
    else
        event->ignore();
}

} // namespace

QueueListBox::QueueListBox(QWidget* parent, std::function<void(const QStringList&)> dropped, TypeAhead::Clock clock)
    : QListWidget(parent), dropped_(std::move(dropped)), typeAhead_(std::move(clock))
{
    setSelectionMode(QAbstractItemView::SingleSelection);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setTextElideMode(Qt::ElideNone);
    setWordWrap(false);
    setAcceptDrops(true);
    setDragDropMode(QAbstractItemView::DropOnly);
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored); // the window has no size limits
}

QStringList QueueListBox::Entries() const
{
    QStringList entries;
    for (int i = 0; i < count(); ++i)
        entries << item(i)->text();
    return entries;
}

void QueueListBox::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::RightButton) {
        event->accept(); // the context menu follows; the selection stays as it is
        return;
    }
    QListWidget::mousePressEvent(event);
}

void QueueListBox::contextMenuEvent(QContextMenuEvent* event)
{
    if (!contextMenu)
        return;
    const QPoint at =
        event->reason() == QContextMenuEvent::Mouse ? event->globalPos() : viewport()->mapToGlobal(QPoint(0, 0));
    contextMenu->popup(at);
    event->accept();
}

void QueueListBox::keyPressEvent(QKeyEvent* event)
{
    // Shift+F10 opens the context menu as the Menu key does, at the corner inside the list's frame.
    if (event->key() == Qt::Key_F10 && event->modifiers() == Qt::ShiftModifier && contextMenu) {
        contextMenu->popup(viewport()->mapToGlobal(QPoint(0, 0)));
        return;
    }
    const bool plain = !(event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier));
    if (plain && event->key() == Qt::Key_Backspace) {
        SelectFirstBeginningWith(*this, typeAhead_.Backspace());
        return;
    }
    const QString text = event->text();
    if (plain && !text.isEmpty() && text.at(0).isPrint()) {
        // One character at a time, so that Backspace takes back exactly one.
        for (const char32_t code : text.toUcs4())
            SelectFirstBeginningWith(*this, typeAhead_.Type(QString::fromUcs4(&code, 1).toStdString()));
        return;
    }
    QListWidget::keyPressEvent(event);
}

void QueueListBox::dragEnterEvent(QDragEnterEvent* event)
{
    AcceptFiles(event);
}

void QueueListBox::dragMoveEvent(QDragMoveEvent* event)
{
    AcceptFiles(event);
}

void QueueListBox::dropEvent(QDropEvent* event)
{
    const QStringList files = LocalFiles(event->mimeData());
    if (files.isEmpty())
        return;
    event->acceptProposedAction();
    dropped_(files);
}

bool QueueListBox::BeginsWith(int index, const std::string& utf8Prefix) const
{
    return item(index)->text().startsWith(QString::fromStdString(utf8Prefix), Qt::CaseInsensitive);
}

} // namespace quorvil
