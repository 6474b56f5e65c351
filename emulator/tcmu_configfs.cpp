#include "emulator/tcmu_configfs.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <thread>

namespace fwload::emulator {
namespace {

namespace fs = std::filesystem;

const std::string kTarget = "/sys/kernel/config/target";
// This program's names: the userspace backstores' HBA, and the loopback port and the
// initiator of its nexus (WWNs of the NAA "locally assigned" kind, 0x5001405 is LIO's).
const std::string kHba = kTarget + "/core/user_73";
const std::string kPort = kTarget + "/loopback/naa.5001405fbad5ca00";
const std::string kInitiator = "naa.5001405fbad5ca01";

std::string backstore_path(int target) {
  return kHba + "/fwscanner-" + std::to_string(target);
}
std::string tpg_path(int target) {
  return kPort + "/tpgt_" + std::to_string(target);
}

bool fail(std::string* error, const std::string& text) {
  if (error != nullptr) *error = text;
  return false;
}

// Writes `text` to a configfs or sysfs attribute in one write.
bool write_text(const std::string& path, const std::string& text, std::string* error) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0) return fail(error, path + ": " + std::strerror(errno));
  const ssize_t n = ::write(fd, text.data(), text.size());
  const int e = errno;
  ::close(fd);
  if (n != static_cast<ssize_t>(text.size())) {
    return fail(error,
                path + ": " + (n < 0 ? std::strerror(e) : "written in part") + " (" + text + ")");
  }
  return true;
}

// Reads an attribute to its end (sysfs says 4096 bytes whatever it holds), at most 64 KiB.
std::string read_text(const std::string& path) {
  std::string text;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return text;
  char piece[4096];
  for (;;) {
    const ssize_t n = ::read(fd, piece, sizeof piece);
    if (n <= 0 || text.size() + static_cast<std::size_t>(n) > (64u << 10)) break;
    text.append(piece, static_cast<std::size_t>(n));
  }
  ::close(fd);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\0')) text.pop_back();
  return text;
}

bool make_dir(const std::string& path, std::string* error) {
  if (::mkdir(path.c_str(), 0755) == 0 || errno == EEXIST) return true;
  return fail(error, path + ": " + std::strerror(errno));
}

void remove_tpg(const std::string& tpg) {
  std::error_code ec;
  const std::string luns = tpg + "/lun";
  for (const fs::directory_entry& lun : fs::directory_iterator(luns, ec)) {
    std::error_code inner;
    for (const fs::directory_entry& link : fs::directory_iterator(lun.path(), inner)) {
      if (link.is_symlink(inner)) ::unlink(link.path().c_str());
    }
    ::rmdir(lun.path().c_str());
  }
  write_text(tpg + "/nexus", "NULL", nullptr);
  ::rmdir(tpg.c_str());
}

}  // namespace

std::string target_problem() {
  const std::string what =
      "as root: modprobe target_core_user tcm_loop (and mount -t configfs none "
      "/sys/kernel/config)";
  if (::geteuid() != 0) {
    return "--scsi sets up the kernel's SCSI target in configfs and needs root; " + what;
  }
  struct stat st {};
  if (::stat((kTarget + "/core").c_str(), &st) != 0) {
    return "the kernel's SCSI target is not there (no " + kTarget + "/core); " + what;
  }
  if (::stat((kTarget + "/loopback").c_str(), &st) != 0 &&
      ::mkdir((kTarget + "/loopback").c_str(), 0755) != 0) {
    return "the kernel's loopback SCSI port (tcm_loop) is not there; " + what;
  }
  return {};
}

void remove_leftovers() {
  std::error_code ec;
  for (const fs::directory_entry& e : fs::directory_iterator(kPort, ec)) {
    if (e.path().filename().string().rfind("tpgt_", 0) == 0) remove_tpg(e.path().string());
  }
  ::rmdir(kPort.c_str());
  for (const fs::directory_entry& e : fs::directory_iterator(kHba, ec)) {
    if (e.path().filename().string().rfind("fwscanner-", 0) == 0) ::rmdir(e.path().c_str());
  }
  ::rmdir(kHba.c_str());
}

std::optional<TcmuBackstore> create_backstore(int target, const std::string& model,
                                              std::string* error) {
  const std::string dev = backstore_path(target);
  if (!make_dir(kHba, error) || !make_dir(dev, error)) return std::nullopt;
  // The configuration string names the handler and the model; the backstore reports no size
  // of its own (the scanner answers READ CAPACITY, if asked, as it answers anything).
  if (!write_text(dev + "/control", "dev_config=fwscanner/" + model, error) ||
      !write_text(dev + "/enable", "1", error)) {
    return std::nullopt;
  }
  // ABORT TASK and the like are told to the handler, which answers the aborted command; the
  // command time-out (30 s) is left as the kernel has it. Both only before the LUN is exported.
  if (!write_text(dev + "/attrib/tmr_notification", "1", error)) return std::nullopt;
  // The UIO device whose name is "tcm-user/<hba>/<device>/<config>".
  const std::string name = "tcm-user/73/fwscanner-" + std::to_string(target) + "/";
  std::error_code ec;
  for (const fs::directory_entry& e : fs::directory_iterator("/sys/class/uio", ec)) {
    if (read_text(e.path().string() + "/name").rfind(name, 0) != 0) continue;
    TcmuBackstore b;
    b.target = target;
    b.uio = "/dev/" + e.path().filename().string();
    b.map_size =
        std::strtoull(read_text(e.path().string() + "/maps/map0/size").c_str(), nullptr, 0);
    if (b.map_size == 0) break;
    return b;
  }
  fail(error, "no UIO device for " + dev + " (is uio loaded?)");
  return std::nullopt;
}

std::optional<AttachedScanner> export_backstore(int target, std::string* error) {
  const std::string tpg = tpg_path(target);
  if (!make_dir(kPort, error) || !make_dir(tpg, error) ||
      !write_text(tpg + "/nexus", kInitiator, error) || !make_dir(tpg + "/lun/lun_0", error)) {
    return std::nullopt;
  }
  const std::string link = tpg + "/lun/lun_0/fwscanner";
  if (::symlink(backstore_path(target).c_str(), link.c_str()) != 0 && errno != EEXIST) {
    fail(error, link + ": " + std::strerror(errno));
    return std::nullopt;
  }
  // The port's address is "H:C:T" of the kernel's SCSI host; LUN 0 is the scanner.
  const std::string address = read_text(tpg + "/address");
  if (address.empty()) {
    fail(error, tpg + "/address: not readable");
    return std::nullopt;
  }
  AttachedScanner a;
  a.hctl = address + ":0";
  const std::string generic = "/sys/bus/scsi/devices/" + a.hctl + "/scsi_generic";
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (std::chrono::steady_clock::now() < deadline) {
    std::error_code ec;
    for (const fs::directory_entry& e : fs::directory_iterator(generic, ec)) {
      a.sg = "/dev/" + e.path().filename().string();
      return a;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  fail(error, "the kernel attached no SCSI generic device at " + a.hctl + " (is sg loaded?)");
  return std::nullopt;
}

void unexport(const std::vector<int>& targets) {
  for (int t : targets) remove_tpg(tpg_path(t));
  ::rmdir(kPort.c_str());
}

void remove_backstores(const std::vector<int>& targets) {
  for (int t : targets) ::rmdir(backstore_path(t).c_str());
  ::rmdir(kHba.c_str());
}

}  // namespace fwload::emulator
