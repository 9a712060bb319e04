#include "errors.h"

namespace quorvil {

std::string IoErrorMessage(int windowsCode)
{
    switch (windowsCode) {
    case 2:
        return "File not found";
    case 3:
        return "Invalid filename";
    case 4:
        return "Too many open files";
    case 5:
        return "File access denied";
    case 100:
        return "Read beyond end of file";
    case 101:
        return "Disk full";
    case 106:
        return "Invalid numeric input";
    default:
        return "I/O error " + std::to_string(windowsCode);
    }
}

std::string NamedText(const Error& error)
{
    const auto* named = dynamic_cast<const NamedError*>(&error);
    return named ? named->Named() : error.what();
}

void RethrowNamingFolder(const std::string& folder)
{
    try {
        throw;
    } catch (const Error& e) {
        const std::string text = e.what();
        // A Windows code means nothing to most users: say what it stands for too.
        const std::string why = text == IoErrorMessage(183) ? "it exists already (" + text + ")" : text;
        throw NamedError(text, "cannot create the output folder " + folder + ": " + why);
    }
}

std::string CannotCreateFileMessage(const std::string& path, const std::string& systemText)
{
    std::string text = systemText;
    while (!text.empty()) {
        const auto last = static_cast<unsigned char>(text.back());
        if (last > ' ' && last != '.')
            break;
        text.pop_back();
    }
    return "Cannot create file \"" + path + "\". " + text;
}

std::string StreamWriteErrorMessage(const std::string& systemText)
{
    return systemText.empty() ? kStreamWriteError : kStreamWriteError + (": " + systemText);
}

std::string ListIndexOutOfBoundsMessage(int index)
{
    return "List index out of bounds (" + std::to_string(index) + ")";
}

} // namespace quorvil
