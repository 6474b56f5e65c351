// An ASPI-shaped layer over the Linux SCSI generic driver: adapters are SCSI host numbers,
// targets SCSI ids, LUN 0; each request is one SG_IO on the /dev/sg device of that address.
#pragma once

#include <scsi/sg.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/aspi.h"

namespace fwload {

struct SgDevice {
  std::string path;  // /dev/sgN
  int host = 0, channel = 0, id = 0, lun = 0;
};

// What the layer uses of the system; tests put in their own.
class SgSystem {
 public:
  virtual ~SgSystem() = default;
  virtual std::vector<SgDevice> devices() = 0;
  // A file descriptor, or -1 with errno set.
  virtual int open_device(const std::string& path) = 0;
  // ioctl(fd, SG_IO, header): 0 on success, -1 with errno set.
  virtual int sg_io(int fd, sg_io_hdr_t& header) = 0;
  virtual void close_device(int fd) = 0;
};

// The real system: /sys/class/scsi_generic, open(2), ioctl(2).
std::unique_ptr<SgSystem> make_linux_sg_system();

// How long the driver lets one command run: saving firmware takes minutes.
inline constexpr unsigned kSgTimeoutMs = 120'000;
inline constexpr unsigned kSgCommitTimeoutMs = 900'000;

class SgAspiLoader : public AspiLoader {
 public:
  explicit SgAspiLoader(std::shared_ptr<SgSystem> system) : system_(std::move(system)) {}
  std::unique_ptr<AspiModule> load(std::string_view name) override;

 private:
  std::shared_ptr<SgSystem> system_;
};

}  // namespace fwload
