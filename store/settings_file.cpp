#include "store/settings_file.h"

#include <stdexcept>

#include "store/text.h"

namespace tovalink {

namespace {

// The initial offset of the masking. It keeps the first stored byte of any printable value
// clear of ";", "=" and blanks, which the file's own rules would eat.
constexpr unsigned char kMaskOffset = 30;

}  // namespace

std::string UnmaskSetting(const std::string& stored) {
  std::string plain;
  plain.reserve(stored.size());
  unsigned char previous = 0;
  for (size_t i = 0; i < stored.size(); ++i) {
    const auto code = static_cast<unsigned char>(stored[i]);
    const auto value = static_cast<unsigned char>(i == 0 ? code - kMaskOffset : code - previous);
    plain += static_cast<char>(value);
    previous = value;
  }
  return plain;
}

std::string MaskSetting(const std::string& plain) {
  std::string stored;
  unsigned char previous = 0;
  for (size_t i = 0; i < plain.size(); ++i) {
    const auto code = static_cast<unsigned char>(plain[i]);
    const auto value = static_cast<unsigned char>(i == 0 ? code + kMaskOffset : code + previous);
    stored += static_cast<char>(value);
    previous = code;
  }
  const bool blank_end =
      !stored.empty() && (static_cast<unsigned char>(stored.front()) <= ' ' ||
                          static_cast<unsigned char>(stored.back()) <= ' ');
  if (blank_end || stored.find_first_of(";=\r\n") != std::string::npos) {
    throw std::invalid_argument(
        "this value cannot be masked for dbsetting.txt; use printable ASCII characters only");
  }
  return stored;
}

ConnectionSettings ParseSettingsFile(const std::string& text) {
  ConnectionSettings settings;
  for (std::string line : SplitText(text, "\n")) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const size_t first = line.find('=');
    if (first == std::string::npos) continue;
    const size_t second = line.find('=', first + 1);
    const std::string key = LowerAscii(Trim(line.substr(0, first)));
    const std::string raw = second == std::string::npos
                                ? line.substr(first + 1)
                                : line.substr(first + 1, second - first - 1);
    const std::string value = ReplaceAll(Trim(raw), ";", "");
    if (key == "ipserver") {
      settings.host = value;
    } else if (key == "dbname") {
      settings.database = UnmaskSetting(value);
    } else if (key == "user") {
      settings.user = UnmaskSetting(value);
    } else if (key == "pass") {
      settings.password = UnmaskSetting(value);
    }
  }
  return settings;
}

}  // namespace tovalink
