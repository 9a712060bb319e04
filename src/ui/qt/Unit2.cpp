#include "Unit2.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QWindow>

#include "form_design.h"
#include "form_support.h"
#include "x11_hints.h"

namespace quorvil {

TForm2::TForm2(QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                         Qt::MSWindowsFixedSizeDialogHint)
{
    setWindowTitle(QString::fromUtf8(design::kAboutCaption));
    setModal(false);
    setSizeGripEnabled(false);

    QLabel** labels[] = {&Label1, &Label2, &Label3, &Label4};
    for (std::size_t i = 0; i < design::kAboutLabels.size(); ++i) {
        const design::Control& label = design::kAboutLabels[i];
        auto* made = new QLabel(QString::fromStdString(design::LabelText(label)), this);
        if (label.kind == design::Kind::boldLabel) {
            QFont bold = made->font();
            bold.setBold(true);
            made->setFont(bold);
        }
        made->setGeometry(DesignedPlace(this, label.place));
        *labels[i] = made;
    }
    Button1 = new QPushButton(QString::fromStdString(std::string(design::kAboutButton1.text)), this);
    Button1->setAutoDefault(true); // Enter presses OK while it has the focus
    Button1->setGeometry(DesignedPlace(this, design::kAboutButton1.place));
    connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
    setFixedSize(DesignedPixels(this, design::kAboutClientWidth), DesignedPixels(this, design::kAboutClientHeight));
}

void TForm2::ShowAbout()
{
    showing_.Show();
}

void TForm2::PlaceCentred()
{
    ShowCentred(this);
}

void TForm2::Reveal()
{
    // Under Wayland only the compositor stacks and focuses windows, and raise() and activateWindow()
    // do nothing; a window mapped anew is put on top and focused. Its place is the compositor's
    // anyway there.
    if (isVisible() && QGuiApplication::platformName().startsWith("wayland"))
        hide();
    show();
    KeepOffTaskBar(this); // one task-bar entry for the application: the main window's
}

void TForm2::Raise()
{
    raise();
    activateWindow();
}

void TForm2::FocusOk()
{
    Button1->setFocus();
}

void TForm2::PaintNow()
{
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    if (windowHandle() && windowHandle()->isExposed())
        repaint();
}

void TForm2::Button1Click()
{
    hide();
}

void TForm2::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape) {
        event->accept(); // Esc does not close this window
        return;
    }
    QDialog::keyPressEvent(event);
}

} // namespace quorvil
