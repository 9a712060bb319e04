#include "end_signals.h"

#include <array>
#include <cerrno>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QSocketNotifier>

namespace quorvil {

namespace {

constexpr std::array<int, 3> kSignals{SIGTERM, SIGINT, SIGHUP};

// Written by the handler, which may do nothing but write(); read in the event loop.
int writeEnd = -1;

void Handler(int signal)
{
    const int saved = errno;
    const auto byte = static_cast<unsigned char>(signal);
    [[maybe_unused]] const ssize_t written = write(writeEnd, &byte, 1);
    errno = saved;
}

} // namespace

struct EndSignals::Pipe {
    std::array<int, 2> fds{-1, -1};
    std::unique_ptr<QSocketNotifier> notifier;

    ~Pipe()
    {
        notifier.reset();
        for (const int fd : fds) {
            if (fd >= 0)
                close(fd);
        }
    }
};

EndSignals::EndSignals(std::function<void(int)> received)
    : pipe_(std::make_unique<Pipe>()), received_(std::move(received))
{
    if (pipe2(pipe_->fds.data(), O_CLOEXEC | O_NONBLOCK) != 0)
        return; // then the signals keep their default actions
    writeEnd = pipe_->fds[1];
    pipe_->notifier = std::make_unique<QSocketNotifier>(pipe_->fds[0], QSocketNotifier::Read);
    connect(pipe_->notifier.get(), &QSocketNotifier::activated, this, [this] {
        unsigned char byte = 0;
        while (read(pipe_->fds[0], &byte, 1) == 1)
            received_(byte);
    });
    struct sigaction action {};
    action.sa_handler = Handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : kSignals)
        sigaction(signal, &action, nullptr);
}

EndSignals::~EndSignals()
{
    for (const int signal : kSignals)
        ::signal(signal, SIG_DFL);
    writeEnd = -1;
}

} // namespace quorvil
