#pragma once

namespace quorvil {

// A request to end the application made while a queue run waits for a tool takes effect only
// once the run's command has returned: the whole queue is converted first.
class RunQuitGate {
public:
    // A run's command starts / has returned (runs may nest inside the event hook).
    void RunStarted() { ++runs_; }
    void RunEnded() { --runs_; }

    // Asks for the end of the application: now, or when the run under way has returned.
    void RequestEnd() { endRequested_ = true; }

    // Whether the end asked for is due now (no run under way); true once, then forgotten.
    [[nodiscard]] bool TakeEndDue()
    {
        if (!endRequested_ || runs_ > 0)
            return false;
        endRequested_ = false;
        return true;
    }

    [[nodiscard]] bool RunUnderWay() const { return runs_ > 0; }

private:
    int runs_ = 0;
    bool endRequested_ = false;
};

// Keeps a run counted for its scope, whatever way it leaves.
class RunScope {
public:
    explicit RunScope(RunQuitGate& gate) : gate_(gate) { gate_.RunStarted(); }
    ~RunScope() { gate_.RunEnded(); }
    RunScope(const RunScope&) = delete;
    RunScope& operator=(const RunScope&) = delete;

private:
    RunQuitGate& gate_;
};

} // namespace quorvil
