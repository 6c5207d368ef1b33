#include "store/text.h"

namespace tovalink {

std::string ReplaceAll(std::string_view text, std::string_view from, std::string_view to) {
  if (from.empty()) return std::string(text);
  std::string result;
  result.reserve(text.size());
  size_t start = 0;
  for (size_t found = text.find(from); found != std::string_view::npos;
       found = text.find(from, start)) {
    result.append(text.substr(start, found - start));
    result.append(to);
    start = found + from.size();
  }
  result.append(text.substr(start));
  return result;
}

std::string SqlSafe(std::string_view text) {
  std::string result;
  result.reserve(text.size());
  for (const char c : text) {
    switch (c) {
      case '"':
      case '\'':
      case '\x1A':
        break;
      case '\\':
      case '/':
      case '\r':
      case '\n':
        result += ' ';
        break;
      default:
        result += c;
    }
  }
  return result;
}

std::string CleanReply(std::string_view text) {
  // The quotes go first, so a quote between CR and LF no longer hides the line end; Ctrl-Z
  // goes last, so one there still does.
  std::string unquoted;
  unquoted.reserve(text.size());
  for (const char c : text) {
    if (c == '"' || c == '\'') continue;
    unquoted += (c == '\\' || c == '/') ? ' ' : c;
  }
  std::string result = ReplaceAll(unquoted, "\r\n", " ");
  std::erase(result, '\x1A');
  return result;
}

std::vector<std::string> SplitText(std::string_view text, std::string_view delimiter) {
  std::vector<std::string> elements;
  if (delimiter.empty()) {
    if (!text.empty()) elements.emplace_back(text);
    return elements;
  }
  std::string_view rest = text;
  for (size_t found = rest.find(delimiter); found != std::string_view::npos;
       found = rest.find(delimiter)) {
    elements.emplace_back(rest.substr(0, found));
    rest.remove_prefix(found + delimiter.size());
  }
  if (!rest.empty()) elements.emplace_back(rest);
  return elements;
}

std::string Trim(std::string_view text) {
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && static_cast<unsigned char>(text[begin]) <= ' ') ++begin;
  while (end > begin && static_cast<unsigned char>(text[end - 1]) <= ' ') --end;
  return std::string(text.substr(begin, end - begin));
}

std::string UpperAscii(std::string_view text) {
  std::string result(text);
  for (char& c : result) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return result;
}

std::string LowerAscii(std::string_view text) {
  std::string result(text);
  for (char& c : result) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return result;
}

}  // namespace tovalink
