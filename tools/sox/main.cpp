// Our `sox`: the one command form the queue run uses, `sox IN OUT remix N`, done here with large
// reads and writes; every other command line goes to the system's SoX, unchanged.
#include <cerrno>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include <unistd.h>

#include "channel_copy.h"

int main(int argc, char** argv)
{
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    if (const auto copy = sox::ParseChannelCopy(arguments)) {
        try {
            sox::RunChannelCopy(*copy);
        } catch (const sox::Failure& failure) {
            std::cerr << "sox: " << failure.what() << '\n';
            return 2;
        }
        return 0;
    }
    ::execv(QUORVIL_SYSTEM_SOX, argv);
    std::cerr << "sox: cannot start " QUORVIL_SYSTEM_SOX ": " << std::strerror(errno) << '\n';
    return 127;
}
