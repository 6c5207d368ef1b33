#pragma once
// Conversion between the core's single-byte texts (Windows-1252) and UTF-8, for the edges
// that show texts to a person or take them from one (pdutool, tests). The core never converts.

#include <string>

namespace tovalink {

// Every byte as its character; the five bytes that Windows-1252 leaves unassigned stay
// the control characters of the same value.
std::string Cp1252ToUtf8(const std::string& text);

// A character without a Windows-1252 byte, and a broken UTF-8 sequence, become "?".
std::string Utf8ToCp1252(const std::string& text);

}  // namespace tovalink
