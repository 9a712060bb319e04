#include "file_io.h"

#include "new_file.h"

namespace sox {

namespace {

class TemporaryOutput : public OutputFile {
public:
    explicit TemporaryOutput(const std::string& target) : new_(target, ".sox-", ".tmp"), file_(FileOf(new_)) {}

    File& file() override { return *file_; }

    void Commit() override { new_.Commit(); }

private:
    tool::NewFile new_;
    std::unique_ptr<File> file_;
};

} // namespace

std::unique_ptr<OutputFile> CreateOutput(const std::string& target)
{
    return std::make_unique<TemporaryOutput>(target);
}

} // namespace sox
