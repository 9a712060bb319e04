#pragma once

#include <QDialog>

#include "about_form.h"

class QLabel;
class QPushButton;

namespace quorvil {

// The About window: modeless, one for the application's run, hidden rather than closed.
class TForm2 : public QDialog, private AboutView {
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
    void PlaceCentred() override;
    void Reveal() override;
    void Raise() override;
    void FocusOk() override;
    void PaintNow() override;

    AboutShowing showing_{*this};
};

} // namespace quorvil
