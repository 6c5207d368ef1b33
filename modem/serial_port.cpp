#include "modem/serial_port.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "core/errors.h"

namespace tovalink {

namespace {

// A write that cannot go out at once looks again this often.
constexpr int kWriteRetryMs = 100;
// The line discipline's input queue: "80FULL" once more than 80 % of it waits unread.
constexpr int kInputQueueSize = 4096;
// A write that makes no progress for this long (a handshake line that never lets it out)
// counts as a broken port.
constexpr int kWriteStallMs = 10000;

std::string Describe(const std::string& what, const std::string& path, int error) {
  return what + " " + path + ": " + std::strerror(error);
}

// Modem-line ioctls fail with ENOTTY or EINVAL on devices without modem lines (pseudo-
// terminals); those devices simply have no lines to set or watch.
bool NoModemLines(int error) { return error == ENOTTY || error == EINVAL; }

void SetLine(int fd, int line, bool on) {
  if (ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &line) != 0 && !NoModemLines(errno)) {
    // A real line that cannot be set leaves the modem as it was; the port still works.
  }
}

}  // namespace

SerialSettings SettingsFromBoxes(const std::string& cbaud, const std::string& chands) {
  SerialSettings settings;
  settings.baud = cbaud == "115200" ? 115200 : 9600;
  settings.handshake = chands;
  return settings;
}

std::string PortPath(const std::string& cport) {
  if (cport.empty() || cport.size() > 3) return {};
  for (char c : cport) {
    if (c < '0' || c > '9') return {};
  }
  const int number = std::atoi(cport.c_str());
  if (number < 1) return {};
  if (const char* dir = std::getenv("TOVALINK_PORT_DIR"); dir != nullptr && *dir != '\0') {
    return std::string(dir) + "/COM" + std::to_string(number);
  }
  return "/dev/ttyS" + std::to_string(number - 1);
}

TermiosPort::TermiosPort() = default;

TermiosPort::~TermiosPort() { Close(); }

void TermiosPort::Open(const std::string& path, const SerialSettings& settings) {
  std::lock_guard lock(state_mutex_);
  if (fd_ >= 0) throw PortError("port already open: " + path);
  if (path.empty()) throw PortError("no such port");

  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) throw PortError(Describe("cannot open", path, errno));
  auto fail = [&](const std::string& what) {
    const int error = errno;
    ::close(fd);
    throw PortError(Describe(what, path, error));
  };
  if (!isatty(fd)) {
    errno = ENOTTY;
    fail("not a terminal");
  }
  // The flock keeps out every other program, root included; TIOCEXCL additionally makes the
  // kernel refuse further opens of the line by ordinary users.
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) fail("port in use");
  if (ioctl(fd, TIOCEXCL) != 0) fail("cannot lock");

  termios tio{};
  if (tcgetattr(fd, &tio) != 0) fail("cannot read settings of");
  cfmakeraw(&tio);
  tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS);
  tio.c_cflag |= CS8 | CLOCAL | CREAD;
  tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
  const bool hardware_handshake = settings.handshake == "2" || settings.handshake == "0";
  if (hardware_handshake) tio.c_cflag |= CRTSCTS;
  tio.c_cc[VMIN] = 1;
  tio.c_cc[VTIME] = 0;
  const speed_t speed = settings.baud == 115200 ? B115200 : B9600;
  cfsetispeed(&tio, speed);
  cfsetospeed(&tio, speed);
  if (tcsetattr(fd, TCSANOW, &tio) != 0) fail("cannot set up");
  // RTS is driven by the handshake where there is one and held low where there is none;
  // DTR is raised only for the "0" handshake.
  if (!hardware_handshake) SetLine(fd, TIOCM_RTS, false);
  SetLine(fd, TIOCM_DTR, settings.handshake == "0");
  // Whatever the line held before it was ours belongs to nobody.
  tcflush(fd, TCIOFLUSH);

  int pipe_fds[2];
  if (pipe2(pipe_fds, O_CLOEXEC | O_NONBLOCK) != 0) fail("cannot start reader for");
  fd_ = fd;
  wake_pipe_[0] = pipe_fds[0];
  wake_pipe_[1] = pipe_fds[1];
  broken_ = false;
  reader_ = std::thread(&TermiosPort::ReadLoop, this, fd, pipe_fds[0]);
}

void TermiosPort::Close() {
  std::thread reader;
  int fd = -1;
  int wake_read = -1;
  int wake_write = -1;
  {
    std::lock_guard lock(state_mutex_);
    if (fd_ < 0) return;
    fd = fd_;
    fd_ = -1;
    wake_read = wake_pipe_[0];
    wake_write = wake_pipe_[1];
    wake_pipe_[0] = wake_pipe_[1] = -1;
    reader = std::move(reader_);
  }
  const char wake = 'x';
  [[maybe_unused]] ssize_t ignored = ::write(wake_write, &wake, 1);
  if (reader.joinable()) {
    // A handler that closes the port runs on the reader itself, which cannot wait for itself.
    if (reader.get_id() == std::this_thread::get_id()) {
      reader.detach();
    } else {
      reader.join();
    }
  }
  // The exclusive mark outlives this descriptor while the other side keeps the line open
  // (a simulator's pseudo-terminal); clear it so the next program can open the line.
  ioctl(fd, TIOCNXCL);
  flock(fd, LOCK_UN);
  ::close(fd);
  ::close(wake_read);
  ::close(wake_write);
}

bool TermiosPort::IsOpen() const {
  std::lock_guard lock(state_mutex_);
  return fd_ >= 0;
}

void TermiosPort::Write(const std::string& bytes) {
  std::lock_guard lock(state_mutex_);
  if (fd_ < 0) throw PortError("port not open");
  if (broken_) throw PortError("port no longer usable");
  size_t done = 0;
  int stalled_ms = 0;
  while (done < bytes.size()) {
    const ssize_t written = ::write(fd_, bytes.data() + done, bytes.size() - done);
    if (written > 0) {
      done += static_cast<size_t>(written);
      stalled_ms = 0;
      continue;
    }
    if (written < 0 && errno == EINTR) continue;
    if (written < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
      throw PortError(std::string("write failed: ") + std::strerror(errno));
    }
    if (stalled_ms >= kWriteStallMs) throw PortError("write stalled");
    pollfd out{fd_, POLLOUT, 0};
    ::poll(&out, 1, kWriteRetryMs);
    stalled_ms += kWriteRetryMs;
  }
}

void TermiosPort::SetReceiveHandler(ReceiveHandler handler) {
  std::lock_guard lock(handler_mutex_);
  receive_handler_ = std::move(handler);
}

void TermiosPort::SetLineHandler(LineHandler handler) {
  std::lock_guard lock(handler_mutex_);
  line_handler_ = std::move(handler);
}

void TermiosPort::Deliver(const std::string& bytes) {
  std::lock_guard lock(handler_mutex_);
  if (receive_handler_) receive_handler_(bytes);
}

void TermiosPort::Notify(LineEvent event) {
  std::lock_guard lock(handler_mutex_);
  if (line_handler_) line_handler_(event);
}

// The carrier-detect line, looked at whenever the reader wakes. Where the driver counts the
// line's transitions (TIOCGICOUNT: serial ports and USB serial adapters) a change and its
// change back between two looks are still seen; elsewhere the line's level is compared.
// Devices without modem lines (pseudo-terminals) are not watched at all.
class CarrierWatch {
 public:
  explicit CarrierWatch(int fd) : fd_(fd) {
    serial_icounter_struct counts{};
    if (ioctl(fd_, TIOCGICOUNT, &counts) == 0) {
      counted_ = true;
      last_count_ = counts.dcd;
    }
    if (ioctl(fd_, TIOCMGET, &last_lines_) != 0) watching_ = counted_;
  }

  // True when the line changed since the last look.
  bool Changed() {
    if (!watching_) return false;
    bool changed = false;
    if (counted_) {
      serial_icounter_struct counts{};
      if (ioctl(fd_, TIOCGICOUNT, &counts) == 0) {
        changed = counts.dcd != last_count_;
        last_count_ = counts.dcd;
      }
    }
    int lines = 0;
    if (ioctl(fd_, TIOCMGET, &lines) == 0) {
      changed = changed || ((lines ^ last_lines_) & TIOCM_CD) != 0;
      last_lines_ = lines;
    } else if (!counted_) {
      watching_ = false;
    }
    return changed;
  }

 private:
  int fd_;
  bool watching_ = true;
  bool counted_ = false;
  int last_count_ = 0;
  int last_lines_ = 0;
};

void TermiosPort::ReadLoop(int fd, int wake_fd) {
  pthread_setname_np(pthread_self(), "serial reader");  // as top -H and the benchmark show it
  CarrierWatch carrier(fd);
  bool almost_full = false;
  char buffer[kInputQueueSize];
  for (;;) {
    // No timeout: an idle line costs nothing until bytes arrive, the device goes away or
    // Close writes to the wake pipe.
    pollfd fds[2] = {{fd, POLLIN, 0}, {wake_fd, POLLIN, 0}};
    const int ready = ::poll(fds, 2, -1);
    if (ready < 0) {
      if (errno == EINTR) continue;
      broken_ = true;
      break;
    }
    if (fds[1].revents != 0) break;

    if ((fds[0].revents & POLLIN) != 0) {
      const ssize_t got = ::read(fd, buffer, sizeof buffer);
      if (got > 0) {
        // One read takes everything queued, up to a buffer as large as the queue itself, so
        // what it got is what waited: no other call is needed to tell a filling queue.
        const bool now_full = got * 10 > ssize_t{kInputQueueSize} * 8;
        if (now_full && !almost_full) Notify(LineEvent::InputAlmostFull);
        almost_full = now_full;
        Deliver(std::string(buffer, static_cast<size_t>(got)));
      } else if (got == 0 || (errno != EAGAIN && errno != EINTR)) {
        broken_ = true;
        break;
      }
    } else if ((fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
      // The device went away (a USB modem pulled, the other side of a pseudo-terminal
      // closed): nothing more will arrive, and writes now fail.
      broken_ = true;
      break;
    }
    if (carrier.Changed()) Notify(LineEvent::CarrierDetectChanged);
  }
}

}  // namespace tovalink
