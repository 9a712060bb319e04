#include "form_support.h"

#include <algorithm>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <QWindow>

#include "layout.h"

namespace quorvil {

int DesignedPixels(const QWidget* widget, int designPixels)
{
    return ScaleForText(designPixels, QFontMetrics(widget->font()).height());
}

QRect DesignedPlace(const QWidget* widget, const design::Rect& place)
{
    const design::Rect scaled = ScaleForText(place, QFontMetrics(widget->font()).height());
    return {scaled.left, scaled.top, scaled.width, scaled.height};
}

void ShowCentred(QWidget* window)
{
    window->show();
    // The frame is the window manager's; it tells its size once the window is mapped.
    QWindow* handle = window->windowHandle();
    QElapsedTimer waited;
    waited.start();
    // Just after mapping, Qt may for a moment hold the frame as smaller than the window (seen at a
    // scale factor of 2, about one showing in 15): centred by that, the corner was at the middle.
    const auto frameKnown = [handle] {
        const QMargins frame = handle->frameMargins();
        return !frame.isNull() && std::min({frame.left(), frame.top(), frame.right(), frame.bottom()}) >= 0;
    };
    while (handle && !frameKnown() && waited.elapsed() < 300)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect free = screen->availableGeometry();
    const QSize frame = window->size().grownBy(handle && frameKnown() ? handle->frameMargins() : QMargins());
    window->move(std::max(free.x(), free.x() + (free.width() - frame.width()) / 2),
                 std::max(free.y(), free.y() + (free.height() - frame.height()) / 2));
}

} // namespace quorvil
