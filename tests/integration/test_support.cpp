#include "test_support.h"

#include "host.h"

#include <cstdlib>
#include <random>
#include <stdexcept>

namespace quorvil::test {

TempDir::TempDir()
{
    static std::mt19937_64 random{std::random_device{}()};
    for (int attempt = 0; attempt < 100; ++attempt) {
        path_ = std::filesystem::temp_directory_path() / ("quorvil-test-" + std::to_string(random()));
        if (std::filesystem::create_directory(path_))
            return;
    }
    throw std::runtime_error("cannot make a temporary directory");
}

TempDir::~TempDir()
{
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

QueueAccess FakeQueue::Access()
{
    return {
        [this] { return static_cast<int>(entries.size()); },
        [this](int i) -> std::optional<std::string> {
            if (i < 0 || i >= static_cast<int>(entries.size()))
                return std::nullopt;
            return entries[static_cast<std::size_t>(i)];
        },
        [this] { return subdir; },
        [this] { return deleteOriginal; },
    };
}

std::string ProgramName(const std::string& name)
{
    return HostPathRules().style == PathStyle::windows ? name + ".exe" : name;
}

std::string Sep()
{
    return HostPathRules().style == PathStyle::windows ? "\\" : "/";
}

std::vector<ToolRun> ReadToolLog(const std::string& path)
{
    std::vector<ToolRun> runs;
    const std::string log = ReadFile(path);
    std::size_t start = 0;
    for (std::size_t end; (end = log.find('\x1e', start)) != std::string::npos; start = end + 1) {
        std::vector<std::string> fields;
        std::size_t f = start;
        for (std::size_t e; (e = log.find('\x1f', f)) < end; f = e + 1)
            fields.push_back(log.substr(f, e - f));
        ToolRun run{fields.at(0), fields.at(1), {fields.begin() + 2, fields.end()}, {}};
        if (run.tool == "vdub" && !run.args.empty()) {
            run.script = run.args.back();
            run.args.pop_back();
        }
        runs.push_back(std::move(run));
    }
    return runs;
}

std::string TestHelper(const std::string& name)
{
    return (std::filesystem::path(ProgramDirectory()) / "helpers" / ProgramName(name)).string();
}

void InstallFakeTools(const TempDir& dir)
{
    const std::string fakeTool = TestHelper("fake_tool");
    std::filesystem::copy_file(fakeTool, dir / ProgramName("vdub"));
    std::filesystem::copy_file(fakeTool, dir / ProgramName("sox"));
}

ScopedEnv::ScopedEnv(const char* name, const std::string& value) : name_(name)
{
    if (const char* old = std::getenv(name))
        old_ = old;
    SetEnv(name, value);
}

ScopedEnv::~ScopedEnv()
{
    if (old_)
        SetEnv(name_.c_str(), *old_);
    else
        UnsetEnv(name_.c_str());
}

int RecordsLeftOpen(const std::string& folder)
{
    int open = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        open += name.starts_with("entry-") && !ReadFile(entry.path().string()).ends_with("over\n");
    }
    return open;
}

} // namespace quorvil::test
