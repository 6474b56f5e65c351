// The serial transport against the emulated scanner's protocol engine behind a loopback port.
#include <gtest/gtest.h>

#include <deque>

#include "emulator/serial_scanner.h"
#include "firmware/open_file.h"
#include "serial/serial.h"
#include "tests/unit/test_support.h"
#include "tools/fwgen/generator.h"

namespace fwload {
namespace {

using emulator::SerialScanner;

// A port whose other end is the scanner engine. A read that finds nothing returns at once, as
// a read that has waited its 500 ms; two of them make one timer tick.
class LoopbackPort : public SerialPort {
 public:
  struct Line {
    std::vector<std::string> calls;
    std::vector<std::uint8_t> sent;
    std::deque<std::uint8_t> inbox;
    int empty_reads = 0;
    bool cts_low = false;          // writes go nowhere and return 0 bytes
    int failing_writes = 0;        // the next N write calls fail
    int failing_frame_writes = 0;  // the next N write calls of a frame (not ENQ) fail
    // Scripted arrivals: each read returns at most the next chunk (used before the inbox).
    std::deque<std::vector<std::uint8_t>> chunks;
    // Scripted replies, each in the pieces it arrives in: every ENQ written releases the next.
    std::deque<std::vector<std::vector<std::uint8_t>>> replies_on_enq;
    bool refuse_settings = false;
    bool read_fails = false;
  };
  LoopbackPort(SerialScanner& scanner, Line& line, TimerState& timer)
      : scanner_(scanner), line_(line), timer_(timer) {}
  ~LoopbackPort() override { line_.calls.push_back("close"); }

  void setup_queues(std::size_t in, std::size_t out) override {
    line_.calls.push_back("queues " + std::to_string(in) + " " + std::to_string(out));
  }
  void set_timeouts(const SerialTimeouts& t) override {
    line_.calls.push_back("timeouts " + std::to_string(t.read_interval) + " " +
                          std::to_string(t.read_total_multiplier) + " " +
                          std::to_string(t.read_total_constant) + " " +
                          std::to_string(t.write_total_multiplier) + " " +
                          std::to_string(t.write_total_constant));
  }
  void purge(unsigned flags) override {
    line_.calls.push_back("purge " + std::to_string(flags));
    if (flags & kPurgeRxClear) {
      line_.inbox.clear();
      line_.chunks.clear();
    }
  }
  bool configure(const LineSettings& s) override {
    line_.calls.push_back("configure " + std::to_string(s.baud_rate) + " " +
                          std::to_string(s.byte_size) + " " + std::to_string(s.parity) + " " +
                          std::to_string(s.stop_bits) + " " + std::to_string(s.flow_flags));
    return !line_.refuse_settings;
  }
  void set_dtr(bool raised) override { line_.calls.push_back(raised ? "dtr on" : "dtr off"); }
  int read(std::uint8_t* buffer, std::size_t size) override {
    if (line_.read_fails) return -1;
    if (!line_.chunks.empty()) {
      std::vector<std::uint8_t>& chunk = line_.chunks.front();
      const std::size_t n = std::min(size, chunk.size());
      std::copy_n(chunk.begin(), n, buffer);
      chunk.erase(chunk.begin(), chunk.begin() + static_cast<std::ptrdiff_t>(n));
      if (chunk.empty()) line_.chunks.pop_front();
      return static_cast<int>(n);
    }
    if (line_.inbox.empty()) {
      if (++line_.empty_reads % 2 == 0 && timer_.SerialTicksLeft > 0) --timer_.SerialTicksLeft;
      return 0;
    }
    std::size_t n = 0;
    while (n < size && !line_.inbox.empty()) {
      buffer[n++] = line_.inbox.front();
      line_.inbox.pop_front();
    }
    return static_cast<int>(n);
  }
  int write(const std::uint8_t* data, std::size_t size) override {
    if (line_.failing_writes > 0) {
      --line_.failing_writes;
      return -1;
    }
    if (size > 1 && data[0] == 0x02 && line_.failing_frame_writes > 0) {
      --line_.failing_frame_writes;
      return -1;
    }
    if (line_.cts_low) return 0;
    line_.sent.insert(line_.sent.end(), data, data + size);
    if (size == 1 && data[0] == 0x05 && !line_.replies_on_enq.empty()) {
      for (auto& piece : line_.replies_on_enq.front()) line_.chunks.push_back(piece);
      line_.replies_on_enq.pop_front();
    }
    for (std::uint8_t b : scanner_.receive(std::span(data, size))) line_.inbox.push_back(b);
    return static_cast<int>(size);
  }

 private:
  SerialScanner& scanner_;
  Line& line_;
  TimerState& timer_;
};

class LoopbackDevices : public SerialDevices {
 public:
  LoopbackDevices(SerialScanner& scanner, LoopbackPort::Line& line, TimerState& timer)
      : scanner_(scanner), line_(line), timer_(timer) {}
  std::vector<std::string> opened;
  bool exists = true;
  std::unique_ptr<SerialPort> open(const std::string& name) override {
    opened.push_back(name);
    if (!exists) return nullptr;
    line_.calls.push_back("open " + name);
    return std::make_unique<LoopbackPort>(scanner_, line_, timer_);
  }

 private:
  SerialScanner& scanner_;
  LoopbackPort::Line& line_;
  TimerState& timer_;
};

std::vector<int> as_ints(std::span<const std::uint8_t> bytes) {
  return std::vector<int>(bytes.begin(), bytes.end());
}

TEST(SerialFrames, ChecksumsAndFixedFrames) {
  const std::uint8_t eleven[] = {0x60, 0x00, 0x00, 0x06, 0, 0, 0, 0, 0, 0, 0x03};
  EXPECT_EQ(XorChecksum(eleven, 11), 0x65);
  std::array<std::uint8_t, 512> out{};
  const std::uint8_t marker[6] = {};
  ASSERT_EQ(build_frame(out, 0x60, marker), 13u);
  EXPECT_EQ(as_ints(std::span(out.data(), 13)),
            (std::vector<int>{0x02, 0x60, 0, 0, 6, 0, 0, 0, 0, 0, 0, 0x03, 0x65}));
  const std::uint8_t zeros[8] = {};
  ASSERT_EQ(build_frame(out, 0x01, zeros), 15u);
  EXPECT_EQ(as_ints(std::span(out.data(), 15)),
            (std::vector<int>{0x02, 0x01, 0, 0, 8, 0, 0, 0, 0, 0, 0, 0, 0, 0x03, 0x0A}));
  std::vector<std::uint8_t> big(600);
  EXPECT_EQ(build_frame(out, 0x60, big), 0u);  // does not fit the transmit buffer
}

class Serial : public ::testing::Test {
 protected:
  test::RecorderUi ui;
  TimerState timer;
  LoopbackPort::Line line;
  std::unique_ptr<SerialScanner> scanner =
      std::make_unique<SerialScanner>(emulator::SerialConfig{});
  std::unique_ptr<LoopbackDevices> devices =
      std::make_unique<LoopbackDevices>(*scanner, line, timer);
  SerialState state;
  FirmwareState file;

  void faults(std::string_view spec, std::string_view model = "mv730") {
    std::string error;
    auto config = emulator::parse_serial_config(model, spec, &error);
    ASSERT_TRUE(config) << error;
    scanner = std::make_unique<SerialScanner>(*config);
    devices = std::make_unique<LoopbackDevices>(*scanner, line, timer);
  }
  SerialIo io(int selected = 0) {
    return SerialIo{ui, *devices, timer, PortList{selected, {"COM1", "COM2"}}};
  }
  void load(int model) {
    test::MemoryProfile profile;
    test::MemoryFileSystem fs;
    fwgen::FirmwareSpec spec;
    spec.model = model;
    fwgen::Firmware fw = fwgen::build_firmware(spec);
    fs.put("/fw/f.mot", fwgen::emit_srecords(fw, {}));
    test::RecorderUi open_ui;
    FirmwareIo fio{open_ui, profile, fs};
    std::string command_line = "/fw/f.mot";
    ASSERT_EQ(open_firmware_file(file, fio, command_line), 1);
  }
  int download() {
    SerialIo i = io();
    return SerialDownload(state, i, file);
  }
  // The frames the host sent (ENQ bytes left out).
  std::vector<std::vector<std::uint8_t>> frames() const {
    std::vector<std::vector<std::uint8_t>> out;
    std::size_t i = 0;
    while (i < line.sent.size()) {
      if (line.sent[i] != 0x02) {
        ++i;
        continue;
      }
      const std::size_t n = (line.sent[i + 3] << 8) | line.sent[i + 4];
      out.emplace_back(line.sent.begin() + static_cast<std::ptrdiff_t>(i),
                       line.sent.begin() + static_cast<std::ptrdiff_t>(i + n + 7));
      i += n + 7;
    }
    return out;
  }
};

TEST_F(Serial, PortCycleWithTheFixedSettings) {
  SerialIo i = io();
  ASSERT_EQ(OpenSerialPort(state, i), 1);
  EXPECT_EQ(state.portOpen, 1);
  EXPECT_EQ(state.portName, "COM1");
  CloseSerialPort(state);
  EXPECT_EQ(state.portOpen, 0);
  EXPECT_EQ(line.calls,
            (std::vector<std::string>{
                "open COM1", "queues 1024 512", "timeouts 4294967295 0 500 0 500", "purge 15",
                "configure 19200 8 2 0 2", "dtr on", "dtr off", "purge 15", "close"}));
  // Closing again does nothing harmful.
  EXPECT_EQ(CloseSerialPort(state), 1);
  EXPECT_EQ(line.calls.size(), 9u);
}

TEST_F(Serial, PortChoiceFromTheList) {
  for (const auto& [selected, name] : std::vector<std::pair<int, std::string>>{
           {-1, "COM1"}, {0, "COM1"}, {1, "COM2"}, {2, "COM1"}, {7, "COM1"}}) {
    SerialIo i = io(selected);
    ResetSerialSettings(state);
    ASSERT_EQ(OpenSerialPort(state, i), 1);
    EXPECT_EQ(state.portName, name) << selected;
    CloseSerialPort(state);
  }
}

TEST_F(Serial, RefusedSettingsOrAMissingPortLeaveNothingOpen) {
  line.refuse_settings = true;
  SerialIo i = io();
  EXPECT_EQ(OpenSerialPort(state, i), 0);
  EXPECT_EQ(state.portOpen, 0);
  EXPECT_FALSE(state.portHandle);
  EXPECT_EQ(line.calls.back(), "close");
  devices->exists = false;
  EXPECT_EQ(OpenSerialPort(state, i), 0);
  EXPECT_FALSE(state.portHandle);
}

TEST_F(Serial, DownloadSendsTheWholeImageFrameByFrame) {
  load(4);
  ASSERT_EQ(download(), 1);
  EXPECT_TRUE(ui.boxes.empty());
  ASSERT_TRUE(scanner->image_complete());
  EXPECT_EQ(scanner->image(),
            std::vector<std::uint8_t>(file.image.begin(), file.image.begin() + 0x20000));
  EXPECT_EQ(scanner->unit_code(), 1);  // MECHA-CONTROL
  const auto f = frames();
  ASSERT_EQ(f.size(), 514u);
  EXPECT_EQ(as_ints(f.front()),
            (std::vector<int>{0x02, 0x60, 0, 0, 6, 1, 0, 0, 0, 0, 0, 0x03, 0x64}));
  EXPECT_EQ(f.back(), f.front());
  const auto& last = f[512];
  ASSERT_EQ(last.size(), 269u);
  EXPECT_EQ(as_ints(std::span(last.data() + 5, 6)),
            (std::vector<int>{1, 0, 0x00, 0x01, 0xFF, 0x00}));
  EXPECT_TRUE(std::equal(last.begin() + 11, last.begin() + 267, file.image.begin() + 0x1FF00));
  EXPECT_EQ(last[267], 0x03);
  EXPECT_EQ(last[268], XorChecksum(last.data() + 1, 267));
  // Progress after each acknowledged block, up to 100.
  EXPECT_EQ(ui.progress_log.back(), 100);
  EXPECT_TRUE(std::is_sorted(ui.progress_log.begin(), ui.progress_log.end()));
  EXPECT_EQ(ui.progress_log.front(), 100 - (0x20000 - 256) * 100 / 0x20000);
  EXPECT_EQ(state.portOpen, 0);
  EXPECT_EQ(line.calls.back(), "close");
  EXPECT_EQ(ui.saving, (std::vector<bool>{true, false}));  // around the end frame only
}

// A stop asked for before the end frame: no more frames, the port closed, nothing said.
TEST_F(Serial, AStopBeforeTheEndFrameLeavesTheScannerAsItWas) {
  load(4);
  ui.stop_at = 10;  // the start frame and 9 data frames go out
  EXPECT_EQ(download(), 0);
  EXPECT_EQ(frames().size(), 10u);
  EXPECT_FALSE(scanner->image_complete());
  EXPECT_TRUE(ui.boxes.empty());
  EXPECT_TRUE(ui.saving.empty());
  EXPECT_EQ(state.portOpen, 0);
}

TEST_F(Serial, BusyPollsAreRepeated) {
  faults("busy=40,writing=25");
  load(3);
  ASSERT_EQ(download(), 1);
  EXPECT_GE(scanner->polls(), 514 + 40 + 25);
  EXPECT_EQ(scanner->unit_code(), 2);  // NUMBERING
}

TEST_F(Serial, EachFailureHasItsMessageAndClosesThePort) {
  struct Case {
    std::string spec;
    std::string caption, text;
  };
  const std::vector<Case> cases = {
      {"silent", "Serial Communication Error", "No Scanner !"},
      {"nostx", "Serial Communication Error", "No Scanner !"},
      {"biglen", "Serial Communication Error", "No Scanner !"},
      {"nak=0", "Serial Communication Error", "Sending Start code failed !"},
      {"nak=100", "Serial Communication Error", "Sending Intermediate code failed !"},
      {"nak=513", "Serial Communication Error", "Sending End code failed !"},
      {"error=0", "Serial Communication Error", "Sending Start code failed !"},
      {"error=7", "Serial Communication Error", "Sending Intermediate code failed !"},
      {"error=513", "Serial Communication Error", "Sending End code failed !"},
  };
  load(4);
  for (const Case& c : cases) {
    faults(c.spec);
    ui.boxes.clear();
    line.calls.clear();
    EXPECT_EQ(download(), 0) << c.spec;
    EXPECT_EQ(ui.box_lines(), std::vector<std::string>{c.caption + ": " + c.text}) << c.spec;
    EXPECT_EQ(state.portOpen, 0) << c.spec;
    EXPECT_EQ(line.calls.back(), "close") << c.spec;
    EXPECT_FALSE(ui.cursor_waiting);
  }
}

// A file for another scanner is refused before the port is opened: the scanner would take
// the first 0x20000 bytes of any file as its own firmware.
TEST_F(Serial, AFileForAnotherScannerNeverReachesTheLine) {
  for (int model : {1, 2, 5, 6, 7, 8}) {
    load(model);
    ui.boxes.clear();
    line.calls.clear();
    EXPECT_EQ(download(), 0) << model;
    EXPECT_EQ(ui.box_lines(), std::vector<std::string>{"DownLoad Message: This file cannot use "
                                                       "with the current scanner !"})
        << model;
    EXPECT_TRUE(line.calls.empty()) << model;
    EXPECT_EQ(state.frames_sent, 0u) << model;
  }
}

TEST_F(Serial, OpenFailureHasTheLowerCaseCaption) {
  load(4);
  devices->exists = false;
  EXPECT_EQ(download(), 0);
  EXPECT_EQ(ui.box_lines(),
            std::vector<std::string>{"Serial Communication error: Serial Open Error"});
}

TEST_F(Serial, NoHandshakeMeansNoScanner) {
  load(4);
  line.cts_low = true;
  EXPECT_EQ(download(), 0);
  EXPECT_EQ(ui.box_lines(), std::vector<std::string>{"Serial Communication Error: No Scanner !"});
}

TEST_F(Serial, AFailingWriteCallIsRepeatedWithItsMessage) {
  load(4);
  line.failing_frame_writes = 1;
  ASSERT_EQ(download(), 1);
  EXPECT_EQ(ui.box_lines(),
            std::vector<std::string>{"Serial Communication Error: Sending Startcode failed !"});
  EXPECT_TRUE(scanner->image_complete());
}

TEST_F(Serial, ThreeFailingWriteCallsGiveTheFrameUp) {
  load(4);
  line.failing_frame_writes = 3;
  EXPECT_EQ(download(), 0);
  EXPECT_EQ(ui.box_lines(),
            (std::vector<std::string>{"Serial Communication Error: Sending Startcode failed !",
                                      "Serial Communication Error: Sending Startcode failed !",
                                      "Serial Communication Error: Sending Startcode failed !",
                                      "Serial Communication Error: Sending Start code failed !"}));
  EXPECT_EQ(state.portOpen, 0);
}

TEST_F(Serial, TheIdentityRequestRetriesItsWriteToo) {
  line.failing_frame_writes = 1;
  SerialIo i = io();
  const ScannerRows rows = ReadScannerInfoSerial(state, i);
  EXPECT_EQ(ui.box_lines(),
            std::vector<std::string>{"Serial Communication Error: Sending Startcode error !"});
  EXPECT_EQ(rows.vendor, "Q.T.R.");
}

TEST_F(Serial, IdentityOfTheSupportedModel) {
  SerialIo i = io(1);
  const ScannerRows rows = ReadScannerInfoSerial(state, i);
  EXPECT_EQ(rows.vendor, "Q.T.R.");
  EXPECT_EQ(rows.product, "TR-MV730");
  EXPECT_EQ(rows.version_label, (std::array<std::string, 4>{"Mecha-Control Unit Version :",
                                                            "Imprinter Unit Version :", "", ""}));
  EXPECT_EQ(rows.version_value, (std::array<std::string, 4>{"1.23", "2.01", "", ""}));
  EXPECT_EQ(rows.host_label, std::optional<std::string>("Serial port ID :"));
  EXPECT_EQ(rows.host, "COM2");
  EXPECT_EQ(rows.target_label, std::optional<std::string>(""));
  EXPECT_EQ(rows.target, "");
  EXPECT_TRUE(ui.boxes.empty());
  EXPECT_EQ(state.portOpen, 0);
  const auto f = frames();
  ASSERT_EQ(f.size(), 1u);
  EXPECT_EQ(f[0].back(), 0x0A);
}

TEST_F(Serial, IdentityOfAnotherModelAndWithoutImprinter) {
  faults("noimprinter", "other");
  SerialIo i = io();
  const ScannerRows rows = ReadScannerInfoSerial(state, i);
  EXPECT_EQ(rows.vendor, "Undefined !");
  EXPECT_EQ(rows.product, "Undefined !");
  EXPECT_EQ(rows.version_value[0], "1.23");
  EXPECT_EQ(rows.version_value[1], "None");
}

TEST_F(Serial, IdentityFailures) {
  struct Case {
    std::string spec;
    bool port;
    std::string text;
  };
  for (const Case& c : std::vector<Case>{{"", false, "Serial Open Error !"},
                                         {"silent", true, "No scanner !"},
                                         {"shortid=4", true, "Can't get Version !"}}) {
    faults(c.spec);
    devices->exists = c.port;
    ui.boxes.clear();
    SerialIo i = io();
    const ScannerRows rows = ReadScannerInfoSerial(state, i);
    EXPECT_EQ(ui.box_lines(), std::vector<std::string>{"Serial Communication Error: " + c.text});
    EXPECT_EQ(rows.vendor, "No device !");
    EXPECT_EQ(rows.product, "No device !");
    EXPECT_EQ(rows.version_value,
              (std::array<std::string, 4>{"No device !", "No device !", "", ""}));
    EXPECT_EQ(rows.host_label, std::optional<std::string>("Serial port ID :"));
    EXPECT_EQ(state.portOpen, 0);
  }
}

TEST_F(Serial, AShortIdentityReplyShowsNothingOfAnEarlierOne) {
  SerialIo i = io();
  ASSERT_EQ(ReadScannerInfoSerial(state, i).version_value[0], "1.23");
  // The same state (its reply buffer) asks a scanner whose reply stops after 8 data bytes.
  faults("shortid=8");
  SerialIo j = io();
  const ScannerRows rows = ReadScannerInfoSerial(state, j);
  EXPECT_EQ(ui.box_lines(),
            std::vector<std::string>{"Serial Communication Error: Can't get Version !"});
  EXPECT_EQ(rows.vendor, "No device !");
  EXPECT_EQ(rows.version_value, (std::array<std::string, 4>{"No device !", "No device !", "", ""}));
  // Past the short reply's ETX and checksum, none of the earlier reply's version bytes remain.
  for (std::size_t k = 5 + 10; k < 5 + 16; ++k) EXPECT_EQ(state.reply[k], 0) << k;
}

TEST_F(Serial, ASilentLineServesTheWindowAfterEveryRead) {
  faults("silent");
  SerialIo i = io();
  ASSERT_EQ(OpenSerialPort(state, i), 1);
  EXPECT_EQ(PollScannerStatus(state, i), 0);
  EXPECT_EQ(line.empty_reads, 11);
  EXPECT_GE(ui.pumps, line.empty_reads);
  // A reply that stops after its first bytes: each empty read of the rest is served too.
  ui.pumps = 0;
  line.empty_reads = 0;
  line.replies_on_enq = {{{0x02, 0x00, 0x00, 0x00, 0x03}}};
  EXPECT_EQ(PollScannerStatus(state, i), 0);
  EXPECT_GE(ui.pumps, line.empty_reads);
  EXPECT_GT(line.empty_reads, 0);
  CloseSerialPort(state);
}

TEST_F(Serial, AnAcknowledgementThatNeverComesEndsWithTheTicks) {
  load(2);
  faults("");
  SerialIo i = io();
  ASSERT_EQ(OpenSerialPort(state, i), 1);
  timer.SerialTicksLeft = 4;
  // Nothing was sent, so nothing is acknowledged: the wait ends when the ticks run out.
  EXPECT_EQ(WaitForAcknowledge(state, i), 0);
  EXPECT_EQ(timer.SerialTicksLeft, 0);
  EXPECT_EQ(line.empty_reads, 8);
  CloseSerialPort(state);
}

TEST_F(Serial, AReplyIsCompletedToItsLengthAndTheRestIsDiscarded) {
  faults("silent");  // the replies below are scripted
  SerialIo i = io();
  ASSERT_EQ(OpenSerialPort(state, i), 1);
  line.replies_on_enq = {
      {{0x02, 0x00, 0x00, 0x00, 0x03}, {'a', 'b'}, {'c', 0x03, 0x11, 0x99, 0x98}}};
  ASSERT_EQ(PollScannerStatus(state, i), 1);
  EXPECT_EQ(as_ints(std::span(state.reply.data(), 10)),
            (std::vector<int>{0x02, 0x00, 0x00, 0x00, 0x03, 'a', 'b', 'c', 0x03, 0x11}));
  EXPECT_EQ(state.reply[10], 0);
  EXPECT_TRUE(line.chunks.empty());  // 0x99 0x98 were discarded

  // A first read of fewer than five bytes is completed by ten more.
  state.reply.fill(0);
  line.replies_on_enq = {{{0x02, 0x00}, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}}};
  ASSERT_EQ(PollScannerStatus(state, i), 1);
  EXPECT_EQ(state.reply[11], 10);
  EXPECT_EQ(state.reply[12], 0);
  EXPECT_TRUE(line.chunks.empty());

  // A busy reply is polled again; an error status ends the poll with 1.
  line.replies_on_enq = {{{0x02, 0x80, 0x00, 0x00, 0x00, 0x03, 0x83}},
                         {{0x02, 0x20, 0x00, 0x00, 0x00, 0x03, 0x23}},
                         {{0x02, 0x41, 0x00, 0x00, 0x00, 0x03, 0x42}}};
  const std::size_t enq_before = line.sent.size();
  EXPECT_EQ(PollScannerStatus(state, i), 1);
  EXPECT_EQ(state.reply[1], 0x41);
  EXPECT_EQ(line.sent.size() - enq_before, 3u);  // three ENQ
  CloseSerialPort(state);
}

TEST_F(Serial, ALineThatFailsEndsTheWaits) {
  SerialIo i = io();
  ASSERT_EQ(OpenSerialPort(state, i), 1);
  line.read_fails = true;
  timer.SerialTicksLeft = 4;
  EXPECT_EQ(WaitForAcknowledge(state, i), 0);
  EXPECT_EQ(timer.SerialTicksLeft, 4);  // at once, not after the time-out
  EXPECT_EQ(PollScannerStatus(state, i), 0);
  CloseSerialPort(state);
}

}  // namespace
}  // namespace fwload
