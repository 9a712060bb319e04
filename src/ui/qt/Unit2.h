#pragma once

#include <QDialog>

class QLabel;
class QPushButton;

namespace quorvil {

// The About window: modeless, one for the application's run, hidden rather than closed.
class TForm2 : public QDialog {
public:
    explicit TForm2(QWidget* owner);

    QLabel* Label1;
    QLabel* Label2;
    QLabel* Label3;
    QLabel* Label4;
    QPushButton* Button1;

    // Shows the window (or only raises it when it is up already) and gives OK the focus.
    void ShowAbout();
    void Button1Click();

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    // The steps of ShowAbout, each the platform's to do its own way.
    void PlaceAtFirstShowing();
    void BringToFront();
    void PaintNow();

    bool shownBefore_ = false;
};

} // namespace quorvil
