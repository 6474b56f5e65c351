#include "platform/posix/sg_aspi.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <map>

#include "platform/aspi_loader.h"

namespace fwload {
namespace {

constexpr std::uint8_t kHostSelectionTimeout = 0x11;

class LinuxSgSystem : public SgSystem {
 public:
  std::vector<SgDevice> devices() override {
    std::vector<SgDevice> found;
    const char* base = "/sys/class/scsi_generic";
    DIR* dir = opendir(base);
    if (dir == nullptr) return found;
    while (dirent* entry = readdir(dir)) {
      if (std::strncmp(entry->d_name, "sg", 2) != 0) continue;
      // .../sgN/device links to the device's "host:channel:id:lun" directory.
      const std::string link = std::string(base) + "/" + entry->d_name + "/device";
      char target[PATH_MAX] = {};
      const ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
      if (n <= 0) continue;
      const char* name = std::strrchr(target, '/');
      name = name != nullptr ? name + 1 : target;
      SgDevice d;
      if (std::sscanf(name, "%d:%d:%d:%d", &d.host, &d.channel, &d.id, &d.lun) != 4) continue;
      d.path = std::string("/dev/") + entry->d_name;
      found.push_back(d);
    }
    closedir(dir);
    return found;
  }
  int open_device(const std::string& path) override {
    return ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  }
  int sg_io(int fd, sg_io_hdr_t& header) override { return ioctl(fd, SG_IO, &header); }
  void close_device(int fd) override { ::close(fd); }
};

class SgAspiModule : public AspiModule {
 public:
  explicit SgAspiModule(std::shared_ptr<SgSystem> system)
      : system_(std::move(system)), devices_(system_->devices()) {}
  ~SgAspiModule() override {
    for (const auto& [path, fd] : open_) system_->close_device(fd);
  }

  bool has_entry(std::string_view entry) override {
    return entry == "GetASPI32SupportInfo" || entry == "SendASPI32Command";
  }

  std::uint32_t get_support_info() override {
    int hosts = 0;
    for (const SgDevice& d : devices_) hosts = d.host + 1 > hosts ? d.host + 1 : hosts;
    if (hosts > 255) hosts = 255;
    return (static_cast<std::uint32_t>(kSsComp) << 8) | static_cast<std::uint32_t>(hosts);
  }

  // SG_IO returns when the command has ended (the driver's own time-out bounds it), so the
  // request is complete when this returns.
  void send_command(ScsiRequestBlock& srb) override { store_status(srb, execute(srb)); }

  void abort(ScsiRequestBlock&) override {}

 private:
  std::uint8_t execute(ScsiRequestBlock& srb) {
    if (srb.command != kScExecScsiCmd) return kSsInvalidSrb;
    bool host_known = false;
    const SgDevice* device = nullptr;
    for (const SgDevice& d : devices_) {
      host_known = host_known || d.host == srb.host_adapter;
      if (d.host == srb.host_adapter && d.id == srb.target && d.lun == srb.lun && d.channel == 0) {
        device = &d;
      }
    }
    if (!host_known) return kSsInvalidHa;
    if (device == nullptr) {
      srb.host_status = kHostSelectionTimeout;
      return kSsErr;
    }
    const int fd = descriptor(device->path);
    if (fd < 0) {
      srb.host_status = kHostSelectionTimeout;
      return kSsErr;
    }
    sg_io_hdr_t h{};
    h.interface_id = 'S';
    h.cmd_len = srb.cdb_length;
    h.cmdp = srb.cdb;
    h.mx_sb_len = sizeof srb.sense;
    h.sbp = srb.sense;
    h.dxfer_len = srb.data_length;
    h.dxferp = srb.data_buffer;
    h.dxfer_direction = srb.data_length == 0      ? SG_DXFER_NONE
                        : (srb.flags & kSrbDirIn) ? SG_DXFER_FROM_DEV
                                                  : SG_DXFER_TO_DEV;
    const bool commit = srb.cdb[0] == 0x3B && srb.data_length == 0;
    h.timeout = commit ? kSgCommitTimeoutMs : kSgTimeoutMs;
    if (system_->sg_io(fd, h) != 0) {
      srb.host_status = 0x0E;  // the request could not be handed to the driver
      return kSsErr;
    }
    srb.host_status = static_cast<std::uint8_t>(h.host_status);
    srb.target_status = h.status & 0xFF;
    if (srb.target_status == kTargetCheckCondition) return kSsErr;
    if (h.host_status != 0 || (h.driver_status & 0x0F) != 0) return kSsErr;
    return kSsComp;
  }

  int descriptor(const std::string& path) {
    auto it = open_.find(path);
    if (it != open_.end()) return it->second;
    const int fd = system_->open_device(path);
    if (fd >= 0) open_[path] = fd;
    return fd;
  }

  std::shared_ptr<SgSystem> system_;
  std::vector<SgDevice> devices_;
  std::map<std::string, int> open_;
};

}  // namespace

std::unique_ptr<SgSystem> make_linux_sg_system() {
  return std::make_unique<LinuxSgSystem>();
}

std::unique_ptr<AspiModule> SgAspiLoader::load(std::string_view) {
  return std::make_unique<SgAspiModule>(system_);
}

std::unique_ptr<AspiLoader> make_platform_aspi_loader() {
  return std::make_unique<SgAspiLoader>(make_linux_sg_system());
}

}  // namespace fwload
