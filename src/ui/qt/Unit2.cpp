#include "Unit2.h"

#include <algorithm>

#include <QFont>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QScreen>

#include "Mainfrm.h"
#include "layout.h"
#include "x11_hints.h"

namespace quorvil {

TForm2::TForm2(QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                         Qt::MSWindowsFixedSizeDialogHint)
{
    setWindowTitle("About");
    setModal(false);
    setSizeGripEnabled(false);

    Label1 = new QLabel("Quorvil " QUORVIL_VERSION, this);
    QFont bold = Label1->font();
    bold.setBold(true);
    Label1->setFont(bold);
    Label2 = new QLabel("Splits an avi file into video, left audio and right audio.", this);
    Label3 = new QLabel("Written by the Quorvil team for its users.", this);
    Label4 = new QLabel("https://quorvil.example/", this);
    Button1 = new QPushButton("OK", this);
    Button1->setAutoDefault(true); // Enter presses OK while it has the focus
    connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });

    const int textHeight = QFontMetrics(font()).height();
    const auto s = [textHeight](int designPixels) { return ScaleForText(designPixels, textHeight); };
    for (auto [label, top] : {std::pair{Label1, 16}, {Label2, 40}, {Label3, 80}, {Label4, 96}}) {
        label->move(s(16), s(top));
        label->adjustSize();
    }
    Button1->setGeometry(s(248), s(152), s(75), s(25));
    setFixedSize(s(332), s(186));
}

void TForm2::ShowAbout()
{
    // Centred on the primary screen at the first showing; later showings keep the place it had.
    if (!shownBefore_)
        ShowCentred(this);
    shownBefore_ = true;
    // Under Wayland only the compositor stacks and focuses windows, and raise() and activateWindow()
    // do nothing; a window mapped anew is put on top and focused. Its place is the compositor's
    // anyway there.
    if (isVisible() && QGuiApplication::platformName().startsWith("wayland"))
        hide();
    show();
    KeepOffTaskBar(this); // one task-bar entry for the application: the main window's
    raise();
    activateWindow();
    Button1->setFocus();
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
