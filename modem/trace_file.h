#pragma once
// A text file of bounded size for the field trace. Lines are appended to PATH; when the next
// line would take it past the size limit, PATH becomes PATH.1 (replacing the older one) and
// PATH begins anew with the header. So the trace keeps between one and two files' worth of
// the latest dialogue, and a module restarted after a fault appends to what its previous run
// left, so the fault stays in the file.
//
// Each line goes out with one write(2): a module that is killed loses nothing written, and
// nothing waits on a buffer. No fsync: the trace is a diagnosis, not a record of money.
//
// Threads: Append may be called from any thread; lines are serialised by the file's lock.

#include <cstdint>
#include <mutex>
#include <string>

namespace tovalink {

class TraceFile {
 public:
  // Nothing is opened until the first Append. `header` (comment lines, each ending "\n")
  // begins every file; `max_bytes` bounds each of the two files.
  TraceFile(std::string path, int64_t max_bytes, std::string header);
  ~TraceFile();
  TraceFile(const TraceFile&) = delete;
  TraceFile& operator=(const TraceFile&) = delete;

  // Appends one line (ending "\n"). Returns "" when it was written, otherwise what went
  // wrong ("cannot open PATH: ..."); a later call tries again.
  std::string Append(const std::string& line);

  const std::string& path() const { return path_; }

 private:
  std::string OpenLocked(int flags);
  std::string RotateLocked();
  std::string WriteLocked(const std::string& text);

  const std::string path_;
  const int64_t max_bytes_;
  const std::string header_;
  std::mutex mutex_;
  int fd_ = -1;       // guarded by mutex_
  int64_t size_ = 0;  // guarded by mutex_: bytes in the current file
};

}  // namespace tovalink
