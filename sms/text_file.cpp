#include "sms/text_file.h"

#include <cstdio>

namespace tovalink {
namespace {

bool WriteAll(std::FILE* file, const std::string& text) {
  const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
  return std::fclose(file) == 0 && written;
}

}  // namespace

bool AppendFileText(const std::string& file_name, const std::string& text) {
  // "r+" opens only an existing file; appending then starts at its end.
  std::FILE* file = std::fopen(file_name.c_str(), "r+b");
  if (file == nullptr || std::fseek(file, 0, SEEK_END) != 0) {
    if (file != nullptr) std::fclose(file);
    WriteFileText(file_name, text);
    return false;
  }
  WriteAll(file, text + "\r\n");
  return true;
}

bool WriteFileText(const std::string& file_name, const std::string& text) {
  std::FILE* file = std::fopen(file_name.c_str(), "wb");
  if (file == nullptr) return false;
  return WriteAll(file, text);
}

}  // namespace tovalink
