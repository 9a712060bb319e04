#pragma once

#include <string>

// Appends bytes to a file in one write at its end, whatever other processes append meanwhile:
// fake tools that run at once share one log.
void AppendRecord(const std::string& path, const std::string& bytes);
