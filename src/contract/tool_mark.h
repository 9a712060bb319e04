#pragma once

namespace quorvil {

// The mark the build puts in our Windows tools' resources (res/quorvil.rc, for the programs built
// as tools): a tool that bears it reads its command line in UTF-16, a script in UTF-8 behind a
// byte-order mark, and paths longer than MAX_PATH. The launcher gives any other tool only names its
// code page writes, of fewer than MAX_PATH characters.
inline constexpr const wchar_t* kToolMarkName = L"QUORVIL_UNICODE_NAMES";
inline constexpr int kToolMarkType = 10; // RT_RCDATA

} // namespace quorvil
