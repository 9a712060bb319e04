#include "error_box.h"

#include <QApplication>
#include <QFontMetrics>
#include <QGridLayout>
#include <QMessageBox>
#include <QScreen>
#include <QSpacerItem>
#include <QStyle>

#include "error_text.h"
#include "error_box_text.h"
#include "form_design.h"

namespace quorvil {

void ShowErrorBox(const std::exception& error)
{
    QWidget* parent = QApplication::activeWindow();
    const QScreen* screen = parent ? parent->screen() : QGuiApplication::primaryScreen();
    const int available = screen ? screen->availableGeometry().height() : 600;
    QMessageBox box(QMessageBox::Critical, QString::fromUtf8(design::kErrorBoxCaption), {}, QMessageBox::Ok, parent);
    box.setWindowModality(Qt::ApplicationModal);
    // Wide enough for the window manager to show the caption beside its buttons.
    if (auto* grid = qobject_cast<QGridLayout*>(box.layout())) {
        const int width = QFontMetrics(box.font()).horizontalAdvance(QString(40, 'x'));
        grid->addItem(new QSpacerItem(width, 0, QSizePolicy::Minimum, QSizePolicy::Expanding), grid->rowCount(), 0, 1,
                      grid->columnCount());
    }

    // The window manager's frame is not known before the box is shown: a title bar's worth is kept free.
    const int frame = box.style()->pixelMetric(QStyle::PM_TitleBarHeight) +
                      2 * box.style()->pixelMetric(QStyle::PM_DefaultFrameWidth);
    const int lineHeight = QFontMetrics(box.font()).lineSpacing();
    const QString whole = QString::fromStdString(WithFullStop(error.what()));
    // Long lines wrap at a width the box chooses as it is shown: the box is measured as laid out,
    // and cut further until it fits, before it takes the user's input; it shows the text that fit,
    // which need not be the last one measured.
    const FittedErrorText fitted =
        FitErrorBoxText(error, LinesThatFit(available, lineHeight, frame), lineHeight, [&](const std::string& text) {
            const QString shown = QString::fromStdString(text);
            box.setText(shown);
            if (shown != whole && box.detailedText().isEmpty())
                box.setDetailedText(whole);
            box.show();
            return box.height() + frame - available;
        });
    box.setText(QString::fromStdString(fitted.text));
    box.exec();
}

} // namespace quorvil
