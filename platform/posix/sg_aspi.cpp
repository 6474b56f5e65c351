#include "platform/posix/sg_aspi.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <utility>

#include "platform/aspi_loader.h"
#include "platform/detached_request.h"
#include "platform/fixed_sense.h"

namespace fwload {
namespace {

constexpr std::uint8_t kHostSelectionTimeout = 0x11;
constexpr std::uint8_t kHostBusReset = 0x0E;     // also: the request could not be handed over
constexpr std::uint8_t kHostDataOverrun = 0x12;  // data over- or underrun
// Driver status: the low three bits are the driver's verdict; 0x08 only says that sense data
// came with the reply.
constexpr unsigned kDriverErrorMask = 0x07;

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
  // The owner group's name from /etc/group (the C library's group lookup would tie the
  // statically linked program to the system's NSS libraries).
  std::string group_of(const std::string& path) override {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return {};
    std::FILE* f = std::fopen("/etc/group", "r");
    if (f == nullptr) return {};
    std::string name;
    std::array<char, 1024> line{};
    while (name.empty() && std::fgets(line.data(), static_cast<int>(line.size()), f) != nullptr) {
      // name:password:gid:members
      const char* first = std::strchr(line.data(), ':');
      const char* second = first != nullptr ? std::strchr(first + 1, ':') : nullptr;
      if (second == nullptr) continue;
      char* end = nullptr;
      const unsigned long gid = std::strtoul(second + 1, &end, 10);
      if (end != second + 1 && *end == ':' && gid == st.st_gid) {
        name.assign(line.data(), static_cast<std::size_t>(first - line.data()));
      }
    }
    std::fclose(f);
    return name;
  }
};

// An open /dev/sg device, closed when the last request that uses it has ended: a request the
// caller gave up on keeps it open until the kernel is done with it.
struct SgDescriptor {
  SgDescriptor(std::shared_ptr<SgSystem> s, int f) : system(std::move(s)), fd(f) {}
  ~SgDescriptor() { system->close_device(fd); }
  SgDescriptor(const SgDescriptor&) = delete;
  SgDescriptor& operator=(const SgDescriptor&) = delete;
  std::shared_ptr<SgSystem> system;
  int fd;
};

// One request as the kernel sees it: its CDB and sense bytes are its own, as its data is.
struct SgRequest : DetachedRequest {
  explicit SgRequest(ScsiRequestBlock& srb) : DetachedRequest(srb, 1) {}
  std::array<std::uint8_t, 16> cdb{};
  std::array<std::uint8_t, sizeof(ScsiRequestBlock::sense)> sense{};
  sg_io_hdr_t header{};
};

void run_request(const std::shared_ptr<SgRequest>& r, const std::shared_ptr<SgDescriptor>& device) {
  const int rc = device->system->sg_io(device->fd, r->header);
  const sg_io_hdr_t& h = r->header;
  // A short incoming data phase is no error: what came is handed over. Outgoing data the
  // device took only in part is (the rest of a WRITE BUFFER block would be missing).
  const std::size_t resid = rc == 0 && h.resid > 0 ? static_cast<std::size_t>(h.resid) : 0;
  const std::size_t got = rc == 0 ? r->data().size() - std::min(r->data().size(), resid) : 0;
  const bool taken_in_part = !r->data_in() && !r->data().empty() && resid > 0;
  r->end(got, [&](ScsiRequestBlock& srb) {
    if (rc != 0) {
      srb.host_status = kHostBusReset;
      return kSsErr;
    }
    // What the driver wrote (all of the buffer where it does not say).
    const std::size_t written =
        h.sb_len_wr > 0 ? std::min<std::size_t>(h.sb_len_wr, r->sense.size()) : r->sense.size();
    to_fixed_sense(std::span(r->sense.data(), written), srb.sense);
    srb.host_status = aspi_host_status(h.host_status);
    srb.target_status = static_cast<std::uint8_t>(h.status & 0xFF);
    if (srb.target_status == kTargetCheckCondition || h.host_status != 0 ||
        (h.driver_status & kDriverErrorMask) != 0) {
      return kSsErr;
    }
    if (taken_in_part && srb.target_status == 0) {
      srb.host_status = kHostDataOverrun;
      return kSsErr;
    }
    return kSsComp;
  });
}

class SgAspiModule : public AspiModule {
 public:
  SgAspiModule(std::shared_ptr<SgSystem> system, AspiNotice notice,
               std::shared_ptr<std::set<std::string>> told)
      : system_(std::move(system)),
        notice_(std::move(notice)),
        told_(std::move(told)),
        devices_(system_->devices()) {
    for (const SgDevice& d : devices_) adapters_.emplace(d.host, d.channel);
    if (adapters_.size() > kMaxAdapters && notice_) {
      notice_(std::to_string(adapters_.size()) +
              " SCSI host adapters (host:channel pairs) are more than the 255 that the ASPI "
              "numbering can name; none is searched");
    }
  }
  bool has_entry(std::string_view entry) override {
    return entry == "GetASPI32SupportInfo" || entry == "SendASPI32Command";
  }

  std::uint32_t get_support_info() override {
    if (adapters_.size() > kMaxAdapters) return static_cast<std::uint32_t>(kSsFailedInit) << 8;
    return (static_cast<std::uint32_t>(kSsComp) << 8) |
           static_cast<std::uint32_t>(adapters_.size());
  }

  void send_command(ScsiRequestBlock& srb) override {
    const std::uint8_t early = check(srb);
    if (early != kSsPending) {
      store_status(srb, early);
      return;
    }
    const SgDevice& device = *device_for(srb);
    const std::shared_ptr<SgDescriptor> descriptor = open(device.path);
    if (!descriptor) {
      srb.host_status = kHostSelectionTimeout;
      store_status(srb, kSsErr);
      return;
    }
    auto r = std::make_shared<SgRequest>(srb);
    std::memcpy(r->cdb.data(), srb.cdb, r->cdb.size());
    sg_io_hdr_t& h = r->header;
    h.interface_id = 'S';
    h.cmd_len = std::min<std::uint8_t>(srb.cdb_length, 16);
    h.cmdp = r->cdb.data();
    h.mx_sb_len = static_cast<unsigned char>(r->sense.size());
    h.sbp = r->sense.data();
    h.dxfer_len = static_cast<unsigned>(r->data().size());
    h.dxferp = r->data().empty() ? nullptr : r->data().data();
    h.dxfer_direction = r->data().empty() ? SG_DXFER_NONE
                        : r->data_in()    ? SG_DXFER_FROM_DEV
                                          : SG_DXFER_TO_DEV;
    const bool commit = srb.cdb[0] == 0x3B && srb.data_length == 0;
    h.timeout = commit ? kSgCommitTimeoutMs : kSgTimeoutMs;
    requests_.start(srb, r, [r, descriptor] { run_request(r, descriptor); });
  }

  std::string device_path(std::uint8_t adapter, std::uint8_t target) override {
    if (adapter >= adapters_.size()) return {};
    const ScsiRequestBlock probe = address(adapter, target);
    const SgDevice* d = device_for(probe);
    return d != nullptr ? d->path : std::string();
  }
  std::string device_problem(std::uint8_t adapter, std::uint8_t target) override {
    const std::string path = device_path(adapter, target);
    int error = 0;
    if (path.empty() || open(path, &error)) return {};
    return access_hint(path, error, system_->group_of(path));
  }
  std::string manager_name() override { return "Linux SCSI generic driver (/dev/sg*)"; }
  // Each request moves its data through a copy of its own (DetachedRequest).
  bool copies_data() const override { return true; }

  // The request is given up at once: its block is the caller's again, ended as aborted, and
  // nothing is written into it or its data when the kernel finishes.
  void abort(ScsiRequestBlock& srb) override { requests_.abandon(srb); }

 private:
  static ScsiRequestBlock address(std::uint8_t adapter, std::uint8_t target) {
    ScsiRequestBlock srb{};
    srb.host_adapter = adapter;
    srb.target = target;
    return srb;
  }

  // kSsPending when the request can go to a device, else its final status.
  std::uint8_t check(ScsiRequestBlock& srb) {
    if (srb.command != kScExecScsiCmd) return kSsInvalidSrb;
    if (adapters_.size() > kMaxAdapters || srb.host_adapter >= adapters_.size()) {
      return kSsInvalidHa;
    }
    if (device_for(srb) == nullptr) {
      srb.host_status = kHostSelectionTimeout;
      return kSsErr;
    }
    return kSsPending;
  }

  const SgDevice* device_for(const ScsiRequestBlock& srb) const {
    const auto adapter = std::next(adapters_.begin(), srb.host_adapter);
    for (const SgDevice& d : devices_) {
      if (d.host == adapter->first && d.channel == adapter->second && d.id == srb.target &&
          d.lun == srb.lun) {
        return &d;
      }
    }
    return nullptr;
  }

  // The device's descriptor, opened on first use; the reason in `open_error` when it cannot
  // be opened. Several scanners' jobs share the manager: one at a time here.
  std::shared_ptr<SgDescriptor> open(const std::string& path, int* open_error = nullptr) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = open_.find(path);
    if (it != open_.end()) return it->second;
    const int fd = system_->open_device(path);
    if (fd < 0) {
      const int error = errno;
      if (open_error != nullptr) *open_error = error;
      if (notice_ && told_->insert(path).second) {
        const std::string hint = access_hint(path, error, system_->group_of(path));
        if (!hint.empty()) notice_(hint);
      }
      return nullptr;
    }
    auto descriptor = std::make_shared<SgDescriptor>(system_, fd);
    open_[path] = descriptor;
    return descriptor;
  }

  std::shared_ptr<SgSystem> system_;
  AspiNotice notice_;
  std::shared_ptr<std::set<std::string>> told_;  // devices whose access problem was told
  std::vector<SgDevice> devices_;
  std::set<std::pair<int, int>> adapters_;  // (host, channel), ascending: adapter numbers
  std::mutex mutex_;                        // guards open_ and told_
  std::map<std::string, std::shared_ptr<SgDescriptor>> open_;
  // Last: released first, so that requests still running write nothing more of the caller's
  // (they end on their own threads; releasing the manager never waits for the kernel).
  DetachedRequests requests_;
};

}  // namespace

std::uint8_t aspi_host_status(int linux_host_status) {
  switch (linux_host_status) {
    case 0x00:  // DID_OK
      return 0x00;
    case 0x01:  // DID_NO_CONNECT
    case 0x04:  // DID_BAD_TARGET
      return kHostSelectionTimeout;
    case 0x02:      // DID_BUS_BUSY
      return 0x13;  // unexpected bus free
    case 0x03:      // DID_TIME_OUT
    case 0x05:      // DID_ABORT
      return 0x0B;  // command time-out
    case 0x06:      // DID_PARITY
      return 0x0F;
    case 0x08:  // DID_RESET
      return kHostBusReset;
    default:
      return 0x14;  // phase error: the transport failed
  }
}

std::string access_hint(const std::string& path, int error, const std::string& group) {
  if (error == EACCES || error == EPERM) {
    std::string remedy = group.empty() || group == "root"
                             ? "install the udev rule from the README (group scanner)"
                             : "add your user to the group '" + group +
                                   "' that owns it and log in again, or install the udev "
                                   "rule from the README";
    return path + " cannot be opened: " + std::strerror(error) + "; " + remedy;
  }
  if (error == EBUSY) {
    return path + " cannot be opened: " + std::strerror(error) +
           "; another program holds it: close that program and try again";
  }
  return {};
}

std::unique_ptr<SgSystem> make_linux_sg_system() {
  return std::make_unique<LinuxSgSystem>();
}

std::unique_ptr<AspiModule> SgAspiLoader::load(std::string_view) {
  return std::make_unique<SgAspiModule>(system_, notice_, told_);
}

std::unique_ptr<AspiLoader> make_platform_aspi_loader(AspiNotice notice) {
  return std::make_unique<SgAspiLoader>(make_linux_sg_system(), std::move(notice));
}

}  // namespace fwload
