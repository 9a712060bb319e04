#pragma once

namespace quorvil {

// Makes std::cout and std::cerr show their text, UTF-8 as every text of ours, as the user's terminal
// shows it. On POSIX the terminal takes the bytes as they are. On Windows a console is written in
// UTF-16, which shows any name, where UTF-8 bytes would be read in its code page; a file or a pipe
// gets the UTF-8 bytes.
void ShowTextOnConsole();

} // namespace quorvil
