// The ASPI layer over the Linux SCSI generic driver, with the driver calls injected: each
// request runs on its own thread, so the fake's answers may take as long as a device would.
#include "platform/posix/sg_aspi.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <mutex>
#include <set>
#include <thread>

#include "cli/console_ui.h"
#include "scsi/commands.h"
#include "tests/unit/test_support.h"

namespace fwload {
namespace {

using namespace std::chrono_literals;

class FakeSg : public SgSystem {
 public:
  std::vector<SgDevice> list;
  std::mutex mutex;
  std::vector<std::string> opened;
  std::vector<sg_io_hdr_t> calls;
  std::vector<std::vector<std::uint8_t>> cdbs;
  std::function<int(sg_io_hdr_t&)> answer = [](sg_io_hdr_t&) { return 0; };
  int deny = 0;  // errno of a refused open
  std::atomic<int> closed{0};
  std::set<int> open_fds;

  std::vector<SgDevice> devices() override { return list; }
  int open_device(const std::string& path) override {
    if (deny != 0) {
      errno = deny;
      return -1;
    }
    std::lock_guard<std::mutex> lock(mutex);
    opened.push_back(path);
    open_fds.insert(static_cast<int>(opened.size()) + 10);
    return static_cast<int>(opened.size()) + 10;
  }
  int sg_io(int fd, sg_io_hdr_t& h) override {
    {
      std::lock_guard<std::mutex> lock(mutex);
      if (open_fds.count(fd) == 0) {
        errno = EBADF;
        return -1;
      }
      calls.push_back(h);
      cdbs.emplace_back(h.cmdp, h.cmdp + h.cmd_len);
    }
    return answer(h);
  }
  void close_device(int fd) override {
    std::lock_guard<std::mutex> lock(mutex);
    open_fds.erase(fd);
    ++closed;
  }
  std::string group_of(const std::string&) override { return "disk"; }
};

ScsiRequestBlock request(std::uint8_t adapter, std::uint8_t target, std::uint8_t opcode,
                         std::uint8_t* data, std::uint32_t length, std::uint8_t flags) {
  ScsiRequestBlock srb{};
  srb.command = kScExecScsiCmd;
  srb.host_adapter = adapter;
  srb.target = target;
  srb.flags = flags;
  srb.data_length = length;
  srb.data_buffer = data;
  srb.cdb_length = opcode < 0x20 ? 6 : 10;
  srb.cdb[0] = opcode;
  srb.sense_length = 14;
  return srb;
}

// The block's final status, once the request's thread has written it.
std::uint8_t finished(ScsiRequestBlock& srb) {
  const auto deadline = std::chrono::steady_clock::now() + 5s;
  while (load_status(srb) == kSsPending && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(1ms);
  }
  return load_status(srb);
}

class SgAspiTest : public ::testing::Test {
 protected:
  std::shared_ptr<FakeSg> sg = std::make_shared<FakeSg>();
  std::vector<std::string> notices;
  void SetUp() override {
    sg->list = {{"/dev/sg0", 0, 0, 0, 0},
                {"/dev/sg3", 2, 0, 4, 0},
                {"/dev/sg4", 2, 0, 5, 1},
                {"/dev/sg5", 2, 1, 6, 0}};
  }
  std::unique_ptr<AspiModule> load() {
    return SgAspiLoader(sg, [this](std::string_view l) { notices.emplace_back(l); })
        .load("WNASPI32.DLL");
  }
  // The result shape of one request whose SG_IO gives `answer`.
  ScsiRequestBlock run(std::function<int(sg_io_hdr_t&)> answer, std::uint8_t* data = nullptr,
                       std::uint32_t length = 0, std::uint8_t direction = kSrbDirIn) {
    sg->answer = std::move(answer);
    auto aspi = load();
    ScsiRequestBlock srb = request(0, 0, 0x12, data, length, direction);
    aspi->send_command(srb);
    finished(srb);
    return srb;
  }
};

// Adapters are the (host, channel) pairs in ascending order: 0:0 -> 0, 2:0 -> 1, 2:1 -> 2.
TEST_F(SgAspiTest, AdaptersAreHostChannelPairs) {
  auto aspi = load();
  EXPECT_TRUE(aspi->has_entry("GetASPI32SupportInfo"));
  EXPECT_TRUE(aspi->has_entry("SendASPI32Command"));
  EXPECT_EQ(aspi->get_support_info(), 0x0103u);
  ScsiRequestBlock on_channel_1 = request(2, 6, 0x00, nullptr, 0, kSrbDirOut);
  aspi->send_command(on_channel_1);
  EXPECT_EQ(finished(on_channel_1), kSsComp);
  EXPECT_EQ(sg->opened, std::vector<std::string>{"/dev/sg5"});
  sg->list.clear();
  EXPECT_EQ(load()->get_support_info(), 0x0100u);
  // More adapters than one byte can number: refused as a whole, and said so.
  for (int host = 0; host < 256; ++host) sg->list.push_back({"/dev/sgX", host, 0, 0, 0});
  EXPECT_EQ(load()->get_support_info() >> 8, kSsFailedInit);
  ASSERT_EQ(notices.size(), 1u);
  EXPECT_NE(notices[0].find("256 SCSI host adapters"), std::string::npos) << notices[0];
}

TEST_F(SgAspiTest, RequestsGoToTheDeviceOfTheirAddress) {
  auto aspi = load();
  std::uint8_t reply[96] = {};
  sg->answer = [](sg_io_hdr_t& h) {
    if (h.dxfer_direction == SG_DXFER_FROM_DEV) static_cast<std::uint8_t*>(h.dxferp)[0] = 6;
    return 0;
  };
  ScsiRequestBlock srb = request(1, 4, 0x12, reply, 96, kSrbDirIn);
  aspi->send_command(srb);
  EXPECT_EQ(finished(srb), kSsComp);
  EXPECT_EQ(reply[0], 6);
  ASSERT_EQ(sg->opened, std::vector<std::string>{"/dev/sg3"});
  const sg_io_hdr_t& h = sg->calls.at(0);
  EXPECT_EQ(h.interface_id, 'S');
  EXPECT_EQ(h.dxfer_direction, SG_DXFER_FROM_DEV);
  EXPECT_EQ(h.dxfer_len, 96u);
  EXPECT_EQ(h.cmd_len, 6);
  EXPECT_EQ(h.timeout, kSgTimeoutMs);
  EXPECT_EQ(sg->cdbs.at(0)[0], 0x12);

  std::uint8_t block[8192] = {};
  block[100] = 0x5A;
  sg->answer = [](sg_io_hdr_t& h) {
    // What goes out is a copy of the caller's bytes.
    return h.dxfer_direction == SG_DXFER_TO_DEV && static_cast<std::uint8_t*>(h.dxferp)[100] == 0x5A
               ? 0
               : -1;
  };
  ScsiRequestBlock write = request(1, 4, 0x3B, block, sizeof block, kSrbDirOut);
  aspi->send_command(write);
  EXPECT_EQ(finished(write), kSsComp);
  ScsiRequestBlock commit = request(1, 4, 0x3B, nullptr, 0, kSrbDirOut);
  aspi->send_command(commit);
  finished(commit);
  EXPECT_EQ(sg->calls.at(2).dxfer_direction, SG_DXFER_NONE);
  EXPECT_EQ(sg->calls.at(2).timeout, kSgCommitTimeoutMs);
  // The device stays open between requests.
  EXPECT_EQ(sg->opened.size(), 1u);
}

TEST_F(SgAspiTest, MissingAdaptersAndTargets) {
  auto aspi = load();
  ScsiRequestBlock bad_adapter = request(3, 0, 0x00, nullptr, 0, kSrbDirOut);
  aspi->send_command(bad_adapter);
  EXPECT_EQ(load_status(bad_adapter), kSsInvalidHa);
  ScsiRequestBlock no_target = request(1, 6, 0x00, nullptr, 0, kSrbDirOut);
  aspi->send_command(no_target);
  EXPECT_EQ(load_status(no_target), kSsErr);
  EXPECT_EQ(no_target.host_status, 0x11);
  // Only LUN 0: the device at 2:0:5:1 is not target 5.
  ScsiRequestBlock lun1 = request(1, 5, 0x00, nullptr, 0, kSrbDirOut);
  aspi->send_command(lun1);
  EXPECT_EQ(load_status(lun1), kSsErr);
  EXPECT_TRUE(sg->calls.empty());
}

// Every shape a kernel gives a completed SG_IO, and the block it makes.
TEST_F(SgAspiTest, ResultShapes) {
  struct Case {
    const char* what;
    std::function<void(sg_io_hdr_t&)> kernel;
    std::uint8_t status, target_status, host_status, sense_key;
  };
  const Case cases[] = {
      {"check condition with sense",
       [](sg_io_hdr_t& h) {
         h.status = 0x02;
         h.driver_status = 0x08;
         h.sb_len_wr = 18;
         h.sbp[0] = 0x70;
         h.sbp[2] = 0x06;
         h.sbp[12] = 0x3F;
       },
       kSsErr, 2, 0, 0x06},
      {"check condition without sense", [](sg_io_hdr_t& h) { h.status = 0x02; }, kSsErr, 2, 0, 0},
      {"descriptor-format sense, as the kernel's SCSI target reports it",
       [](sg_io_hdr_t& h) {
         h.status = 0x02;
         h.driver_status = 0x08;
         h.sb_len_wr = 8;
         h.sbp[0] = 0x72;
         h.sbp[1] = 0x02;
         h.sbp[2] = 0x08;  // LOGICAL UNIT COMMUNICATION FAILURE
       },
       kSsErr, 2, 0, 0x02},
      {"busy", [](sg_io_hdr_t& h) { h.status = 0x08; }, kSsComp, 8, 0, 0},
      {"good with the sense flag alone", [](sg_io_hdr_t& h) { h.driver_status = 0x08; }, kSsComp, 0,
       0, 0},
      {"driver error", [](sg_io_hdr_t& h) { h.driver_status = 0x06; }, kSsErr, 0, 0, 0},
      {"host time-out", [](sg_io_hdr_t& h) { h.host_status = 0x03; }, kSsErr, 0, 0x0B, 0},
      {"host no connect", [](sg_io_hdr_t& h) { h.host_status = 0x01; }, kSsErr, 0, 0x11, 0},
      {"host reset", [](sg_io_hdr_t& h) { h.host_status = 0x08; }, kSsErr, 0, 0x0E, 0},
  };
  for (const Case& c : cases) {
    ScsiRequestBlock srb = run([&](sg_io_hdr_t& h) {
      c.kernel(h);
      return 0;
    });
    EXPECT_EQ(load_status(srb), c.status) << c.what;
    EXPECT_EQ(srb.target_status, c.target_status) << c.what;
    EXPECT_EQ(srb.host_status, c.host_status) << c.what;
    EXPECT_EQ(srb.sense[2], c.sense_key) << c.what;
    if (c.sense_key == 0x02) {
      EXPECT_EQ(srb.sense[12], 0x08) << c.what;  // the ASC, where the fixed format has it
    }
  }
  EXPECT_LE(sg->calls.at(0).mx_sb_len, sizeof(ScsiRequestBlock::sense));
  // The call itself failing.
  ScsiRequestBlock failed = run([](sg_io_hdr_t&) {
    errno = EIO;
    return -1;
  });
  EXPECT_EQ(load_status(failed), kSsErr);
  // A short data phase with GOOD status: what came is there, the rest stays cleared.
  std::uint8_t reply[96] = {};
  ScsiRequestBlock shorter = run(
      [](sg_io_hdr_t& h) {
        std::memset(h.dxferp, 'A', 36);
        h.resid = 60;
        return 0;
      },
      reply, sizeof reply);
  EXPECT_EQ(load_status(shorter), kSsComp);
  EXPECT_EQ(reply[35], 'A');
  EXPECT_EQ(reply[36], 0);
  // Outgoing data the device took only in part, though GOOD: a data overrun.
  ScsiRequestBlock partial = run(
      [](sg_io_hdr_t& h) {
        h.resid = 16;
        return 0;
      },
      reply, sizeof reply, kSrbDirOut);
  EXPECT_EQ(load_status(partial), kSsErr);
  EXPECT_EQ(partial.host_status, 0x12);
  EXPECT_EQ(partial.target_status, 0);
  // The request's thread never takes Ctrl-C: a handler run inside SG_IO would restart it.
  bool interrupts_blocked = false;
  run([&](sg_io_hdr_t&) {
    sigset_t mask;
    pthread_sigmask(SIG_BLOCK, nullptr, &mask);
    interrupts_blocked = sigismember(&mask, SIGINT) == 1 && sigismember(&mask, SIGTERM) == 1;
    return 0;
  });
  EXPECT_TRUE(interrupts_blocked);
}

// The wait of the SCSI code against a request that takes its time: the window (or console) is
// served meanwhile, and the bound abandons it; its late completion touches nothing of
// the caller's, and the device stays open until the kernel is done.
TEST_F(SgAspiTest, SlowAndAbandonedRequests) {
  std::atomic<int> release{0};
  sg->answer = [&](sg_io_hdr_t& h) {
    while (release == 0) std::this_thread::sleep_for(1ms);
    if (h.dxfer_direction == SG_DXFER_FROM_DEV) std::memset(h.dxferp, 0xEE, h.dxfer_len);
    h.sbp[2] = 0x06;
    h.status = 0x02;
    return 0;
  };
  test::RecorderUi ui;
  SgAspiLoader loader(sg);
  TimerState timer;
  ScsiIo io{ui, loader, timer};
  ScsiState state;
  state.aspi_module = loader.load("WNASPI32.DLL");
  state.host_adapter_id = 1;
  ui.on_idle = [&] {
    if (ui.idles == 20) release = 1;  // the device answers after a while
  };
  EXPECT_EQ(test_unit_ready(state, io, 4), 0x204);
  EXPECT_GE(ui.idles, 20);
  EXPECT_EQ(state.sense_key, 6);

  release = 0;
  ui.on_idle = nullptr;
  std::uint8_t buffer[32] = {};
  state.request_bound_limit = 30ms;
  ScsiRequestBlock* const block = &state.command_block->block;
  EXPECT_EQ(read_data(state, io, 4, sizeof buffer, buffer), 0x102);
  EXPECT_EQ(&state.command_block->block, block);  // given back at once: the layer owns its copies
  EXPECT_EQ(load_status(*block), kSsAborted);
  state.aspi_module.reset();  // released while the kernel still holds the command
  const int closed = sg->closed;
  release = 1;
  const auto deadline = std::chrono::steady_clock::now() + 5s;
  while (sg->closed == closed && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(1ms);
  }
  EXPECT_GT(sg->closed, closed);  // closed once the late completion came
  for (std::uint8_t b : buffer) EXPECT_EQ(b, 0);
  EXPECT_EQ(load_status(*block), kSsAborted);
  EXPECT_EQ(block->target_status, 0);
}

// A commit the kernel holds for a while: the console's writing countdown goes on meanwhile.
TEST_F(SgAspiTest, TheCountdownTicksWhileTheKernelHoldsTheCommit) {
  sg->answer = [](sg_io_hdr_t&) {
    std::this_thread::sleep_for(1200ms);
    return 0;
  };
  std::FILE* err = std::tmpfile();
  ASSERT_NE(err, nullptr);
  ConsoleUi ui(err, /*draw_progress=*/false);
  TimerState timer;
  ui.set_timer(&timer);
  SgAspiLoader loader(sg);
  ScsiIo io{ui, loader, timer};
  ScsiState state;
  state.aspi_module = loader.load("WNASPI32.DLL");
  state.host_adapter_id = 1;
  timer.WritingSecondsLeft = 16;
  timer.WritingCountdownActive = 1;
  std::uint8_t none = 0;
  EXPECT_EQ(write_buffer(state, io, 4, 0, &none, 0, 0), 0);
  // One tick at once and one a second later, while the request was still in the kernel.
  EXPECT_EQ(timer.WritingSecondsLeft, 14);
  std::rewind(err);
  char line[64] = {};
  ASSERT_NE(std::fgets(line, sizeof line, err), nullptr);
  EXPECT_STREQ(line, "Now Writing... 15 SEC\n");
  std::fclose(err);
}

TEST_F(SgAspiTest, ADeviceThatCannotBeOpenedSaysWhy) {
  for (int error : {EACCES, EBUSY, ENOENT}) {
    sg->deny = error;
    notices.clear();
    auto aspi = load();
    for (int i = 0; i < 2; ++i) {
      ScsiRequestBlock srb = request(0, 0, 0x12, nullptr, 0, kSrbDirIn);
      aspi->send_command(srb);
      EXPECT_EQ(load_status(srb), kSsErr);
    }
    EXPECT_TRUE(sg->calls.empty());
    // Told once per device, and only for access problems.
    ASSERT_EQ(notices.size(), error == ENOENT ? 0u : 1u) << error;
    if (error == EACCES) {
      EXPECT_EQ(notices[0],
                "/dev/sg0 cannot be opened: Permission denied; add your user to the group 'disk' "
                "that owns it and log in again, or install the udev rule from the README");
    }
    if (error == EBUSY) {
      EXPECT_NE(notices[0].find("another program holds it"), std::string::npos);
    }
    // What scan shows for that address: the device and, for an access problem, why.
    EXPECT_EQ(aspi->device_path(0, 0), "/dev/sg0");
    EXPECT_EQ(aspi->device_problem(0, 0), error == ENOENT ? "" : notices[0]);
    EXPECT_EQ(aspi->device_path(0, 1), "");
  }
}

}  // namespace
}  // namespace fwload
