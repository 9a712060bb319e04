#include "test_support.h"

#include "file_ops.h"

#include <cstdlib>
#include <fstream>
#include <iterator>
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

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteFile(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
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

namespace {

std::string ProgramSuffix()
{
    return HostPathRules().style == PathStyle::windows ? ".exe" : "";
}

} // namespace

std::string TestHelper(const std::string& name)
{
    return (std::filesystem::path(ProgramDirectory()) / "helpers" / (name + ProgramSuffix())).string();
}

void InstallFakeTools(const TempDir& dir)
{
    const std::string fakeTool = TestHelper("fake_tool");
    std::filesystem::copy_file(fakeTool, dir / ("vdub" + ProgramSuffix()));
    std::filesystem::copy_file(fakeTool, dir / ("sox" + ProgramSuffix()));
}

ScopedEnv::ScopedEnv(const char* name, const std::string& value) : name_(name)
{
    SetEnv(name, value);
}

ScopedEnv::~ScopedEnv()
{
    UnsetEnv(name_.c_str());
}

} // namespace quorvil::test
