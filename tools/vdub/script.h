#pragma once

#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace vdub {

// Any failure of the tool: the one line it prints before it exits non-zero.
class Failure : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The work one opened source file asks for. Both outputs come from a single read of the source.
struct Job {
    int line = 0; // of the Open statement
    std::string source;
    std::string wav; // empty: not asked for
    std::string avi; // empty: not asked for
    bool aviWithAudio = false;
};

// Reads a script: CRLF or LF line ends, blank lines and // comments, one statement per line:
//   VirtualDub.video.SetMode(0);          direct stream copy, the only mode there is
//   VirtualDub.Open("file"[,n,n]);
//   VirtualDub.SaveWAV("file");
//   VirtualDub.audio.SetSource(0|1);      without or with the audio in the saved AVI
//   VirtualDub.SaveCompatibleAVI("file");
//   VirtualDub.Close();
// Strings know the escapes \\ \" \n \r \t \xNN. Saves are deferred: each Open gathers what is
// saved from it until Close, the next Open or the end. Throws Failure naming name:line.
[[nodiscard]] std::vector<Job> ParseScript(std::string_view text, const std::string& name);

} // namespace vdub
