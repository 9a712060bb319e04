#include "start_arguments.h"

#include "form_design.h"

namespace quorvil {

namespace {

constexpr const char* kUsage = "Usage: quorvil [FILE...]\n";

} // namespace

StartArguments ParseStartArguments(const std::vector<std::string>& arguments)
{
    StartArguments start;
    bool options = true;
    for (const std::string& argument : arguments) {
        if (options && argument == "--") {
            options = false;
        } else if (options && argument == "--help") {
            return {StartArguments::Action::printHelp,
                    {},
                    std::string(kUsage) +
                        "Opens the Quorvil window with the AVI files given in its queue. The window splits each file\n"
                        "into video without sound and the left and right audio channels.\n"
                        "\n"
                        "  --help     show this text\n"
                        "  --version  show the version\n"
                        "  --         what follows is a file, even if it begins with \"-\"\n"};
        } else if (options && argument == "--version") {
            return {StartArguments::Action::printVersion, {}, "quorvil " + std::string(design::kVersion) + "\n"};
        } else if (options && argument.size() > 1 && argument.starts_with('-')) {
            return {StartArguments::Action::refuse, {}, "quorvil: unknown option " + argument + "\n" + kUsage};
        } else {
            start.files.push_back(argument);
        }
    }
    return start;
}

} // namespace quorvil
