#pragma once
// The small text-file writes behind the diagnostic file debugall.txt. Neither ever throws.

#include <string>

namespace tovalink {

// Appends `text` and CR LF to an existing file and returns true. When the file cannot be
// opened for appending (it does not exist, for one), it is written with WriteFileText
// instead (the text without a line end) and the result is false.
bool AppendFileText(const std::string& file_name, const std::string& text);

// Creates the file, or empties an existing one, and writes `text` without a line end.
// Returns false on any failure.
bool WriteFileText(const std::string& file_name, const std::string& text);

}  // namespace tovalink
