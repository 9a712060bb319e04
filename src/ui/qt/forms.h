#pragma once

#include "Mainfrm.h"
#include "Unit2.h"

namespace quorvil {

// The application's two windows, made and wired together here and nowhere else: the program, the
// tests and the screenshot tool all start from this, with the application that owns them. The
// About window is made hidden.
struct Forms {
    explicit Forms(FormHost& application, TForm1::Services services = TForm1::DefaultServices());

    TForm1 main;
    TForm2 about;
};

} // namespace quorvil
