// The serial port on POSIX termios, behaving as the Windows port does with the program's
// time-outs (no interval time-out, a total of 500 ms): a read returns when the bytes asked for
// have come, or after 500 ms with what has; a write the line holds back returns short after
// 500 ms. (Returning the first byte or two of a status reply at once would make the poll wait
// for ten more bytes than the reply has: a line at 19200 baud brings a byte every 0.57 ms.)
#include "platform/posix/posix_serial.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

namespace fwload {
namespace {

using Clock = std::chrono::steady_clock;

int remaining_ms(Clock::time_point deadline) {
  const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

class LinuxSerialSystem : public SerialSystem {
 public:
  int ioctl(int fd, unsigned long request, void* arg) override { return ::ioctl(fd, request, arg); }
};

class PosixSerialPort : public SerialPort {
 public:
  PosixSerialPort(int fd, std::shared_ptr<SerialSystem> system)
      : fd_(fd), system_(std::move(system)) {
    // Low latency where the driver has it (USB serial adapters, UARTs); a pseudo-terminal or a
    // driver that refuses keeps its setting and the port works as it is.
    serial_struct s{};
    if (system_->ioctl(fd_, TIOCGSERIAL, &s) == 0 && (s.flags & ASYNC_LOW_LATENCY) == 0) {
      s.flags |= ASYNC_LOW_LATENCY;
      if (system_->ioctl(fd_, TIOCSSERIAL, &s) == 0) {
        s.flags &= ~ASYNC_LOW_LATENCY;
        restore_ = s;
        low_latency_set_ = true;
      }
    }
  }
  ~PosixSerialPort() override {
    // The driver's setting as it was before us.
    if (low_latency_set_) (void)system_->ioctl(fd_, TIOCSSERIAL, &restore_);
    // Exclusive use ends with our use: the terminal may stay open elsewhere (a pseudo-terminal
    // whose other side keeps it), and the flag would shut out the next operation.
    (void)system_->ioctl(fd_, TIOCNXCL, nullptr);
    ::close(fd_);
  }

  void setup_queues(std::size_t, std::size_t) override {}
  void set_timeouts(const SerialTimeouts& t) override { timeouts_ = t; }

  void purge(unsigned flags) override {
    const bool rx = (flags & (kPurgeRxAbort | kPurgeRxClear)) != 0;
    const bool tx = (flags & (kPurgeTxAbort | kPurgeTxClear)) != 0;
    if (rx && tx) {
      tcflush(fd_, TCIOFLUSH);
    } else if (rx) {
      tcflush(fd_, TCIFLUSH);
    } else if (tx) {
      tcflush(fd_, TCOFLUSH);
    }
  }

  bool configure(const LineSettings& s) override {
    termios t{};
    if (tcgetattr(fd_, &t) != 0) return false;
    cfmakeraw(&t);
    speed_t speed = B19200;
    switch (s.baud_rate) {
      case 9600:
        speed = B9600;
        break;
      case 19200:
        speed = B19200;
        break;
      case 38400:
        speed = B38400;
        break;
      default:
        return false;
    }
    cfsetispeed(&t, speed);
    cfsetospeed(&t, speed);
    t.c_cflag &= ~(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
    t.c_cflag |= CREAD | CLOCAL;
    t.c_cflag |= s.byte_size == 7 ? CS7 : CS8;
    if (s.parity == 1) t.c_cflag |= PARENB | PARODD;
    if (s.parity == 2) t.c_cflag |= PARENB;
    if (s.stop_bits == 2) t.c_cflag |= CSTOPB;
    if (s.flow_flags & 0x02) t.c_cflag |= CRTSCTS;
    // A pseudo-terminal (the emulated scanner's line) carries no parity: the kernel drops the
    // bit and the C library then reports the whole setting as refused.
    if (is_pseudo_terminal()) t.c_cflag &= ~(PARENB | PARODD);
    t.c_iflag &= ~(IXON | IXOFF | IXANY);
    if (s.flow_flags & 0x04) t.c_iflag |= IXON | IXOFF;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    return tcsetattr(fd_, TCSANOW, &t) == 0;
  }

  void set_dtr(bool raised) override {
    int bits = TIOCM_DTR;
    // A pseudo-terminal has no modem lines; the result is not needed, as on Windows.
    (void)system_->ioctl(fd_, raised ? TIOCMBIS : TIOCMBIC, &bits);
  }

  int read(std::uint8_t* buffer, std::size_t size) override {
    std::size_t got = 0;
    const ssize_t first = ::read(fd_, buffer, size);
    // With VMIN and VTIME at 0 a read of nothing buffered returns 0 (or EAGAIN): no data yet.
    if (first > 0) got = static_cast<std::size_t>(first);
    if (first < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) return -1;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeouts_.read_total_constant);
    while (got < size) {
      pollfd p{fd_, POLLIN, 0};
      const int ready = poll(&p, 1, remaining_ms(deadline));
      if (ready < 0 && errno == EINTR) continue;
      if (ready <= 0) break;
      if (p.revents & (POLLERR | POLLNVAL)) return got > 0 ? static_cast<int>(got) : -1;
      const ssize_t n = ::read(fd_, buffer + got, size - got);
      if (n > 0) {
        got += static_cast<std::size_t>(n);
      } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
        // The other end is gone (a hang-up reads as the end of the file).
        return got > 0 ? static_cast<int>(got) : -1;
      }
    }
    return static_cast<int>(got);
  }

  int write(const std::uint8_t* data, std::size_t size) override {
    std::size_t sent = 0;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeouts_.write_total_constant);
    while (sent < size) {
      const ssize_t n = ::write(fd_, data + sent, size - sent);
      if (n > 0) {
        sent += static_cast<std::size_t>(n);
        continue;
      }
      if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
        return sent > 0 ? static_cast<int>(sent) : -1;
      }
      const int left = remaining_ms(deadline);
      if (left == 0) break;
      pollfd p{fd_, POLLOUT, 0};
      poll(&p, 1, left);
    }
    return static_cast<int>(sent);
  }

 private:
  bool is_pseudo_terminal() const {
    struct stat st {};
    if (fstat(fd_, &st) != 0 || !S_ISCHR(st.st_mode)) return false;
    const unsigned m = major(st.st_rdev);
    return m >= 136 && m <= 143;  // the Unix 98 pseudo-terminal slaves
  }

  int fd_;
  std::shared_ptr<SerialSystem> system_;
  SerialTimeouts timeouts_;
  serial_struct restore_{};
  bool low_latency_set_ = false;
};

class PosixSerialDevices : public SerialDevices {
 public:
  explicit PosixSerialDevices(std::shared_ptr<SerialSystem> system) : system_(std::move(system)) {}
  std::unique_ptr<SerialPort> open(const std::string& name) override {
    const int fd = ::open(name.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return nullptr;
    // Not shared: another program holding the port keeps us out, and we keep it out.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
      ::close(fd);
      return nullptr;
    }
    (void)system_->ioctl(fd, TIOCEXCL, nullptr);
    return std::make_unique<PosixSerialPort>(fd, system_);
  }

 private:
  std::shared_ptr<SerialSystem> system_;
};

}  // namespace

std::unique_ptr<SerialDevices> make_posix_serial_devices(std::shared_ptr<SerialSystem> system) {
  return std::make_unique<PosixSerialDevices>(std::move(system));
}

std::unique_ptr<SerialDevices> make_platform_serial_devices() {
  return make_posix_serial_devices(std::make_shared<LinuxSerialSystem>());
}

}  // namespace fwload
