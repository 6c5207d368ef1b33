#pragma once
// The sale journal: a small append-only file beside the module (in its working folder, one
// per module name) that remembers, across a crash or a power cut, how far the sale in hand
// got towards the operator. Each record is on the disk (fdatasync) before the event it
// announces happens:
//
//   TAKE <idx> <time>   before the take of sale idx is sent to the database
//   SENT <idx> <time>   before the sale's point of no return (the first byte that may make the
//                       operator execute it)
//   DONE <idx> <word>   once the sale's outcome is in its row, or the take changed nothing
//
// A sale with a TAKE and no DONE is open: the module ended before it had an outcome, and the
// next start gives it one (engine/sale_in_hand.h): "GAGAL" when it has no SENT, "PENDING"
// when it has. Those outcomes only change a row still taken without a status, so a DONE lost
// in a crash after the row was written does no harm.
//
// The file is text, one record a line: the fields above separated by single spaces, the time
// as yyyy-mm-ddThh:mm:ss (local), the word in capitals, and last a check field "#" + eight
// hex digits (CRC-32 of the line before it). Lines beginning with "#" are comments (the file
// begins with one naming the module). A line that does not parse or whose check fails is
// skipped: the last one may be torn by a power cut. Once no sale is open and the file has
// grown past a few kilobytes it is cut back to its comment.
//
// Threads: the worker writes TAKE and SENT; DONE may come from the thread that ends the module
// (STOP). Every member may be called from any thread.
//
// The file is locked while it is open, so two programs of one module name in one folder
// cannot both use it.

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace tovalink {

// The journal cannot be opened, read or written; what() says which file and why.
class JournalError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class SaleJournal {
 public:
  // Opens (creating when missing) the journal of module `module_name` in `folder` and reads
  // its open sales. Raises JournalError.
  SaleJournal(const std::string& folder, const std::string& module_name);
  ~SaleJournal();
  SaleJournal(const SaleJournal&) = delete;
  SaleJournal& operator=(const SaleJournal&) = delete;

  // The file name of a module's journal: the name with every character other than a letter,
  // a digit, "-" and "_" written as "%" and two hex digits, then ".journal".
  static std::string FileName(std::string_view module_name);

  struct OpenSale {
    int64_t idx = 0;
    std::string taken_at;                // "yyyy-mm-dd hh:mm:ss"
    std::optional<std::string> sent_at;  // set once its point of no return was crossed
  };
  // The sales taken and without an outcome, by idx.
  std::vector<OpenSale> OpenSales() const;
  // How many records were skipped on reading because they did not parse or check (a torn
  // last record after a power cut is one).
  int SkippedRecords() const;
  const std::string& Path() const { return path_; }

  // Each writes one record and waits until it is on the disk; raises JournalError. Times are
  // "yyyy-mm-dd hh:mm:ss".
  void Taking(int64_t idx, const std::string& at);
  void Sending(int64_t idx, const std::string& at);
  // `word`: a capital word saying what the outcome was ("SUKSES", "GAGAL", "PENDING", ...).
  void Ended(int64_t idx, std::string_view word);

 private:
  void Read();
  void Append(const std::string& record);  // REQUIRES: mutex_ held
  void CutBackIfDone();                    // REQUIRES: mutex_ held

  std::string path_;
  std::string header_;
  int fd_ = -1;
  mutable std::mutex mutex_;
  std::map<int64_t, OpenSale> open_;  // GUARDED_BY(mutex_)
  int skipped_ = 0;                   // GUARDED_BY(mutex_)
};

}  // namespace tovalink
