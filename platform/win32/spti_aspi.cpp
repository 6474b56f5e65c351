#include "platform/win32/spti_aspi.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <span>
#include <utility>
#include <vector>

#include "platform/detached_request.h"
#include "platform/spti_translate.h"

namespace fwload {
namespace {

// The bus layouts the translation mirrors are the system's.
static_assert(offsetof(SCSI_ADAPTER_BUS_INFO, BusData) == spti::kBusDataOffset);
static_assert(sizeof(SCSI_BUS_DATA) == spti::kBusDataSize);
static_assert(offsetof(SCSI_INQUIRY_DATA, InquiryData) == spti::kUnitHeaderSize);

constexpr std::uint8_t kHostSelectionTimeout = 0x11;
constexpr std::uint8_t kHostBusReset = 0x0E;
// The data goes straight between the device and the request's buffer: one page of alignment
// satisfies any adapter's alignment mask.
constexpr std::size_t kDataAlignment = 4096;
constexpr DWORD kLargestInquiryReply = 64 * 1024;

class WindowsSptiSystem : public SptiSystem {
 public:
  HANDLE create_file(const char* name) override {
    return CreateFileA(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                       nullptr, OPEN_EXISTING, 0, nullptr);
  }
  BOOL device_io_control(HANDLE device, DWORD code, void* in, DWORD in_size, void* out,
                         DWORD out_size, DWORD* returned) override {
    return DeviceIoControl(device, code, in, in_size, out, out_size, returned, nullptr);
  }
  void close_handle(HANDLE device) override { CloseHandle(device); }
};

// An open port, closed when the last request that uses it has ended: a request the caller
// gave up on keeps it open until the driver is done with it.
struct Port {
  Port(std::shared_ptr<SptiSystem> s, HANDLE h) : system(std::move(s)), handle(h) {}
  ~Port() { system->close_handle(handle); }
  Port(const Port&) = delete;
  Port& operator=(const Port&) = delete;
  std::shared_ptr<SptiSystem> system;
  HANDLE handle;
};

std::string port_name(int n) {
  return "\\\\.\\Scsi" + std::to_string(n) + ":";
}

struct SptiRequest : DetachedRequest {
  explicit SptiRequest(ScsiRequestBlock& srb) : DetachedRequest(srb, kDataAlignment) {}
  SptdWithSense pass{};
};

void run_request(const std::shared_ptr<SptiRequest>& r, const std::shared_ptr<Port>& port) {
  DWORD returned = 0;
  const BOOL ok =
      port->system->device_io_control(port->handle, IOCTL_SCSI_PASS_THROUGH_DIRECT, &r->pass,
                                      sizeof r->pass, &r->pass, sizeof r->pass, &returned);
  const DWORD error = ok ? 0 : GetLastError();
  const SCSI_PASS_THROUGH_DIRECT& sptd = r->pass.sptd;
  // The driver sets DataTransferLength to what was moved; a short data phase is no error.
  const std::size_t moved =
      ok ? std::min<std::size_t>(sptd.DataTransferLength, r->data().size()) : 0;
  const std::size_t sense = std::min<std::size_t>(sptd.SenseInfoLength, sizeof r->pass.sense);
  r->end(moved, [&](ScsiRequestBlock& srb) {
    spti::Outcome outcome;
    outcome.call_ok = ok != FALSE;
    outcome.error = error;
    outcome.scsi_status = sptd.ScsiStatus;
    outcome.sense = std::span<const std::uint8_t>(r->pass.sense, sense);
    return spti::complete_block(srb, outcome);
  });
}

class SptiAspiModule : public AspiModule {
 public:
  SptiAspiModule(AspiNotice notice, std::map<int, std::shared_ptr<Port>> ports,
                 std::vector<spti::Adapter> adapters)
      : notice_(std::move(notice)), ports_(std::move(ports)), adapters_(std::move(adapters)) {}

  bool has_entry(std::string_view entry) override {
    return entry == "GetASPI32SupportInfo" || entry == "SendASPI32Command";
  }
  std::uint32_t get_support_info() override {
    return (static_cast<std::uint32_t>(kSsComp) << 8) |
           static_cast<std::uint32_t>(adapters_.size());
  }

  void send_command(ScsiRequestBlock& srb) override {
    if (srb.command != kScExecScsiCmd) {
      store_status(srb, kSsInvalidSrb);
      return;
    }
    if (srb.host_adapter >= adapters_.size()) {
      store_status(srb, kSsInvalidHa);
      return;
    }
    const spti::Adapter& adapter = adapters_[srb.host_adapter];
    const spti::Unit* unit = unit_at(adapter, srb.target, srb.lun);
    // Nothing the port reported is there, or a class driver owns it: as ASPI sees it, nothing
    // answers the selection.
    if (unit == nullptr || unit->claimed) {
      if (unit != nullptr) tell_claimed(srb.host_adapter, *unit);
      srb.host_status = kHostSelectionTimeout;
      store_status(srb, kSsErr);
      return;
    }
    auto r = std::make_shared<SptiRequest>(srb);
    const spti::Request q = spti::make_request(srb, adapter.path);
    SCSI_PASS_THROUGH_DIRECT& sptd = r->pass.sptd;
    sptd.Length = sizeof sptd;
    sptd.PathId = q.path;
    sptd.TargetId = q.target;
    sptd.Lun = q.lun;
    sptd.CdbLength = q.cdb_length;
    std::memcpy(sptd.Cdb, q.cdb.data(), sizeof sptd.Cdb);
    sptd.SenseInfoLength = sizeof r->pass.sense;
    sptd.SenseInfoOffset = offsetof(SptdWithSense, sense);
    sptd.DataIn = r->data().empty() ? SCSI_IOCTL_DATA_UNSPECIFIED
                  : r->data_in()    ? SCSI_IOCTL_DATA_IN
                                    : SCSI_IOCTL_DATA_OUT;
    sptd.DataTransferLength = static_cast<ULONG>(r->data().size());
    sptd.DataBuffer = r->data().empty() ? nullptr : r->data().data();
    sptd.TimeOutValue = q.timeout_seconds;
    // Every adapter comes from a port that answered, and that port stays open.
    std::shared_ptr<Port> port = ports_.at(adapter.port);
    requests_.start(srb, r, [r, port] { run_request(r, port); });
  }

  // The request is given up at once: its block is the caller's again, ended as aborted, and
  // nothing is written into it or its data when the driver finishes.
  void abort(ScsiRequestBlock& srb) override { requests_.abandon(srb); }

  std::string device_path(std::uint8_t adapter, std::uint8_t target) override {
    if (adapter >= adapters_.size() || unit_at(adapters_[adapter], target, 0) == nullptr) return {};
    return port_name(adapters_[adapter].port) + " bus " + std::to_string(adapters_[adapter].path);
  }
  std::string device_problem(std::uint8_t adapter, std::uint8_t target) override {
    if (adapter >= adapters_.size()) return {};
    const spti::Unit* unit = unit_at(adapters_[adapter], target, 0);
    return unit != nullptr && unit->claimed ? claimed_text(*unit) : std::string();
  }
  std::string manager_name() override { return kSptiManagerName; }

 private:
  static const spti::Unit* unit_at(const spti::Adapter& adapter, std::uint8_t target,
                                   std::uint8_t lun) {
    for (const spti::Unit& u : adapter.units) {
      if (u.target == target && u.lun == lun) return &u;
    }
    return nullptr;
  }

  static std::string claimed_text(const spti::Unit& unit) {
    // Vendor and product from the INQUIRY data the port reported, without their padding.
    std::string name;
    auto field = [&](std::size_t first, std::size_t count) {
      if (unit.inquiry.size() < first + count) return;
      std::string text(unit.inquiry.begin() + static_cast<std::ptrdiff_t>(first),
                       unit.inquiry.begin() + static_cast<std::ptrdiff_t>(first + count));
      for (char& c : text) c = c >= 0x20 && c < 0x7F ? c : ' ';
      text.erase(text.find_last_not_of(' ') + 1);
      if (!text.empty()) name += (name.empty() ? "" : " ") + text;
    };
    field(8, 8);
    field(16, 16);
    return (name.empty() ? std::string("the device") : name) +
           " is claimed by a Windows driver, which keeps the pass-through from reaching it; "
           "disable that device (or remove its driver) in Device Manager and try again";
  }

  void tell_claimed(std::uint8_t adapter, const spti::Unit& unit) {
    if (!notice_) return;
    notice_(std::to_string(adapter) + ":" + std::to_string(unit.target) + " " + claimed_text(unit));
  }

  AspiNotice notice_;
  std::map<int, std::shared_ptr<Port>> ports_;  // by port number
  std::vector<spti::Adapter> adapters_;
  // Last: released first, so that requests still running write nothing more of the caller's
  // (they end on their own threads; releasing the manager never waits for the driver).
  DetachedRequests requests_;
};

// The port's buses from IOCTL_SCSI_GET_INQUIRY_DATA; empty when it does not answer.
std::vector<spti::Bus> buses_of(SptiSystem& system, HANDLE port) {
  std::vector<std::uint8_t> reply(4096);
  for (;;) {
    DWORD returned = 0;
    if (system.device_io_control(port, IOCTL_SCSI_GET_INQUIRY_DATA, nullptr, 0, reply.data(),
                                 static_cast<DWORD>(reply.size()), &returned)) {
      const std::size_t n = std::min<std::size_t>(returned, reply.size());
      return spti::parse_inquiry_data(std::span<const std::uint8_t>(reply.data(), n));
    }
    const DWORD error = GetLastError();
    if ((error != ERROR_INSUFFICIENT_BUFFER && error != ERROR_MORE_DATA) ||
        reply.size() >= kLargestInquiryReply) {
      return {};
    }
    reply.resize(reply.size() * 2);
  }
}

}  // namespace

std::string system_error_text(DWORD error) {
  char text[512] = {};
  const DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                 nullptr, error, 0, text, sizeof text, nullptr);
  std::string out(text, std::min<std::size_t>(n, sizeof text));
  while (!out.empty() &&
         (out.back() == '\n' || out.back() == '\r' || out.back() == ' ' || out.back() == '.')) {
    out.pop_back();
  }
  return out.empty() ? "error " + std::to_string(error) : out;
}

std::shared_ptr<SptiSystem> make_windows_spti_system() {
  return std::make_shared<WindowsSptiSystem>();
}

std::unique_ptr<AspiModule> load_spti_module(std::shared_ptr<SptiSystem> system, AspiNotice notice,
                                             std::string* why_not) {
  std::map<int, std::shared_ptr<Port>> ports;
  std::vector<std::pair<int, std::vector<spti::Bus>>> buses;
  std::string refused;  // the first port that exists and cannot be opened, and why
  int opened = 0;
  for (int n = 0; n < kSptiPorts; ++n) {
    const std::string name = port_name(n);
    const HANDLE handle = system->create_file(name.c_str());
    if (handle == INVALID_HANDLE_VALUE) {
      const DWORD error = GetLastError();
      if (refused.empty() && error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) {
        refused = name + " cannot be opened (" + system_error_text(error) + ")";
        if (error == ERROR_ACCESS_DENIED) {
          refused +=
              ": the pass-through needs administrator rights, so run the program as "
              "administrator";
        }
      }
      continue;
    }
    auto port = std::make_shared<Port>(system, handle);
    ++opened;
    auto found = buses_of(*system, handle);
    if (found.empty()) continue;  // the port closes again
    ports.emplace(n, std::move(port));
    buses.emplace_back(n, std::move(found));
  }
  std::vector<spti::Adapter> adapters = spti::number_adapters(buses);
  // ASPI numbers adapters with one byte.
  if (adapters.size() > 255) adapters.resize(255);
  if (adapters.empty()) {
    if (why_not != nullptr) {
      *why_not = !refused.empty() ? refused
                 : opened == 0    ? "no adapter (there is no port " + port_name(0) + " to " +
                                     port_name(kSptiPorts - 1) + ")"
                               : "no adapter (no port reports a bus)";
    }
    return nullptr;
  }
  return std::make_unique<SptiAspiModule>(std::move(notice), std::move(ports), std::move(adapters));
}

}  // namespace fwload
