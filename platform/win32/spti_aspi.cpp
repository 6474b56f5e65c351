#include "platform/win32/spti_aspi.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>
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
constexpr DWORD kInquiryDataWaitMs = 10'000;
constexpr DWORD kCancelWaitMs = 1'000;

class WindowsSptiSystem : public SptiSystem {
 public:
  WindowsSptiSystem() {
    // CancelIoEx came with Windows Vista; without it a given-up call runs to the driver's own
    // time-out, still without holding up any other.
    if (HMODULE kernel = GetModuleHandleA("kernel32.dll")) {
      cancel_io_ex_ = reinterpret_cast<CancelIoExFn>(
          reinterpret_cast<void*>(GetProcAddress(kernel, "CancelIoEx")));
    }
  }
  HANDLE create_file(const char* name, DWORD flags) override {
    return CreateFileA(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                       nullptr, OPEN_EXISTING, flags, nullptr);
  }
  BOOL device_io_control(HANDLE device, DWORD code, void* in, DWORD in_size, void* out,
                         DWORD out_size, DWORD* returned, OVERLAPPED* overlapped) override {
    return DeviceIoControl(device, code, in, in_size, out, out_size, returned, overlapped);
  }
  BOOL overlapped_result(HANDLE device, OVERLAPPED* overlapped, DWORD* returned,
                         BOOL wait) override {
    return GetOverlappedResult(device, overlapped, returned, wait);
  }
  BOOL cancel_io(HANDLE device, OVERLAPPED* overlapped) override {
    return cancel_io_ex_ != nullptr ? cancel_io_ex_(device, overlapped) : FALSE;
  }
  void close_handle(HANDLE device) override { CloseHandle(device); }

 private:
  using CancelIoExFn = BOOL(WINAPI*)(HANDLE, LPOVERLAPPED);
  CancelIoExFn cancel_io_ex_ = nullptr;
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

// One overlapped call: its OVERLAPPED and event, which the system may use until it has ended.
struct OverlappedCall {
  OverlappedCall() { overlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr); }
  ~OverlappedCall() {
    if (overlapped.hEvent != nullptr) CloseHandle(overlapped.hEvent);
  }
  OverlappedCall(const OverlappedCall&) = delete;
  OverlappedCall& operator=(const OverlappedCall&) = delete;
  OVERLAPPED overlapped{};
};

struct SptiRequest : DetachedRequest {
  SptiRequest(ScsiRequestBlock& srb, std::shared_ptr<Port> p)
      : DetachedRequest(srb, kDataAlignment), port(std::move(p)) {}
  // Cancels the call in the driver once it is there (the caller has given the request up).
  void cancel() {
    std::lock_guard<std::mutex> lock(io_mutex);
    cancelled = true;
    if (in_driver) port->system->cancel_io(port->handle, &call.overlapped);
  }
  SptdWithSense pass{};
  std::shared_ptr<Port> port;
  OverlappedCall call;
  std::mutex io_mutex;
  bool in_driver = false;
  bool cancelled = false;
};

void run_request(const std::shared_ptr<SptiRequest>& r) {
  SptiSystem& system = *r->port->system;
  const HANDLE handle = r->port->handle;
  DWORD returned = 0;
  BOOL ok = FALSE;
  DWORD error = 0;
  if (r->call.overlapped.hEvent == nullptr) {
    error = GetLastError();
  } else {
    bool pending = false;
    {
      // A request given up before it reached the driver is never sent; one given up while it
      // is being handed over is cancelled there (cancel() waits for the hand-over).
      std::lock_guard<std::mutex> lock(r->io_mutex);
      if (r->cancelled) {
        error = ERROR_OPERATION_ABORTED;
      } else {
        ok = system.device_io_control(handle, IOCTL_SCSI_PASS_THROUGH_DIRECT, &r->pass,
                                      sizeof r->pass, &r->pass, sizeof r->pass, &returned,
                                      &r->call.overlapped);
        error = ok ? 0 : GetLastError();
        pending = !ok && error == ERROR_IO_PENDING;
        r->in_driver = pending;
      }
    }
    if (pending) {
      // Bounded by the request's own time-out in the driver, or by its cancellation.
      ok = system.overlapped_result(handle, &r->call.overlapped, &returned, TRUE);
      error = ok ? 0 : GetLastError();
      std::lock_guard<std::mutex> lock(r->io_mutex);
      r->in_driver = false;
    }
  }
  const SCSI_PASS_THROUGH_DIRECT& sptd = r->pass.sptd;
  // The driver sets DataTransferLength to what was moved; a short incoming data phase is no
  // error.
  const std::size_t moved =
      ok ? std::min<std::size_t>(sptd.DataTransferLength, r->data().size()) : 0;
  const std::size_t sense = std::min<std::size_t>(sptd.SenseInfoLength, sizeof r->pass.sense);
  r->end(moved, [&](ScsiRequestBlock& srb) {
    spti::Outcome outcome;
    outcome.call_ok = ok != FALSE;
    outcome.error = error;
    outcome.scsi_status = sptd.ScsiStatus;
    outcome.sense = std::span<const std::uint8_t>(r->pass.sense, sense);
    outcome.data_out = !r->data_in() && !r->data().empty();
    outcome.sent = r->data().size();
    outcome.taken = moved;
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
    // Every adapter comes from a port that answered, and that port stays open.
    auto r = std::make_shared<SptiRequest>(srb, ports_.at(adapter.port));
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
    requests_.start(srb, r, [r] { run_request(r); });
  }

  // The request is given up at once: its block is the caller's again, ended as aborted, and
  // nothing is written into it or its data when the driver finishes; the driver is asked to
  // cancel it.
  void abort(ScsiRequestBlock& srb) override {
    if (auto r = requests_.abandon(srb)) static_cast<SptiRequest&>(*r).cancel();
  }

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
  // Each request moves its data through a copy of its own (DetachedRequest).
  bool copies_data() const override { return true; }

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

// One IOCTL_SCSI_GET_INQUIRY_DATA call and the buffer it fills.
struct InquiryCall : OverlappedCall {
  std::vector<std::uint8_t> reply;
};

// The port's IOCTL_SCSI_GET_INQUIRY_DATA reply; empty when it does not answer. A driver answers
// it from what it found on its buses, at once; a call that neither ends within the bound nor
// lets itself be cancelled is left to the driver with its memory.
std::vector<std::uint8_t> inquiry_data_of(SptiSystem& system, HANDLE port) {
  DWORD size = 4096;
  for (;;) {
    auto call = std::make_unique<InquiryCall>();
    if (call->overlapped.hEvent == nullptr) return {};
    call->reply.resize(size);
    DWORD returned = 0;
    BOOL ok = system.device_io_control(port, IOCTL_SCSI_GET_INQUIRY_DATA, nullptr, 0,
                                       call->reply.data(), size, &returned, &call->overlapped);
    DWORD error = ok ? 0 : GetLastError();
    if (!ok && error == ERROR_IO_PENDING) {
      if (WaitForSingleObject(call->overlapped.hEvent, kInquiryDataWaitMs) != WAIT_OBJECT_0) {
        system.cancel_io(port, &call->overlapped);
        if (WaitForSingleObject(call->overlapped.hEvent, kCancelWaitMs) != WAIT_OBJECT_0) {
          static_cast<void>(call.release());
          return {};
        }
      }
      ok = system.overlapped_result(port, &call->overlapped, &returned, FALSE);
      error = ok ? 0 : GetLastError();
    }
    if (ok) {
      call->reply.resize(std::min<DWORD>(returned, size));
      return std::move(call->reply);
    }
    if ((error != ERROR_INSUFFICIENT_BUFFER && error != ERROR_MORE_DATA) ||
        size >= kLargestInquiryReply) {
      return {};
    }
    size *= 2;
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
    const HANDLE handle = system->create_file(name.c_str(), FILE_FLAG_OVERLAPPED);
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
    const std::vector<std::uint8_t> reply = inquiry_data_of(*system, handle);
    bool too_many = false;
    auto found = spti::parse_inquiry_data(reply, &too_many);
    if (too_many) {
      if (notice) {
        notice(name + " reports more than " + std::to_string(spti::kMostUnitsPerPort) +
               " units in its inquiry data; the port is not used");
      }
      continue;
    }
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
