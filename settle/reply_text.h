#pragma once
// Small text operations shared by reply settlement and the channel procedures. Texts are
// single bytes (Windows-1252); "spaces and control characters" are the bytes up to 0x20.

#include <string>
#include <string_view>

namespace tovalink {

// True when `needle` occurs in `text`, ignoring the letter case of A to Z only. An empty
// needle never occurs. Returns the position of the first occurrence through `position`.
bool Occurs(std::string_view text, std::string_view needle, size_t* position = nullptr);

// The text after the first occurrence of `start` (letter case of A to Z ignored), trimmed of
// spaces and control characters, and cut before the first occurrence of `end` when `end` is
// not empty and occurs there; the cut part is not trimmed again, so a space before the end
// marker stays. Empty when `start` is empty or does not occur.
std::string TakeBetween(std::string_view text, std::string_view start, std::string_view end);

// The run of digits 0 to 9 at the start of the text once its leading and trailing spaces and
// control characters are removed; empty when that text does not begin with a digit.
std::string TakeDigits(std::string_view text);

// Every digit 0 to 9 of the text, in order; all other bytes dropped.
std::string DigitsOnly(std::string_view text);

}  // namespace tovalink
