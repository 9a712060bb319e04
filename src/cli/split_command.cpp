#include "split_command.h"

#include <cerrno>
#include <charconv>
#include <cstring>
#include <optional>
#include <string_view>

#include "errors.h"
#include "failure_report.h"
#include "host.h"
#include "queue_run.h"
#include "wildcards.h"

namespace quorvil {

namespace {

constexpr const char* kUsage = "Usage: quorvil-split [--no-subdir] [--delete] [--jobs N] FILE...\n";

constexpr const char* kHelp =
    "Splits AVI files into video without sound (AVI) and the left and right audio channels (WAV).\n"
    "\n"
    "  --no-subdir  write FILE.noaudio.avi, FILE.A1.wav and FILE.A2.wav beside FILE\n"
    "               (default: into a new directory FILE_processed)\n"
    "  --delete     delete each FILE once its outputs provably hold its content\n"
    "  -j, --jobs N convert N files at a time (default 1); the lines and the list of failures\n"
    "               keep the order of FILE..., so a line may wait for an earlier, longer file\n"
    "  -h, --help   show this text\n"
    "  --version    show the version\n"
    "  --           what follows is a file, even if it begins with \"-\"\n"
    "\n"
    "The tools vdub and sox are taken from the directory of quorvil-split.\n"
    "Exit code: 0 every file converted, 1 a file was not converted or the run stopped, 2 bad usage,\n"
    "3 every file converted but a source file kept (listed, with the reason), 130, 143 or 129\n"
    "interrupted by SIGINT, SIGTERM or SIGHUP (a closed terminal).\n";

class PrintProgress : public RunObserver {
public:
    PrintProgress(std::ostream& out, std::ostream& err, int count) : out_(out), err_(err), count_(std::to_string(count))
    {
    }

    void EntryFinished(int index, const std::string& path, const EntryOutcome& outcome) override
    {
        ++finished_;
        std::string line = '[' + std::to_string(index + 1) + '/' + count_ + "] ";
        if (outcome.converted && outcome.reason.empty()) {
            line += "converted " + path;
        } else if (outcome.converted && outcome.sourceTakenAway) {
            line += "converted " + path + "; " + outcome.reason; // not kept by us: nothing is at its name
        } else if (outcome.converted) {
            line += "converted " + path + "; source kept because " + outcome.reason;
        } else {
            ++failed_;
            // A command line's words say what they are about ("I/O error 183" alone names no folder).
            const std::string& reason = outcome.namedReason.empty() ? outcome.reason : outcome.namedReason;
            line += "not converted " + path + ": " + WhyNotConverted(reason, outcome.sourceMissing);
        }
        Print(line);
    }

    void EntryInterrupted(int index, const std::string& path, const EntryOutcome& outcome) override
    {
        EntryFinished(index, path, outcome);
    }

    void Warning(const std::string& text) override { err_ << "quorvil-split: " << text << std::endl; }

    // Whether every entry came to its end converted.
    [[nodiscard]] bool AllConverted(std::size_t count) const { return failed_ == 0 && finished_ == count; }

    // The lines that could not be written, and why, in a line for the error output; empty when
    // every line was written. The run does not stop for them: converting needs no reader.
    [[nodiscard]] std::string Unwritten() const
    {
        if (unwritten_ == 0)
            return {};
        return "quorvil-split: " + std::to_string(unwritten_) + (unwritten_ == 1 ? " line" : " lines") +
               " could not be written to standard output" + (reason_.empty() ? "" : ": " + reason_) + "\n";
    }

private:
    void Print(const std::string& line)
    {
        if (unwritten_ == 0) {
            errno = 0;
            out_ << line << std::endl;
            if (out_)
                return;
            // The stream gives no reason; the write under it left one.
            reason_ = errno != 0 ? std::strerror(errno) : "";
        }
        ++unwritten_; // a stream that failed stays failed: the rest is not tried
    }

    std::size_t finished_ = 0;
    std::size_t failed_ = 0;
    std::size_t unwritten_ = 0;
    std::string reason_;
    std::ostream& out_;
    std::ostream& err_;
    std::string count_;
};

// The number of --jobs: a whole number from 1 up, nothing else.
std::optional<int> JobCount(std::string_view text)
{
    int jobs = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), jobs);
    if (error != std::errc() || end != text.data() + text.size() || jobs < 1)
        return std::nullopt;
    return jobs;
}

// Converts files, as the window's queue would, and says how it went as the exit code.
int ConvertFiles(std::vector<std::string> files, bool subdir, bool deleteOriginal, int jobs, std::ostream& out,
                 std::ostream& err, const PendingSignal& pendingSignal)
{
    PrintProgress progress(out, err, static_cast<int>(files.size()));
    const auto signal = [&pendingSignal] { return pendingSignal ? pendingSignal() : 0; };
    try {
        // Like the window's queue: full paths, since the tools are not run in the user's directory.
        for (auto& file : files)
            file = FullPath(file);

        QueueRunner runner;
        runner.Environment().observer = &progress;
        const QueueAccess queue{
            [&] { return static_cast<int>(files.size()); },
            [&](int i) -> std::optional<std::string> {
                if (signal() != 0) // between two entries: stop before the next one starts
                    throw RunInterrupted("quorvil-split was interrupted by signal " + std::to_string(signal()));
                return files.at(static_cast<std::size_t>(i));
            },
            [&] { return subdir; },
            [&] { return deleteOriginal; },
        };
        runner.RunQueue(
            queue,
            [&] {
                if (signal() != 0)
                    throw RunInterrupted("quorvil-split was interrupted by signal " + std::to_string(signal()));
            },
            jobs);
    } catch (const Error& e) {
        out.flush();
        err << e.what() << '\n' << progress.Unwritten();
        if (signal() != 0)
            return 128 + signal();
        // Every file converted, yet the list says something a script should not miss: a source
        // that could not be deleted, or that left during its conversion.
        return progress.AllConverted(files.size()) ? 3 : 1;
    }
    err << progress.Unwritten();
    return signal() != 0 ? 128 + signal() : 0;
}

} // namespace

int RunSplitCommand(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err,
                    const PendingSignal& pendingSignal)
{
    bool subdir = true;
    bool deleteOriginal = false;
    int jobs = 1;
    std::vector<std::string> files;
    const auto setJobs = [&jobs, &err](std::string_view value) {
        const std::optional<int> count = JobCount(value);
        if (!count)
            err << "quorvil-split: the number of jobs must be a whole number from 1 up, not \"" << value << "\"\n"
                << kUsage;
        jobs = count.value_or(jobs);
        return count.has_value();
    };
    bool options = true;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (options && argument == "--") {
            options = false;
        } else if (options && (argument == "--help" || argument == "-h")) {
            out << kUsage << kHelp;
            return 0;
        } else if (options && argument == "--version") {
            out << "quorvil-split " QUORVIL_VERSION "\n";
            return 0;
        } else if (options && argument == "--no-subdir") {
            subdir = false;
        } else if (options && argument == "--delete") {
            deleteOriginal = true;
        } else if (options && (argument == "--jobs" || argument == "-j")) {
            if (i + 1 == arguments.size()) {
                err << "quorvil-split: " << argument << " needs a number\n" << kUsage;
                return 2;
            }
            if (!setJobs(arguments[++i]))
                return 2;
        } else if (options && argument.starts_with("--jobs=")) {
            if (!setJobs(std::string_view(argument).substr(7)))
                return 2;
        } else if (options && argument.starts_with("-j")) {
            if (!setJobs(std::string_view(argument).substr(2)))
                return 2;
        } else if (options && argument.size() > 1 && argument.starts_with('-')) {
            err << "quorvil-split: unknown option " << argument << '\n' << kUsage;
            return 2;
        } else {
            files.push_back(argument);
        }
    }
    if (files.empty()) {
        err << kUsage;
        return 2;
    }
    return ConvertFiles(ExpandWildcards(files), subdir, deleteOriginal, jobs, out, err, pendingSignal);
}

} // namespace quorvil
