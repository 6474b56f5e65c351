// An ASPI-shaped layer over the Linux SCSI generic driver. Adapters are the (host, channel)
// pairs that have SCSI generic devices, numbered from 0 in ascending order; targets are SCSI
// ids, LUN 0. Each request runs as one SG_IO on the /dev/sg device of its address, on a
// thread of its own: SendASPI32Command returns with the request pending, as an ASPI manager
// does, and the block's results and status are written when the command has ended.
#pragma once

#include <scsi/sg.h>

#include <functional>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "platform/aspi_loader.h"

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
  // ioctl(fd, SG_IO, header): 0 on success, -1 with errno set. Called on a request's own
  // thread; it may take as long as the device takes.
  virtual int sg_io(int fd, sg_io_hdr_t& header) = 0;
  virtual void close_device(int fd) = 0;
  // The name of the group that owns `path` ("" when unknown), for the access hint.
  virtual std::string group_of(const std::string& path) = 0;
};

// The real system: /sys/class/scsi_generic, open(2), ioctl(2).
std::unique_ptr<SgSystem> make_linux_sg_system();

// How long the driver lets one command run: saving firmware takes minutes.
inline constexpr unsigned kSgTimeoutMs = 120'000;
inline constexpr unsigned kSgCommitTimeoutMs = 900'000;
// ASPI numbers adapters with one byte.
inline constexpr std::size_t kMaxAdapters = 255;

// ASPI host adapter status for a kernel host code (DID_*): the kernel's codes are not ASPI's.
std::uint8_t aspi_host_status(int linux_host_status);
// Why a device cannot be opened and what to do about it, in one line ("" when `error` is not
// an access problem): permission (the owning group, or the udev rule) or a busy device.
std::string access_hint(const std::string& path, int error, const std::string& group);

// `notice` receives one line for each device that exists but cannot be opened (EACCES,
// EPERM, EBUSY: told once per device) and for a bus the ASPI numbering cannot name.
class SgAspiLoader : public AspiLoader {
 public:
  explicit SgAspiLoader(std::shared_ptr<SgSystem> system, AspiNotice notice = {})
      : system_(std::move(system)), notice_(std::move(notice)) {}
  std::unique_ptr<AspiModule> load(std::string_view name) override;

 private:
  std::shared_ptr<SgSystem> system_;
  AspiNotice notice_;
  std::shared_ptr<std::set<std::string>> told_ = std::make_shared<std::set<std::string>>();
};

}  // namespace fwload
