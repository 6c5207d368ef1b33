#pragma once
// The serial line to the modem: an interface that the exchange writes to and is fed by, and
// its termios implementation for real devices and pseudo-terminals.
//
// Threads: Open, Close, IsOpen and Write may be called from any thread (Write is usually the
// worker, Close is STOP or AbortModule). The handlers are called on the port's own reader
// thread, in order of arrival; setting a handler waits for a call in progress to finish, so
// once SetReceiveHandler({}) has returned the old handler is never called again.

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace tovalink {

// Line settings of the port box group. The baud rate is 115200 only when `cbaud` reads
// exactly "115200", otherwise 9600; 8 data bits, no parity, 1 stop bit always.
struct SerialSettings {
  int baud = 9600;
  // The text of `chands`: "2" RTS/CTS handshake with DTR off, "0" RTS/CTS handshake with DTR
  // on, any other text no flow control at all with RTS and DTR off.
  std::string handshake;
};

SerialSettings SettingsFromBoxes(const std::string& cbaud, const std::string& chands);

// The device that port number `cport` names: $TOVALINK_PORT_DIR/COM<N> when that variable is
// set, else /dev/ttyS<N-1>. A text that is not a port number gives "" (Open then fails).
// A USB modem gets a fixed name with a udev rule that links it into the port folder, e.g.
//   SUBSYSTEM=="tty", ATTRS{idVendor}=="114f", ATTRS{serial}=="A1B2", SYMLINK+="tovalink/COM4"
// and TOVALINK_PORT_DIR=/dev/tovalink; the simulator links its pseudo-terminal the same way.
std::string PortPath(const std::string& cport);

enum class LineEvent {
  CarrierDetectChanged,  // the carrier-detect (RLSD) line changed
  InputAlmostFull,       // the input queue passed 80 % of its size
};

class SerialPort {
 public:
  using ReceiveHandler = std::function<void(const std::string& bytes)>;
  using LineHandler = std::function<void(LineEvent event)>;

  virtual ~SerialPort() = default;

  // Throws PortError when the port cannot be opened (missing, held by another program, not
  // a terminal) or is already open.
  virtual void Open(const std::string& path, const SerialSettings& settings) = 0;
  // Harmless when the port is closed.
  virtual void Close() = 0;
  virtual bool IsOpen() const = 0;
  // True once the device went away while open (a modem pulled out, the other side of a
  // pseudo-terminal closed): nothing more will arrive, and writes fail.
  virtual bool Gone() const { return false; }
  // Queues every byte for sending; throws PortError when the port is closed or unusable.
  virtual void Write(const std::string& bytes) = 0;
  virtual void SetReceiveHandler(ReceiveHandler handler) = 0;
  virtual void SetLineHandler(LineHandler handler) = 0;
};

// A tty through termios: raw 8N1, the flow-control table above, opened exclusively (TIOCEXCL
// and a non-blocking flock, so a second program on the same port fails to open it). Devices
// without modem lines (pseudo-terminals) are accepted; their carrier is simply not watched.
//
// The reader thread sleeps until bytes arrive, the device goes away or Close wakes it: an
// idle port wakes nobody. The carrier-detect line and the input queue are looked at when it
// wakes, so with a running module (which talks to its modem every cycle) a carrier change is
// reported at the modem's next answer rather than the moment it happens.
class TermiosPort : public SerialPort {
 public:
  TermiosPort();
  ~TermiosPort() override;
  TermiosPort(const TermiosPort&) = delete;
  TermiosPort& operator=(const TermiosPort&) = delete;

  void Open(const std::string& path, const SerialSettings& settings) override;
  void Close() override;
  bool IsOpen() const override;
  bool Gone() const override { return broken_.load(); }
  void Write(const std::string& bytes) override;
  void SetReceiveHandler(ReceiveHandler handler) override;
  void SetLineHandler(LineHandler handler) override;

 private:
  void ReadLoop(int fd, int wake_fd);
  void Deliver(const std::string& bytes);
  void Notify(LineEvent event);

  mutable std::mutex state_mutex_;  // guards fd_, wake pipe and reader_
  int fd_ = -1;
  int wake_pipe_[2] = {-1, -1};
  std::thread reader_;
  std::atomic<bool> broken_{false};  // set by the reader when the device went away

  std::mutex handler_mutex_;  // held while a handler runs
  ReceiveHandler receive_handler_;
  LineHandler line_handler_;
};

}  // namespace tovalink
