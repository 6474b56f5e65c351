// The POSIX serial port's calls to the terminal driver beyond termios, behind a seam that tests
// replace (as SgSystem is for SCSI): exclusive use, the modem lines, and the driver's
// low-latency mode that USB serial adapters need (they hold received bytes up to 16 ms
// otherwise, about 20 % more time on a download).
#pragma once

#include <memory>

#include "platform/serial_device.h"

namespace fwload {

class SerialSystem {
 public:
  virtual ~SerialSystem() = default;
  // ioctl(fd, request, arg): 0 or more on success, -1 with errno set.
  virtual int ioctl(int fd, unsigned long request, void* arg) = 0;
};

std::unique_ptr<SerialDevices> make_posix_serial_devices(std::shared_ptr<SerialSystem> system);

}  // namespace fwload
