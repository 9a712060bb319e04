#pragma once

#include "Mainfrm.h"
#include "Unit2.h"
#include "form_host.h"

namespace quorvil {

// The application's two windows, made, wired together and made known to the application that owns
// them here and nowhere else: the program, the tests and the screenshot tool all start from this.
// The About window is made hidden; the main window is shown by the caller.
struct Forms {
    explicit Forms(FormHost& application);
    Forms(FormHost& application, TForm1::Services services);
    ~Forms();
    Forms(const Forms&) = delete;
    Forms& operator=(const Forms&) = delete;

    TForm1 main;
    TForm2 about;

private:
    FormHost& application_;
};

} // namespace quorvil
