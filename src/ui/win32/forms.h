#pragma once

#include "Mainfrm.h"
#include "Unit2.h"

namespace quorvil {

// The application's two windows, made, wired together and known to the application object here
// and nowhere else: the program, the tests and the screenshot tool all start from this. The About
// window is made hidden; the main window is shown by the caller.
struct Forms {
    explicit Forms(TForm1::Services services = TForm1::DefaultServices());
    ~Forms();
    Forms(const Forms&) = delete;
    Forms& operator=(const Forms&) = delete;

    TForm1 main;
    TForm2 about;
};

} // namespace quorvil
