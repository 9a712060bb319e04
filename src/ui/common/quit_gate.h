#pragma once

namespace quorvil {

// A request to end the application made while a queue run waits for a tool takes effect only
// once the run's command has returned: the whole queue is converted first. Whether a run is under
// way is the queue runner's to say; this only remembers the request.
class QuitGate {
public:
    // Asks for the end of the application: now, or when the run under way has returned.
    void RequestEnd() { endRequested_ = true; }

    // Whether the end asked for is due now, that is, no run is under way; true once, then forgotten.
    [[nodiscard]] bool TakeEndDue(bool runUnderWay)
    {
        if (!endRequested_ || runUnderWay)
            return false;
        endRequested_ = false;
        return true;
    }

private:
    bool endRequested_ = false;
};

} // namespace quorvil
