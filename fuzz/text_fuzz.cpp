// The shared text operations on any bytes: SplitText, SqlSafe, CleanReply, Occurs,
// TakeBetween, TakeDigits and DigitsOnly, each checked against what must hold (a split joins
// back into its text, a cleaned text holds no byte that could end a quoted value) and against
// a plain model written here.
//
// Input fields: text, delimiter (also the start marker), end marker.

#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "settle/reply_text.h"
#include "store/text.h"

namespace tovalink::fuzz {
namespace {

std::string Joined(const std::vector<std::string>& elements, const std::string& delimiter) {
  std::string joined;
  for (size_t k = 0; k < elements.size(); ++k) joined += (k == 0 ? "" : delimiter) + elements[k];
  return joined;
}

void CheckSplit(const std::string& text, const std::string& delimiter) {
  const std::vector<std::string> elements = SplitText(text, delimiter);
  if (delimiter.empty()) {
    Require(elements == (text.empty() ? std::vector<std::string>{} : std::vector{text}),
            "an empty delimiter gives the whole text", text);
    return;
  }
  const std::string joined = Joined(elements, delimiter);
  // Only a final delimiter leaves no element behind it.
  Require(joined == text || joined + delimiter == text, "the elements join into the text", text,
          delimiter);
  Require(text.empty() == elements.empty(), "no element only for the empty text", text);
  for (const std::string& element : elements) {
    Require(element.find(delimiter) == std::string::npos, "no element holds the delimiter", element,
            delimiter);
  }
}

void CheckCleaning(const std::string& text) {
  const std::string safe = SqlSafe(text);
  std::string expected;
  for (const char c : text) {
    if (c == '"' || c == '\'' || c == '\x1A') continue;
    const bool spaced = c == '\\' || c == '/' || c == '\r' || c == '\n';
    expected += spaced ? ' ' : c;
  }
  Require(safe == expected, "SqlSafe", text, safe);
  Require(safe.find_first_of("\"'\\/\r\n\x1A") == std::string::npos, "SqlSafe leaves no quote",
          safe);

  const std::string cleaned = CleanReply(text);
  Require(cleaned.find_first_of("\"'\\/\x1A") == std::string::npos, "CleanReply leaves no quote",
          cleaned);
  Require(cleaned.size() <= text.size(), "CleanReply never lengthens", cleaned);
  if (text.find_first_of("\"'\\/\x1A") == std::string::npos) {
    Require(cleaned == ReplaceAll(text, "\r\n", " "), "CleanReply joins CR LF into a space", text,
            cleaned);
  }
  Require(ReplaceAll(text, "\r\n", "\r\n") == text, "replacing a text by itself changes nothing",
          text);
}

void CheckDigits(const std::string& text) {
  const std::string trimmed = Trim(text);
  Require(trimmed.empty() || (!IsBlank(trimmed.front()) && !IsBlank(trimmed.back())), "Trim",
          trimmed);
  const std::string digits = TakeDigits(text);
  Require(trimmed.compare(0, digits.size(), digits) == 0, "TakeDigits is a prefix", digits, text);
  for (const char c : digits) Require(IsDigit(c), "TakeDigits holds digits only", digits);
  Require(digits.size() == trimmed.size() || !IsDigit(trimmed[digits.size()]),
          "TakeDigits reads the whole run", digits, text);

  std::string all;
  for (const char c : text) {
    if (IsDigit(c)) all += c;
  }
  Require(DigitsOnly(text) == all, "DigitsOnly keeps every digit", text);
}

void CheckMarkers(const std::string& text, const std::string& start, const std::string& end) {
  size_t position = 0;
  const size_t found = FindFolded(text, start);
  Require(Occurs(text, start, &position) == (found != std::string::npos), "Occurs", text, start);
  if (found != std::string::npos) Require(position == found, "Occurs finds the first", text);

  std::string expected;
  if (found != std::string::npos) {
    expected = Trim(std::string_view(text).substr(found + start.size()));
    const size_t cut = FindFolded(expected, end);
    if (cut != std::string::npos) expected.resize(cut);
  }
  Require(TakeBetween(text, start, end) == expected, "TakeBetween", text, expected);
}

}  // namespace
}  // namespace tovalink::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  tovalink::fuzz::Fields fields(data, size);
  const std::string text = fields.Next();
  const std::string delimiter = fields.Next();
  const std::string end = fields.Next();
  tovalink::fuzz::CheckSplit(text, delimiter);
  tovalink::fuzz::CheckCleaning(text);
  tovalink::fuzz::CheckDigits(text);
  tovalink::fuzz::CheckMarkers(text, delimiter, end);
  return 0;
}
