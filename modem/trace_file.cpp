#include "modem/trace_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace tovalink {

TraceFile::TraceFile(std::string path, int64_t max_bytes, std::string header)
    : path_(std::move(path)), max_bytes_(max_bytes), header_(std::move(header)) {}

TraceFile::~TraceFile() {
  if (fd_ >= 0) ::close(fd_);
}

std::string TraceFile::OpenLocked(int flags) {
  fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | flags, 0640);
  if (fd_ < 0) return "cannot open " + path_ + ": " + std::strerror(errno);
  struct stat info {};
  size_ = ::fstat(fd_, &info) == 0 ? static_cast<int64_t>(info.st_size) : 0;
  return WriteLocked(header_);
}

std::string TraceFile::RotateLocked() {
  ::close(fd_);
  fd_ = -1;
  const std::string older = path_ + ".1";
  if (std::rename(path_.c_str(), older.c_str()) != 0) {
    // Without the older file the trace must still keep its bound: start the file over.
    const std::string error = "cannot rename " + path_ + ": " + std::strerror(errno);
    const std::string opened = OpenLocked(O_TRUNC);
    return opened.empty() ? error : opened;
  }
  return OpenLocked(O_TRUNC);
}

std::string TraceFile::WriteLocked(const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t written = ::write(fd_, text.data() + done, text.size() - done);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return "cannot write " + path_ + ": " + std::strerror(errno);
    done += static_cast<size_t>(written);
  }
  size_ += static_cast<int64_t>(text.size());
  return {};
}

std::string TraceFile::Append(const std::string& line) {
  std::lock_guard lock(mutex_);
  if (fd_ < 0) {
    if (std::string error = OpenLocked(0); !error.empty()) {
      if (fd_ >= 0) ::close(fd_);
      fd_ = -1;
      return error;
    }
  }
  std::string problem;
  if (size_ + static_cast<int64_t>(line.size()) > max_bytes_ &&
      size_ > static_cast<int64_t>(header_.size())) {
    problem = RotateLocked();
    if (fd_ < 0) return problem;
  }
  std::string written = WriteLocked(line);
  return written.empty() ? problem : written;
}

}  // namespace tovalink
