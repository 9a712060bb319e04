#include "plan.h"

#include "command_line.h"

namespace quorvil {

namespace {

bool IsSeparator(char c, PathStyle style)
{
    return style == PathStyle::windows ? (c == '\\' || c == ':') : c == '/';
}

std::string_view Separator(PathStyle style)
{
    return style == PathStyle::windows ? "\\" : "/";
}

std::string_view VideoTool(PathStyle style)
{
    return style == PathStyle::windows ? "vdub.exe" : "vdub";
}

std::string_view AudioTool(PathStyle style)
{
    return style == PathStyle::windows ? "sox.exe" : "sox";
}

// The position just after the last separator, or 0.
std::size_t NameStart(std::string_view path, const PathRules& rules)
{
    std::size_t start = 0;
    for (std::size_t i = 0; i < path.size(); ++i) {
        if (rules.isLeadByte(static_cast<unsigned char>(path[i]))) {
            ++i; // the trail byte belongs to the character, whatever its value
        } else if (IsSeparator(path[i], rules.style)) {
            start = i + 1;
        }
    }
    return start;
}

std::string Cat(std::initializer_list<std::string_view> parts)
{
    std::string s;
    for (auto part : parts)
        s += part;
    return s;
}

std::string ScriptString(std::string_view text, const PathRules& rules)
{
    return '"' + EscapeScriptPath(text, rules.isLeadByte) + '"';
}

ToolCommand AudioCommand(std::string_view path, std::string_view dir, std::string_view output, std::string_view channel,
                         const PathRules& rules)
{
    return {"Open",
            Cat({dir, AudioTool(rules.style)}),
            Cat({QuoteArgument(SoundtrackFile(path), rules.isLeadByte), " ", QuoteArgument(output, rules.isLeadByte),
                 " remix ", channel}),
            "",
            ShowMode::normal,
            true};
}

} // namespace

std::string EscapeScriptPath(std::string_view text, LeadByteTest isLeadByte)
{
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string escaped;
    escaped.reserve(text.size() + 8);
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (isLeadByte(c) && i + 1 < text.size()) {
            escaped += text[i];
            escaped += text[++i];
            continue;
        }
        switch (c) {
        case '\\':
            escaped += "\\\\";
            break;
        case '"':
            escaped += "\\\"";
            break;
        case '\n':
            escaped += "\\n";
            break;
        case '\r':
            escaped += "\\r";
            break;
        case '\t':
            escaped += "\\t";
            break;
        default:
            if (c < 0x20 || c == 0x7F) {
                escaped += "\\x";
                escaped += hex[c >> 4];
                escaped += hex[c & 0xF];
            } else {
                escaped += static_cast<char>(c);
            }
        }
    }
    return escaped;
}

std::string FileNamePart(std::string_view path, const PathRules& rules)
{
    return std::string(path.substr(NameStart(path, rules)));
}

std::string DirectoryPart(std::string_view path, const PathRules& rules)
{
    return std::string(path.substr(0, NameStart(path, rules)));
}

std::string OutputDirectory(std::string_view path)
{
    return Cat({path, "_processed"});
}

std::string ScriptFile(std::string_view dir, int number)
{
    if (number == 0)
        return Cat({dir, "temp.vdf"});
    return Cat({dir, "temp", std::to_string(number + 1), ".vdf"});
}

std::string SoundtrackFile(std::string_view path)
{
    return Cat({path, ".wav"});
}

OutputFiles OutputFilesFor(std::string_view path, bool subdir, const PathRules& rules)
{
    if (!subdir)
        return {Cat({path, ".noaudio.avi"}), Cat({path, ".A1.wav"}), Cat({path, ".A2.wav"})};
    const std::string base = Cat({OutputDirectory(path), Separator(rules.style), FileNamePart(path, rules)});
    return {base, base + ".A1.wav", base + ".A2.wav"};
}

std::vector<std::string> BuildScriptLines(std::string_view path, bool subdir, const PathRules& rules)
{
    return {
        "VirtualDub.video.SetMode(0);",
        Cat({"VirtualDub.Open(", ScriptString(path, rules), ",0,0);"}),
        Cat({"VirtualDub.SaveWAV(", ScriptString(SoundtrackFile(path), rules), ");"}),
        "VirtualDub.audio.SetSource(0);",
        Cat({"VirtualDub.SaveCompatibleAVI(", ScriptString(OutputFilesFor(path, subdir, rules).video, rules), ");"}),
        "VirtualDub.Close();",
    };
}

std::string ScriptFileBytes(const std::vector<std::string>& lines)
{
    std::string bytes;
    for (const auto& line : lines)
        bytes += line + "\r\n";
    return bytes;
}

std::array<ToolCommand, 3> BuildToolCommands(std::string_view path, std::string_view dir, bool subdir,
                                             const PathRules& rules, std::string_view scriptDir, int scriptNumber)
{
    if (scriptDir.empty())
        scriptDir = dir;
    const OutputFiles out = OutputFilesFor(path, subdir, rules);
    return {
        ToolCommand{"Open", Cat({dir, VideoTool(rules.style)}),
                    Cat({"/s ", QuoteArgument(ScriptFile(scriptDir, scriptNumber), rules.isLeadByte), " /min"}), "",
                    ShowMode::hidden, true},
        AudioCommand(path, dir, out.left, "-1", rules),
        // "remix -2" would mean channels 1 to 2 mixed together; "2" is channel 2 alone.
        AudioCommand(path, dir, out.right, "2", rules),
    };
}

std::vector<std::string> ListFilesToDelete(std::string_view path, std::string_view dir, bool deleteOriginal,
                                           int scriptNumber)
{
    std::vector<std::string> files{SoundtrackFile(path), ScriptFile(dir, scriptNumber)};
    if (deleteOriginal)
        files.emplace_back(path);
    return files;
}

} // namespace quorvil
