#pragma once

#include <exception>
#include <functional>

#include <QApplication>
#include <QStringList>

#include "form_host.h"

namespace quorvil {

// The application object: its title and icon, and the one place where an error that escapes a
// command is shown.
class TApplication : public QApplication, public FormHost {
public:
    TApplication(int& argc, char** argv);

    [[nodiscard]] static TApplication* Instance();

    // Shows the error in the error box, and goes on.
    void ShowException(const std::exception& error) override;

    // What puts the error on screen: the error box by default; tests read it instead.
    std::function<void(const std::exception& error)> showError;
};

// The whole program: reads the command line (files for the queue, or --help, --version), then
// runs the application with its two windows until it ends. Returns the exit code.
int RunApplication(int argc, char** argv);

// The files named on the command line, made absolute: the queue at start ("Open with").
[[nodiscard]] QStringList StartFiles(const std::vector<std::string>& files);

// Runs a command outside the main window's own (the About window's); an error that escapes it goes
// to the application's error display.
template <class Command> void Guarded(Command&& command)
{
    try {
        command();
    } catch (const std::exception& error) {
        TApplication::Instance()->ShowException(error);
    }
}

} // namespace quorvil
