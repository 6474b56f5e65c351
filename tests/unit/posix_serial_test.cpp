// The POSIX serial port's driver calls, with the ioctl seam injected, on a real
// pseudo-terminal: the low-latency request is made and undone, and a refusal changes nothing.
#include "platform/posix/posix_serial.h"

#include <gtest/gtest.h>
#include <linux/serial.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <fcntl.h>

#include <vector>

namespace fwload {
namespace {

class FakeTty : public SerialSystem {
 public:
  int flags = 0;            // the driver's serial_struct flags
  bool has_serial = true;   // the driver answers TIOCGSERIAL (a pseudo-terminal does not)
  bool refuse_set = false;  // TIOCSSERIAL fails (EPERM)
  std::vector<int> sets;    // the flags of every TIOCSSERIAL

  int ioctl(int fd, unsigned long request, void* arg) override {
    if (request == TIOCGSERIAL) {
      if (!has_serial) return -1;
      static_cast<serial_struct*>(arg)->flags = flags;
      return 0;
    }
    if (request == TIOCSSERIAL) {
      if (refuse_set) return -1;
      flags = static_cast<serial_struct*>(arg)->flags;
      sets.push_back(flags);
      return 0;
    }
    return ::ioctl(fd, request, arg);
  }
};

class PosixSerial : public ::testing::Test {
 protected:
  void SetUp() override {
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master_, 0);
    ASSERT_EQ(grantpt(master_), 0);
    ASSERT_EQ(unlockpt(master_), 0);
    path_ = ptsname(master_);
  }
  void TearDown() override { close(master_); }
  int master_ = -1;
  std::string path_;
};

TEST_F(PosixSerial, LowLatencyIsAskedForAndUndone) {
  struct Case {
    const char* what;
    int flags;
    bool has_serial, refuse_set;
    std::vector<int> sets;  // what the driver is told, open to close
  };
  const int other = 0x0040;  // some other flag of the driver's, kept as it was
  const Case cases[] = {
      {"a USB adapter", other, true, false, {other | ASYNC_LOW_LATENCY, other}},
      {"already low latency", other | ASYNC_LOW_LATENCY, true, false, {}},
      {"a driver that refuses", other, true, true, {}},
      {"a pseudo-terminal", other, false, false, {}},
  };
  for (const Case& c : cases) {
    auto tty = std::make_shared<FakeTty>();
    tty->flags = c.flags;
    tty->has_serial = c.has_serial;
    tty->refuse_set = c.refuse_set;
    {
      auto port = make_posix_serial_devices(tty)->open(path_);
      ASSERT_TRUE(port) << c.what;
      // The port works either way.
      const std::uint8_t enq = 0x05;
      EXPECT_EQ(port->write(&enq, 1), 1) << c.what;
    }
    EXPECT_EQ(tty->sets, c.sets) << c.what;
    EXPECT_EQ(tty->flags, c.flags) << c.what;  // as it was after close
  }
}

}  // namespace
}  // namespace fwload
