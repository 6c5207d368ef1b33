#include "store/sale_journal.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>
#include <sstream>

namespace tovalink {

namespace {

// Cut back to the comment once nothing is open and the file has passed this size: a few
// hundred sales' records, read in a moment at the next start.
constexpr off_t kCutBackBytes = 16 * 1024;

uint32_t Crc32(std::string_view text) {
  uint32_t crc = 0xFFFFFFFFu;
  for (const char c : text) {
    crc ^= static_cast<unsigned char>(c);
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

std::string Hex8(uint32_t value) {
  static const char kHex[] = "0123456789abcdef";
  std::string text(8, '0');
  for (int i = 7; i >= 0; --i, value >>= 4) text[static_cast<size_t>(i)] = kHex[value & 15];
  return text;
}

std::string Failure(const std::string& what, const std::string& path) {
  return "jurnal transaksi " + path + ": " + what + ": " + std::strerror(errno);
}

// "yyyy-mm-dd hh:mm:ss" <-> "yyyy-mm-ddThh:mm:ss": one field in the record.
std::string TimeField(std::string time) {
  for (char& c : time) {
    if (c == ' ') c = 'T';
  }
  return time;
}
std::string TimeText(std::string field) {
  for (char& c : field) {
    if (c == 'T') c = ' ';
  }
  return field;
}

bool PlainField(std::string_view field) {
  if (field.empty()) return false;
  for (const char c : field) {
    const bool allowed = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || c == '-' ||
                         c == ':';
    if (!allowed) return false;
  }
  return true;
}

struct Record {
  std::string kind;
  int64_t idx = 0;
  std::string value;  // the time of TAKE and SENT, the word of DONE
};

std::optional<Record> ParseRecord(const std::string& line) {
  const size_t check = line.rfind(" #");
  if (check == std::string::npos || line.size() != check + 10) return std::nullopt;
  const std::string body = line.substr(0, check);
  if (line.substr(check + 2) != Hex8(Crc32(body))) return std::nullopt;
  std::istringstream fields(body);
  Record record;
  std::string idx;
  std::string extra;
  if (!(fields >> record.kind >> idx >> record.value) || (fields >> extra)) return std::nullopt;
  if (record.kind != "TAKE" && record.kind != "SENT" && record.kind != "DONE") return std::nullopt;
  const auto [end, error] = std::from_chars(idx.data(), idx.data() + idx.size(), record.idx);
  if (error != std::errc() || end != idx.data() + idx.size()) return std::nullopt;
  if (!PlainField(record.value)) return std::nullopt;
  return record;
}

std::string MakeRecord(const std::string& kind, int64_t idx, const std::string& value) {
  const std::string body = kind + " " + std::to_string(idx) + " " + value;
  return body + " #" + Hex8(Crc32(body)) + "\n";
}

}  // namespace

std::string SaleJournal::FileName(std::string_view module_name) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string name;
  for (const char c : module_name) {
    const auto byte = static_cast<unsigned char>(c);
    const bool plain = (byte >= '0' && byte <= '9') || (byte >= 'A' && byte <= 'Z') ||
                       (byte >= 'a' && byte <= 'z') || byte == '-' || byte == '_';
    if (plain) {
      name += c;
    } else {
      name += '%';
      name += kHex[byte >> 4];
      name += kHex[byte & 15];
    }
  }
  return name + ".journal";
}

SaleJournal::SaleJournal(const std::string& folder, const std::string& module_name)
    : path_((folder.empty() ? std::string(".") : folder) + "/" + FileName(module_name)),
      header_("# tovalink sale journal of module " + FileName(module_name) + "\n") {
  const bool existed = access(path_.c_str(), F_OK) == 0;
  fd_ = open(path_.c_str(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0640);
  if (fd_ < 0) throw JournalError(Failure("tidak dapat dibuka", path_));
  if (flock(fd_, LOCK_EX | LOCK_NB) != 0) {
    const bool busy = errno == EWOULDBLOCK;
    close(fd_);
    fd_ = -1;
    if (busy) {
      throw JournalError("jurnal transaksi " + path_ +
                         " dipakai program lain dengan nama modul yang sama");
    }
    throw JournalError(Failure("tidak dapat dikunci", path_));
  }
  try {
    if (!existed) {
      Append(header_);
      // The new file's name must survive a power cut as well as its records.
      const std::string directory = path_.substr(0, path_.rfind('/'));
      const int dir = open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
      if (dir >= 0) {
        fsync(dir);
        close(dir);
      }
    }
    Read();
    std::lock_guard lock(mutex_);
    CutBackIfDone();
  } catch (...) {
    close(fd_);
    fd_ = -1;
    throw;
  }
}

SaleJournal::~SaleJournal() {
  if (fd_ >= 0) close(fd_);
}

void SaleJournal::Read() {
  std::string content;
  char buffer[4096];
  if (lseek(fd_, 0, SEEK_SET) < 0) throw JournalError(Failure("tidak dapat dibaca", path_));
  for (;;) {
    const ssize_t got = read(fd_, buffer, sizeof buffer);
    if (got < 0) {
      if (errno == EINTR) continue;
      throw JournalError(Failure("tidak dapat dibaca", path_));
    }
    if (got == 0) break;
    content.append(buffer, static_cast<size_t>(got));
  }
  std::lock_guard lock(mutex_);
  // A record torn by a power cut leaves the file without its last line end: the next record
  // must begin a line of its own.
  if (!content.empty() && content.back() != '\n') Append("\n");
  size_t start = 0;
  while (start < content.size()) {
    const size_t end = content.find('\n', start);
    // A last line without its end is a record the power cut tore.
    const std::string line =
        content.substr(start, end == std::string::npos ? std::string::npos : end - start);
    start = end == std::string::npos ? content.size() : end + 1;
    if (end != std::string::npos && (line.empty() || line[0] == '#')) continue;
    const std::optional<Record> record =
        end == std::string::npos ? std::nullopt : ParseRecord(line);
    if (!record) {
      ++skipped_;
      continue;
    }
    if (record->kind == "TAKE") {
      open_[record->idx] = OpenSale{record->idx, TimeText(record->value), std::nullopt};
    } else if (record->kind == "SENT") {
      auto found = open_.find(record->idx);
      if (found != open_.end()) found->second.sent_at = TimeText(record->value);
    } else {
      open_.erase(record->idx);
    }
  }
}

std::vector<SaleJournal::OpenSale> SaleJournal::OpenSales() const {
  std::lock_guard lock(mutex_);
  std::vector<OpenSale> sales;
  for (const auto& [idx, sale] : open_) sales.push_back(sale);
  return sales;
}

int SaleJournal::SkippedRecords() const {
  std::lock_guard lock(mutex_);
  return skipped_;
}

void SaleJournal::Append(const std::string& record) {
  size_t written = 0;
  while (written < record.size()) {
    const ssize_t wrote = write(fd_, record.data() + written, record.size() - written);
    if (wrote < 0) {
      if (errno == EINTR) continue;
      throw JournalError(Failure("tidak dapat ditulis", path_));
    }
    written += static_cast<size_t>(wrote);
  }
  if (fdatasync(fd_) != 0) throw JournalError(Failure("tidak dapat disimpan ke disk", path_));
}

void SaleJournal::CutBackIfDone() {
  if (!open_.empty()) return;
  struct stat info {};
  if (fstat(fd_, &info) != 0 || info.st_size <= kCutBackBytes) return;
  // Nothing in it is needed any more; a crash in the middle leaves either the old records (all
  // of them ended) or the comment alone.
  if (ftruncate(fd_, 0) != 0) throw JournalError(Failure("tidak dapat dipotong", path_));
  Append(header_);
}

void SaleJournal::Taking(int64_t idx, const std::string& at) {
  std::lock_guard lock(mutex_);
  Append(MakeRecord("TAKE", idx, TimeField(at)));
  open_[idx] = OpenSale{idx, at, std::nullopt};
}

void SaleJournal::Sending(int64_t idx, const std::string& at) {
  std::lock_guard lock(mutex_);
  Append(MakeRecord("SENT", idx, TimeField(at)));
  auto found = open_.find(idx);
  if (found != open_.end()) found->second.sent_at = at;
}

void SaleJournal::Ended(int64_t idx, std::string_view word) {
  std::lock_guard lock(mutex_);
  Append(MakeRecord("DONE", idx, std::string(word)));
  open_.erase(idx);
  CutBackIfDone();
}

}  // namespace tovalink
