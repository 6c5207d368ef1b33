#pragma once
// What the fuzz targets share: reading one input as a few text fields, and the check that
// ends the run with the input saved when something that must hold does not.
//
// Each target is its own program (libFuzzer calls LLVMFuzzerTestOneInput once per input, on
// one thread); nothing here keeps state between inputs.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace tovalink::fuzz {

// An input as text fields: its first byte is the separator, the rest is cut at every
// occurrence of it (empty fields kept). A field asked for past the last reads as empty. So a
// seed is readable (a first line "|" or a line end, then the fields), and the fuzzer may still
// choose any separator, a line end inside a field included.
class Fields {
 public:
  Fields(const uint8_t* data, size_t size) : rest_(reinterpret_cast<const char*>(data), size) {
    if (!rest_.empty()) {
      separator_ = rest_.front();
      rest_.remove_prefix(1);
      more_ = true;
    }
  }

  std::string Next() {
    if (!more_) return "";
    const size_t found = rest_.find(separator_);
    std::string field(rest_.substr(0, found));
    if (found == std::string_view::npos) {
      more_ = false;
      rest_ = {};
    } else {
      rest_.remove_prefix(found + 1);
    }
    return field;
  }

  // A small number from the next field: its first byte, 0 when the field is empty.
  int NextSmall() {
    const std::string field = Next();
    return field.empty() ? 0 : static_cast<unsigned char>(field[0]);
  }

 private:
  std::string_view rest_;
  char separator_ = '\n';
  bool more_ = false;
};

// Ends the run (libFuzzer saves the input as a crash) when `holds` is false.
inline void Require(bool holds, const char* what) {
  if (holds) return;
  std::fprintf(stderr, "fuzz check failed: %s\n", what);
  std::abort();
}

// The bytes of `text`, escaped for a failure message.
inline std::string Shown(std::string_view text) {
  std::string shown;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte < 0x7F && c != '\\') {
      shown += c;
    } else {
      char hex[5];
      std::snprintf(hex, sizeof hex, "\\x%02X", byte);
      shown += hex;
    }
  }
  return shown;
}

// As Require, with the texts involved in the message.
inline void Require(bool holds, const char* what, std::string_view first,
                    std::string_view second = {}) {
  if (holds) return;
  std::fprintf(stderr, "fuzz check failed: %s\n  [%s]\n  [%s]\n", what, Shown(first).c_str(),
               Shown(second).c_str());
  std::abort();
}

// Case-insensitive (A to Z only) search written apart from the module's own, so that each
// checks the other: the position of the first occurrence, or npos. An empty needle is never
// found.
inline size_t FindFolded(std::string_view text, std::string_view needle) {
  const auto fold = [](char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; };
  if (needle.empty() || needle.size() > text.size()) return std::string_view::npos;
  for (size_t at = 0; at + needle.size() <= text.size(); ++at) {
    size_t k = 0;
    while (k < needle.size() && fold(text[at + k]) == fold(needle[k])) ++k;
    if (k == needle.size()) return at;
  }
  return std::string_view::npos;
}

inline bool IsBlank(char c) { return static_cast<unsigned char>(c) <= ' '; }
inline bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace tovalink::fuzz
