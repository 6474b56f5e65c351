// The manager over the Windows SCSI pass-through, with CreateFileA and DeviceIoControl injected:
// the ports answer with emulated scanners behind them, so that discovery, a download, a refusal,
// the scanner's sense, an abandoned request and a claimed device run through the Windows layer
// as the SCSI code uses it.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>

#include "emulator/scanner.h"
#include "firmware/open_file.h"
#include "platform/win32/spti_aspi.h"
#include "platform/win32/win32_aspi.h"
#include "scsi/commands.h"
#include "scsi/discovery.h"
#include "scsi/download.h"
#include "tests/common/inquiry_reply.h"
#include "tests/unit/test_support.h"
#include "tools/fwgen/generator.h"

namespace fwload {
namespace {

using namespace std::chrono_literals;

// Ports \\.\ScsiN: with one bus each, or none; on each bus, emulated scanners at their targets
// and, at target 0, a disk a Windows driver has claimed. As Windows does, a port opened without
// FILE_FLAG_OVERLAPPED completes its calls one at a time; one opened with it needs an
// OVERLAPPED for every call and runs each pass-through call on a thread of its own.
class FakeSpti : public SptiSystem, public std::enable_shared_from_this<FakeSpti> {
 public:
  struct Device {
    std::shared_ptr<emulator::Scanner> scanner;
    bool claimed = false;
  };
  std::map<int, std::map<int, Device>> ports;  // port -> target -> device
  DWORD refuse = 0;                            // CreateFileA's error for every port
  DWORD inquiry_wants = 0;  // the smallest buffer the inquiry data is given in (a large bus)
  std::mutex mutex;
  std::vector<std::string> opened;
  std::vector<SCSI_PASS_THROUGH_DIRECT> calls;
  std::atomic<int> closed{0};
  std::atomic<int> cancels{0};
  // Runs on the request's thread before the scanner answers; true: it has answered itself.
  std::function<bool(SptdWithSense&)> before_command;
  // A pass-through call this says yes to never ends until it is cancelled (on a port opened
  // without FILE_FLAG_OVERLAPPED: until `release`).
  std::function<bool(const SptdWithSense&)> hangs;
  std::atomic<bool> release{false};
  // Told of every pass-through call as it reaches this fake.
  std::function<void()> on_call;

  HANDLE create_file(const char* name, DWORD flags) override {
    int port = -1;
    if (refuse == 0 && std::sscanf(name, "\\\\.\\Scsi%d:", &port) == 1 && ports.count(port)) {
      std::lock_guard<std::mutex> lock(mutex);
      opened.emplace_back(name);
      overlapped_port[port] = (flags & FILE_FLAG_OVERLAPPED) != 0;
      return reinterpret_cast<HANDLE>(static_cast<INT_PTR>(0x100 + port));
    }
    SetLastError(refuse != 0 ? refuse : ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  BOOL device_io_control(HANDLE device, DWORD code, void* in, DWORD in_size, void* out,
                         DWORD out_size, DWORD* returned, OVERLAPPED* overlapped) override {
    const int port = static_cast<int>(reinterpret_cast<INT_PTR>(device)) - 0x100;
    bool overlapped_io = false;
    {
      std::lock_guard<std::mutex> lock(mutex);
      overlapped_io = overlapped_port.at(port);
    }
    if (overlapped_io && overlapped == nullptr) {
      ADD_FAILURE() << "a call without OVERLAPPED on an overlapped port";
      SetLastError(ERROR_INVALID_PARAMETER);
      return FALSE;
    }
    if (code == IOCTL_SCSI_GET_INQUIRY_DATA) {
      std::vector<test::FakeUnit> units;
      for (const auto& [target, d] : ports.at(port)) {
        units.push_back({static_cast<std::uint8_t>(target), d.claimed,
                         d.scanner ? d.scanner->config().model->product.c_str() : "Disk"});
      }
      const auto reply = test::inquiry_reply({units});
      if (reply.size() > out_size || inquiry_wants > out_size) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
      }
      std::memcpy(out, reply.data(), reply.size());
      *returned = static_cast<DWORD>(reply.size());
      if (overlapped != nullptr) SetEvent(overlapped->hEvent);
      return TRUE;
    }
    EXPECT_EQ(code, static_cast<DWORD>(IOCTL_SCSI_PASS_THROUGH_DIRECT));
    if (on_call) on_call();
    EXPECT_EQ(in, out);
    EXPECT_EQ(in_size, sizeof(SptdWithSense));
    auto& p = *static_cast<SptdWithSense*>(in);
    {
      std::lock_guard<std::mutex> lock(mutex);
      calls.push_back(p.sptd);
    }
    const bool hung = hangs && hangs(p);
    if (!overlapped_io) {
      // One call at a time on this handle.
      std::mutex* one_at_a_time = nullptr;
      {
        std::lock_guard<std::mutex> lock(mutex);
        one_at_a_time = &port_mutex[port];
      }
      std::lock_guard<std::mutex> port_lock(*one_at_a_time);
      while (hung && !release) std::this_thread::sleep_for(1ms);
      *returned = sizeof p;
      if (!hung) answer(port, p);
      return TRUE;
    }
    {
      std::lock_guard<std::mutex> lock(mutex);
      pending[overlapped] = Pending{};
      if (hung) hung_calls.insert(overlapped);
    }
    ResetEvent(overlapped->hEvent);
    if (!hung) {
      std::thread([self = shared_from_this(), port, &p, overlapped] {
        self->answer(port, p);
        self->end(overlapped, ERROR_SUCCESS, sizeof p);
      }).detach();
    }
    SetLastError(ERROR_IO_PENDING);
    return FALSE;
  }
  BOOL overlapped_result(HANDLE, OVERLAPPED* overlapped, DWORD* returned, BOOL wait) override {
    std::unique_lock<std::mutex> lock(mutex);
    if (wait) ended.wait(lock, [&] { return pending.at(overlapped).done; });
    const Pending p = pending.at(overlapped);
    if (!p.done) {
      SetLastError(ERROR_IO_INCOMPLETE);
      return FALSE;
    }
    pending.erase(overlapped);
    *returned = p.returned;
    SetLastError(p.error);
    return p.error == ERROR_SUCCESS;
  }
  BOOL cancel_io(HANDLE, OVERLAPPED* overlapped) override {
    ++cancels;
    {
      std::lock_guard<std::mutex> lock(mutex);
      auto it = pending.find(overlapped);
      if (it == pending.end() || it->second.done) return FALSE;
      it->second.cancelled = true;
    }
    if (hung_call(overlapped)) end(overlapped, ERROR_OPERATION_ABORTED, 0);
    return TRUE;
  }
  void close_handle(HANDLE) override { ++closed; }

 private:
  struct Pending {
    bool done = false;
    bool cancelled = false;
    DWORD error = ERROR_SUCCESS;
    DWORD returned = 0;
  };
  // A call no thread answers: only its cancellation ends it.
  bool hung_call(OVERLAPPED* overlapped) {
    std::lock_guard<std::mutex> lock(mutex);
    return hung_calls.count(overlapped) != 0;
  }
  void end(OVERLAPPED* overlapped, DWORD error, DWORD returned) {
    {
      std::lock_guard<std::mutex> lock(mutex);
      Pending& p = pending.at(overlapped);
      p.done = true;
      p.error = p.cancelled ? ERROR_OPERATION_ABORTED : error;
      p.returned = returned;
      hung_calls.erase(overlapped);
    }
    SetEvent(overlapped->hEvent);
    ended.notify_all();
  }
  void answer(int port, SptdWithSense& p) {
    if (before_command && before_command(p)) return;
    const Device& d = ports.at(port).at(p.sptd.TargetId);
    const emulator::Completion c = d.scanner->execute(p.sptd.Cdb, p.sptd.CdbLength,
                                                      static_cast<std::uint8_t*>(p.sptd.DataBuffer),
                                                      p.sptd.DataTransferLength);
    p.sptd.ScsiStatus = c.target_status;
    p.sptd.SenseInfoLength = 0;
    if (c.target_status == 2) {
      auto* sense = reinterpret_cast<std::uint8_t*>(&p) + p.sptd.SenseInfoOffset;
      std::memset(sense, 0, 18);
      sense[0] = 0x70;
      sense[2] = c.sense.key;
      sense[7] = 10;
      sense[12] = c.sense.asc;
      sense[13] = c.sense.ascq;
      p.sptd.SenseInfoLength = 18;
    }
  }

  std::map<int, bool> overlapped_port;
  std::map<int, std::mutex> port_mutex;
  std::map<OVERLAPPED*, Pending> pending;
  std::set<OVERLAPPED*> hung_calls;
  std::condition_variable ended;
};

// Whether `done` holds within five seconds (a request's thread lets go of its port last).
bool soon(const std::function<bool()>& done) {
  const auto deadline = std::chrono::steady_clock::now() + 5s * test::time_factor();
  while (!done() && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(1ms);
  return done();
}

std::shared_ptr<emulator::Scanner> scanner(const std::string& spec) {
  std::string error;
  auto config = emulator::parse_emulator_config(spec, &error);
  EXPECT_TRUE(config) << error;
  config->faults.latency_ms = 0;
  return std::make_shared<emulator::Scanner>(*config);
}

class Spti : public ::testing::Test {
 protected:
  std::shared_ptr<FakeSpti> spti = std::make_shared<FakeSpti>();
  std::vector<std::string> notices;
  Win32AspiLoader loader{[this](std::string_view l) { notices.emplace_back(l); }, spti};
  test::RecorderUi ui;
  TimerState timer;
  ScsiState scsi;
  ScsiIo io{ui, loader, timer};

  void SetUp() override { loader.choose_route(AspiRoute::PassThrough); }
  // Opens a synthetic firmware file for `model` into `file`.
  void open_model(int model, FirmwareState& file) {
    test::MemoryProfile profile;
    test::MemoryFileSystem fs;
    fwgen::FirmwareSpec spec;
    spec.model = model;
    fwgen::Firmware firmware = fwgen::build_firmware(spec);
    fs.put("/fw/f.mot", fwgen::emit_srecords(firmware, {}));
    FirmwareIo firmware_io{ui, profile, fs};
    std::string name = "/fw/f.mot";
    ASSERT_EQ(open_firmware_file(file, firmware_io, name), 1);
    ui.boxes.clear();
  }
  int count(emulator::Scanner& s, const std::string& prefix) {
    int n = 0;
    for (const std::string& l : s.log()) n += l.rfind(prefix, 0) == 0;
    return n;
  }
};

// Adapters are the (port, bus) pairs in port order; scan names where each device is and why a
// claimed one cannot be used; requests carry the address, direction and time-out.
TEST_F(Spti, AdaptersDevicesAndRequests) {
  auto hvs3600 = scanner("hvs3600");
  spti->ports[0][0] = {nullptr, true};
  spti->ports[2][5] = {hvs3600, false};
  spti->inquiry_wants = 10000;  // more than the first buffer: the layer asks again
  const auto devices = scan_bus(scsi, io);
  ASSERT_TRUE(devices);
  EXPECT_EQ(scsi.aspi_module->manager_name(), "Windows SCSI pass-through");
  EXPECT_EQ(scsi.aspi_module->get_support_info(), 0x0102u);
  ASSERT_EQ(devices->size(), 2u);
  EXPECT_EQ((*devices)[0].adapter, 0);
  EXPECT_EQ((*devices)[0].path, "\\\\.\\Scsi0: bus 0");
  EXPECT_EQ((*devices)[0].problem,
            "ORVEL Disk is claimed by a Windows driver, which keeps the pass-through from reaching "
            "it; disable that device (or remove its driver) in Device Manager and try again");
  EXPECT_EQ((*devices)[1].adapter, 1);
  EXPECT_EQ((*devices)[1].target, 5);
  EXPECT_TRUE((*devices)[1].scanner);
  EXPECT_EQ((*devices)[1].path, "\\\\.\\Scsi2: bus 0");
  // Nothing went to the claimed disk; the scanner's INQUIRY came in.
  ASSERT_EQ(spti->calls.size(), 1u);
  const SCSI_PASS_THROUGH_DIRECT& q = spti->calls[0];
  EXPECT_EQ(q.Length, sizeof(SCSI_PASS_THROUGH_DIRECT));
  EXPECT_EQ(q.PathId, 0);
  EXPECT_EQ(q.TargetId, 5);
  EXPECT_EQ(q.Cdb[0], 0x12);
  EXPECT_EQ(q.DataIn, SCSI_IOCTL_DATA_IN);
  EXPECT_EQ(q.TimeOutValue, 120u);
  EXPECT_EQ(q.SenseInfoOffset, offsetof(SptdWithSense, sense));
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(q.DataBuffer) % 4096, 0u);
  EXPECT_EQ(spti->opened, (std::vector<std::string>{"\\\\.\\Scsi0:", "\\\\.\\Scsi2:"}));
  scsi.aspi_module.reset();
  EXPECT_TRUE(soon([&] { return spti->closed == 2; }));
}

// A download through the pass-through: every byte committed; a file for another scanner sends
// nothing; the scanner's sense becomes its message.
TEST_F(Spti, DownloadRefusalAndSense) {
  struct Case {
    const char* spec;
    int model;
    int result;
    std::vector<std::string> boxes;
  };
  const Case cases[] = {
      {"hvs3600", 5, 1, {}},
      {"hvs2600", 5, 0, {"DownLoad Message: This file cannot use with the current scanner !"}},
      {"hvs3600:commit", 5, 0, {"Scanner Message: EEPROM write error occured in Scanner."}},
  };
  for (const Case& c : cases) {
    auto s = scanner(c.spec);
    spti->ports[0][3] = {s, false};
    FirmwareState file;
    open_model(c.model, file);
    scsi.aspi_module.reset();
    EXPECT_EQ(download_over_scsi(scsi, io, file, 0), c.result) << c.spec;
    EXPECT_EQ(ui.box_lines(), c.boxes) << c.spec;
    if (c.result == 1) {
      EXPECT_EQ(
          s->committed(0),
          std::vector<std::uint8_t>(file.image.begin(), file.image.begin() + file.end_address + 1));
      // The commit has the long time-out: saving firmware takes minutes.
      EXPECT_EQ(spti->calls.back().TimeOutValue, 900u);
      EXPECT_EQ(spti->calls.back().DataIn, SCSI_IOCTL_DATA_UNSPECIFIED);
    } else if (c.model == 5 && std::string(c.spec) == "hvs2600") {
      EXPECT_EQ(count(*s, "WRITE BUFFER"), 0);
    }
  }
}

// A request held by the driver past the bound is given up: the caller gets its block back at
// once, the late completion writes nothing of the caller's, and the port stays open until the
// driver is done.
TEST_F(Spti, AnAbandonedRequestWritesNothingLater) {
  spti->ports[0][3] = {scanner("hvs3600"), false};
  std::atomic<bool> release{false};
  ASSERT_EQ(find_scanner(scsi, io), 1);
  spti->before_command = [&](SptdWithSense& p) {
    while (!release) std::this_thread::sleep_for(1ms);
    std::memset(p.sptd.DataBuffer, 0xEE, p.sptd.DataTransferLength);
    p.sptd.ScsiStatus = 2;
    p.sense[2] = 0x06;
    p.sptd.SenseInfoLength = 18;
    return true;
  };
  scsi.request_bound_limit = 30ms * test::time_factor();
  std::uint8_t buffer[32] = {};
  ScsiRequestBlock* const block = &scsi.command_block->block;
  EXPECT_EQ(read_data(scsi, io, 3, sizeof buffer, buffer), 0x102);
  EXPECT_EQ(load_status(*block), kSsAborted);
  scsi.aspi_module.reset();
  EXPECT_EQ(spti->closed, 0);
  release = true;
  EXPECT_TRUE(soon([&] { return spti->closed == 1; }));
  for (std::uint8_t b : buffer) EXPECT_EQ(b, 0);
  EXPECT_EQ(load_status(*block), kSsAborted);
  EXPECT_EQ(block->target_status, 0);

  // A request given up before its thread has handed it to the driver is never sent: no call
  // reaches the driver once the abort has returned.
  spti->before_command = nullptr;
  ASSERT_EQ(find_scanner(scsi, io), 1);
  std::atomic<bool> given_up{false};
  std::atomic<int> late{0}, calls{0};
  spti->on_call = [&] {
    ++calls;
    if (given_up) ++late;
  };
  for (int i = 0; i < 200; ++i) {
    ScsiRequestBlock srb{};
    srb.command = kScExecScsiCmd;
    srb.target = 3;
    srb.cdb_length = 6;  // TEST UNIT READY
    given_up = false;
    scsi.aspi_module->send_command(srb);
    scsi.aspi_module->abort(srb);
    given_up = true;
    EXPECT_EQ(load_status(srb), kSsAborted);
  }
  EXPECT_EQ(late, 0) << calls << " of 200 reached the driver";
  scsi.aspi_module.reset();
  spti->on_call = nullptr;
}

// Requests on one port do not wait for each other: an INQUIRY that never ends hides no
// scanner behind it on the same port, and a WRITE BUFFER that never ends is given up and
// cancelled while the next pass's requests to that port are answered.
TEST_F(Spti, AHungRequestHoldsUpNoOtherOnItsPort) {
  auto s = scanner("hvs3600");
  spti->ports[0][1] = {scanner("hvs2600"), false};
  spti->ports[0][3] = {s, false};
  std::atomic<int> blocks{0};
  spti->hangs = [&](const SptdWithSense& p) {
    return (p.sptd.Cdb[0] == 0x12 && p.sptd.TargetId == 1) ||
           (p.sptd.Cdb[0] == 0x3B && p.sptd.DataTransferLength > 0 && blocks++ == 0);
  };
  scsi.request_bound_limit = 300ms * test::time_factor();
  FirmwareState file;
  open_model(5, file);
  EXPECT_EQ(download_over_scsi(scsi, io, file, 0), 1);
  EXPECT_TRUE(ui.boxes.empty()) << ui.box_lines()[0];
  EXPECT_EQ(s->committed(0), std::vector<std::uint8_t>(file.image.begin(),
                                                       file.image.begin() + file.end_address + 1));
  EXPECT_EQ(spti->cancels, 2);  // the INQUIRY and the first block
  scsi.aspi_module.reset();
  spti->release = true;
  EXPECT_TRUE(soon([&] { return spti->closed == 1; }));
}

// A scanner a Windows driver has claimed is not found; the user is told why, once.
TEST_F(Spti, AClaimedScannerIsNotFound) {
  spti->ports[0][3] = {scanner("hvs3600"), true};
  EXPECT_EQ(find_scanner(scsi, io), 0);
  scsi.aspi_module.reset();  // and again with the manager loaded anew
  EXPECT_EQ(find_scanner(scsi, io), 0);
  EXPECT_EQ(ui.box_lines(), (std::vector<std::string>{"Scanner Error: No Target Device !!",
                                                      "Scanner Error: No Target Device !!"}));
  ASSERT_EQ(notices.size(), 1u);
  EXPECT_EQ(notices[0].rfind("0:3 ORVEL HV Scanner 3600 is claimed by a Windows driver", 0), 0u)
      << notices[0];
  EXPECT_TRUE(spti->calls.empty());
}

// The ASPI manager is loaded first and, when it loads, used as before; only when it cannot be
// loaded does the pass-through answer; with neither, one line says why each failed.
TEST_F(Spti, TheManagerFirstThenThePassThrough) {
  spti->ports[0][3] = {scanner("hvs3600"), false};
  loader.choose_route(AspiRoute::FirstThatWorks);
  // The emulated scanner's test library stands for an installed manager.
  auto module = loader.load(FWLOAD_TEST_ASPI_DLL);
  ASSERT_TRUE(module);
  EXPECT_EQ(module->manager_name(), "ASPI manager " FWLOAD_TEST_ASPI_DLL);
  EXPECT_TRUE(spti->opened.empty());
  module.reset();  // unloaded, so that the name no longer finds it
  // No WNASPI32.DLL for this program (the test run allows no built-in one).
  module = loader.load("WNASPI32.DLL");
  ASSERT_TRUE(module);
  EXPECT_EQ(module->manager_name(), "Windows SCSI pass-through");
  module.reset();
  EXPECT_TRUE(notices.empty());

  struct Case {
    AspiRoute route;
    DWORD refuse;
    std::string line;
  };
  const std::string no_manager =
      "ASPI manager WNASPI32.DLL: " + system_error_text(ERROR_MOD_NOT_FOUND);
  const std::string no_port =
      "Windows SCSI pass-through: no adapter (there is no port \\\\.\\Scsi0: to \\\\.\\Scsi31:)";
  const Case cases[] = {
      {AspiRoute::FirstThatWorks, 0, "no SCSI manager can be used: " + no_manager + "; " + no_port},
      {AspiRoute::AspiManager, 0, no_manager},
      {AspiRoute::PassThrough, ERROR_ACCESS_DENIED,
       "Windows SCSI pass-through: \\\\.\\Scsi0: cannot be opened (" +
           system_error_text(ERROR_ACCESS_DENIED) +
           "): the pass-through needs administrator rights, so run the program as administrator"},
  };
  for (const Case& c : cases) {
    spti->ports.clear();
    spti->refuse = c.refuse;
    notices.clear();
    loader.choose_route(c.route);
    EXPECT_FALSE(loader.load("WNASPI32.DLL"));
    EXPECT_EQ(notices, std::vector<std::string>{c.line});
  }
}

}  // namespace
}  // namespace fwload
