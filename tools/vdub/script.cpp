#include "script.h"

#include <cctype>
#include <optional>
#include <variant>

namespace vdub {

namespace {

using Argument = std::variant<std::string, long long>;

struct Statement {
    std::string name;
    std::vector<Argument> arguments;
};

// What is wrong with one line; ParseScript adds the line's name and number.
class LineError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Reads one line's statement; throws LineError.
class LineReader {
public:
    explicit LineReader(std::string_view text) : text_(text) {}

    std::optional<Statement> Read()
    {
        SkipSpace();
        if (AtEnd() || Rest().starts_with("//"))
            return std::nullopt;
        Statement statement;
        statement.name = Name();
        Expect('(');
        SkipSpace();
        if (Peek() != ')') {
            for (;;) {
                statement.arguments.push_back(Value());
                SkipSpace();
                if (Peek() != ',')
                    break;
                ++pos_;
            }
        }
        Expect(')');
        Expect(';');
        SkipSpace();
        if (!AtEnd() && !Rest().starts_with("//"))
            throw LineError("unexpected text after the statement");
        return statement;
    }

private:
    [[nodiscard]] bool AtEnd() const { return pos_ >= text_.size(); }
    [[nodiscard]] char Peek() const { return AtEnd() ? '\0' : text_[pos_]; }
    [[nodiscard]] std::string_view Rest() const { return text_.substr(pos_); }

    void SkipSpace()
    {
        while (!AtEnd() && (text_[pos_] == ' ' || text_[pos_] == '\t'))
            ++pos_;
    }

    void Expect(char c)
    {
        SkipSpace();
        if (Peek() != c)
            throw LineError(std::string("expected '") + c + "'");
        ++pos_;
    }

    std::string Name()
    {
        std::string name;
        while (!AtEnd() && (std::isalnum(static_cast<unsigned char>(Peek())) || Peek() == '_' || Peek() == '.'))
            name += text_[pos_++];
        if (name.empty())
            throw LineError("expected a statement");
        return name;
    }

    Argument Value()
    {
        if (Peek() == '"')
            return String();
        std::string digits;
        if (Peek() == '-' || Peek() == '+')
            digits += text_[pos_++];
        while (std::isdigit(static_cast<unsigned char>(Peek())))
            digits += text_[pos_++];
        if (digits.empty() || digits == "-" || digits == "+" || digits.size() > 18)
            throw LineError("expected a string or a number");
        return std::stoll(digits);
    }

    static int HexDigit(char c)
    {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        if (c >= 'A' && c <= 'F')
            return c - 'A' + 10;
        return -1;
    }

    std::string String()
    {
        ++pos_; // the opening quote
        std::string value;
        for (;;) {
            if (AtEnd())
                throw LineError("unterminated string");
            const char c = text_[pos_++];
            if (c == '"')
                return value;
            if (c != '\\') {
                value += c;
                continue;
            }
            const char e = Peek();
            ++pos_;
            switch (e) {
            case '\\':
            case '"':
                value += e;
                break;
            case 'n':
                value += '\n';
                break;
            case 'r':
                value += '\r';
                break;
            case 't':
                value += '\t';
                break;
            case 'x': {
                const int high = HexDigit(Peek());
                const int low = high < 0 ? -1 : HexDigit(pos_ + 1 < text_.size() ? text_[pos_ + 1] : '\0');
                if (low < 0)
                    throw LineError("\\x needs two hex digits");
                value += static_cast<char>(high * 16 + low);
                pos_ += 2;
                break;
            }
            default:
                throw LineError("unknown escape in string");
            }
        }
    }

    std::string_view text_;
    std::size_t pos_ = 0;
};

bool IsString(const Argument& a)
{
    return std::holds_alternative<std::string>(a);
}
bool IsNumber(const Argument& a)
{
    return std::holds_alternative<long long>(a);
}

// Whether the arguments are strings (S) and numbers (N) as in the pattern.
bool Matches(const std::vector<Argument>& arguments, std::string_view pattern)
{
    if (arguments.size() != pattern.size())
        return false;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] == 'S' ? !IsString(arguments[i]) : !IsNumber(arguments[i]))
            return false;
    }
    return true;
}

class Interpreter {
public:
    void Run(const Statement& s, int line)
    {
        const auto& a = s.arguments;
        if (s.name == "VirtualDub.video.SetMode" && Matches(a, "N")) {
            if (std::get<long long>(a[0]) != 0)
                throw LineError("only direct stream copy, SetMode(0), is supported");
        } else if (s.name == "VirtualDub.Open" && (Matches(a, "S") || Matches(a, "SNN"))) {
            Flush();
            open_ = Job{line, FileName(a[0]), {}, {}, false};
            isOpen_ = true;
        } else if (s.name == "VirtualDub.SaveWAV" && Matches(a, "S")) {
            Pending(&Job::wav).wav = FileName(a[0]);
        } else if (s.name == "VirtualDub.audio.SetSource" && Matches(a, "N")) {
            const long long source = std::get<long long>(a[0]);
            if (source != 0 && source != 1)
                throw LineError("the audio source is 0 (none) or 1 (the file's own)");
            aviWithAudio_ = source == 1;
        } else if (s.name == "VirtualDub.SaveCompatibleAVI" && Matches(a, "S")) {
            Job& job = Pending(&Job::avi);
            job.avi = FileName(a[0]);
            job.aviWithAudio = aviWithAudio_;
        } else if (s.name == "VirtualDub.Close" && a.empty()) {
            Flush();
        } else {
            throw LineError(std::string("unknown statement ") + s.name + " or wrong arguments");
        }
    }

    std::vector<Job> Finish()
    {
        Flush();
        return std::move(jobs_);
    }

private:
    // The open file's job; a second save of the same kind starts a new pass over the same file.
    Job& Pending(std::string Job::*output)
    {
        if (!isOpen_)
            throw LineError("no file is open");
        if (!(open_.*output).empty()) {
            jobs_.push_back(open_);
            open_.wav.clear();
            open_.avi.clear();
        }
        return open_;
    }

    static std::string FileName(const Argument& a)
    {
        const auto& name = std::get<std::string>(a);
        if (name.empty())
            throw LineError("empty file name");
        return name;
    }

    void Flush()
    {
        if (isOpen_ && (!open_.wav.empty() || !open_.avi.empty()))
            jobs_.push_back(open_);
        isOpen_ = false;
    }

    bool isOpen_ = false;
    Job open_;
    bool aviWithAudio_ = false;
    std::vector<Job> jobs_;
};

} // namespace

std::vector<Job> ParseScript(std::string_view text, const std::string& name)
{
    Interpreter interpreter;
    int number = 0;
    while (!text.empty()) {
        ++number;
        const auto end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
        if (line.ends_with('\r'))
            line.remove_suffix(1);
        try {
            if (const auto statement = LineReader(line).Read())
                interpreter.Run(*statement, number);
        } catch (const LineError& error) {
            throw Failure(name + ":" + std::to_string(number) + ": " + error.what());
        }
    }
    return interpreter.Finish();
}

} // namespace vdub
