#pragma once

#include <functional>
#include <memory>

#include <QObject>

namespace quorvil {

// SIGTERM, SIGINT and SIGHUP (a logout, `kill`, Ctrl+C in the terminal) as a call in the event
// loop instead of the process's sudden end: the application can end its tool and clean up first.
// One object for the application's run; the signals' default actions come back when it goes.
class EndSignals : public QObject {
public:
    explicit EndSignals(std::function<void(int)> received);
    ~EndSignals() override;
    EndSignals(const EndSignals&) = delete;
    EndSignals& operator=(const EndSignals&) = delete;

private:
    struct Pipe;
    std::unique_ptr<Pipe> pipe_;
    std::function<void(int)> received_;
};

} // namespace quorvil
