#pragma once
// Text operations for statements and replies. Texts are single bytes (Windows-1252).

#include <string>
#include <string_view>
#include <vector>

namespace tovalink {

// Cleans a text received from the modem for a double-quoted value: removes double quotes,
// single quotes and Ctrl-Z; backslash, slash, CR and LF each become one space.
std::string SqlSafe(std::string_view text);

// As SqlSafe, but a CR LF pair becomes one space and a lone CR or LF stays (dial replies).
// The quotes are removed before the line ends are looked at, Ctrl-Z after.
std::string CleanReply(std::string_view text);

// Splits at every exact occurrence of the delimiter; an empty text gives no element and a
// trailing delimiter adds no empty element.
std::vector<std::string> SplitText(std::string_view text, std::string_view delimiter);

// Small helpers shared by several rooms.
std::string Trim(std::string_view text);
std::string UpperAscii(std::string_view text);
std::string LowerAscii(std::string_view text);
// Replaces every occurrence of `from` with `to`.
std::string ReplaceAll(std::string_view text, std::string_view from, std::string_view to);

}  // namespace tovalink
