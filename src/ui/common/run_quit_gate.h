#pragma once

namespace quorvil {

// A request to end the application made while a queue run waits for a tool takes effect only
// once the run's command has returned: the whole queue is converted first.
class RunQuitGate {
public:
    // A run's command starts / has returned (runs may nest inside the event hook).
    void RunStarted() { ++runs_; }
    void RunEnded() { --runs_; }

    // Asks for the end; true when the application may end now, false when it ends after the run.
    [[nodiscard]] bool RequestEnd()
    {
        endRequested_ = true;
        return runs_ == 0;
    }

    // After a run's command: whether an end asked for meanwhile is now due.
    [[nodiscard]] bool EndDue() const { return endRequested_ && runs_ == 0; }

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
