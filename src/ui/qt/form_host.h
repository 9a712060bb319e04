#pragma once

#include <exception>

namespace quorvil {

// What the windows ask of the application that owns them. The application object answers it and
// is handed to the windows as they are made, so that no window reaches up for it.
class FormHost {
public:
    virtual ~FormHost() = default;

    // Shows an error that escaped a command in the application's error display, and goes on.
    virtual void ShowException(const std::exception& error) = 0;
};

} // namespace quorvil
