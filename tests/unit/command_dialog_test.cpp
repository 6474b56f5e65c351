// The Command dialog against the emulated scanner.
#include "app/command_dialog.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "emulator/emulated_aspi.h"
#include "res/resource.h"
#include "scsi/discovery.h"
#include "scsi/service.h"
#include "tests/unit/fake_window.h"

namespace fwload {
namespace {

TEST(SerialNumberParameter, RightAlignedAndBlankPadded) {
  auto as_text = [](const std::array<std::uint8_t, 16>& p) {
    return std::string(p.begin(), p.end());
  };
  EXPECT_EQ(as_text(serial_number_parameter("ABCDE")), "           ABCDE");
  EXPECT_EQ(as_text(serial_number_parameter("0123456789ABCDEF")), "0123456789ABCDEF");
  EXPECT_EQ(as_text(serial_number_parameter("")), std::string(16, ' '));
}

TEST(CommandProducts, OnlyTheHvScanners) {
  EXPECT_TRUE(serves_command_dialog("HV Scanner 3600 "));
  EXPECT_TRUE(serves_command_dialog("HV Scanner 2600x"));
  EXPECT_FALSE(serves_command_dialog("HV Scanner 360 "));
  EXPECT_FALSE(serves_command_dialog("TR-M3160 fb     "));
}

class Command : public ::testing::Test {
 protected:
  test::FakeControls dialog;
  test::RecorderUi ui;
  TimerState timer;
  ScsiState scsi;
  std::shared_ptr<emulator::Scanner> scanner;
  std::unique_ptr<emulator::EmulatedAspiLoader> loader;
  std::unique_ptr<ScsiIo> io;

  void emulate(const std::string& spec) {
    auto config = emulator::parse_emulator_config(spec, nullptr);
    ASSERT_TRUE(config) << spec;
    if (spec.find("latency=") == std::string::npos) config->faults.latency_ms = 0;
    scanner = std::make_shared<emulator::Scanner>(*config);
    loader = std::make_unique<emulator::EmulatedAspiLoader>(scanner);
    io = std::make_unique<ScsiIo>(ScsiIo{ui, *loader, timer});
  }
  std::vector<std::string> writes() {
    std::vector<std::string> out;
    for (const std::string& l : scanner->log()) {
      if (l.rfind("VENDOR WRITE", 0) == 0) out.push_back(l);
    }
    return out;
  }
};

TEST_F(Command, OpensWithTheSerialNumber) {
  emulate("hvs3600");
  CommandDialog logic(dialog, scsi, *io, true);
  logic.on_init();
  EXPECT_EQ(dialog.ended, 0);
  EXPECT_EQ(dialog.texts[IDC_SERIAL_CURRENT], "     SN-00012345");
  EXPECT_EQ(dialog.texts[IDC_SERIAL_NEW], "");
  EXPECT_TRUE(dialog.is_enabled(IDC_SERIAL_WRITE));
  EXPECT_TRUE(ui.boxes.empty());
  EXPECT_FALSE(ui.cursor_waiting);
  const auto log = scanner->log();
  EXPECT_NE(std::find(log.begin(), log.end(), "READ data-type=93 length=32"), log.end());
}

TEST_F(Command, WithoutSerialNumberCapabilityWriteIsOff) {
  emulate("hvs3600-plain");
  CommandDialog logic(dialog, scsi, *io, true);
  logic.on_init();
  EXPECT_FALSE(dialog.is_enabled(IDC_SERIAL_WRITE));
  EXPECT_EQ(dialog.texts.count(IDC_SERIAL_CURRENT), 0u);
  const auto log = scanner->log();
  EXPECT_EQ(std::find(log.begin(), log.end(), "READ SERIAL NUMBER"), log.end());
}

TEST_F(Command, TheOtherTemplateReadsNoSerialNumber) {
  emulate("hvs3600");
  CommandDialog logic(dialog, scsi, *io, false);
  logic.on_init();
  const auto log = scanner->log();
  EXPECT_EQ(std::find(log.begin(), log.end(), "READ SERIAL NUMBER"), log.end());
  EXPECT_EQ(dialog.ended, 0);
}

TEST_F(Command, EndsAtOnceWhenTheScannerIsGoneOrNotReady) {
  // Found by the quiet discovery before the dialog, gone when the dialog looks again.
  emulate("hvs3600:gone=1");
  ASSERT_EQ(find_scanner(scsi, *io, /*quiet=*/true), 1);
  CommandDialog(dialog, scsi, *io, true).on_init();
  EXPECT_EQ(dialog.ended, 1);
  EXPECT_EQ(ui.box_lines(), std::vector<std::string>{"Scanner Error: No Target Device !!"});
  EXPECT_FALSE(scsi.aspi_module);

  ui.boxes.clear();
  dialog.ended = 0;
  emulate("hvs3600:door");
  CommandDialog(dialog, scsi, *io, true).on_init();
  EXPECT_EQ(dialog.ended, 1);
  EXPECT_TRUE(ui.boxes.empty());  // an ignorable condition ends it without a word

  dialog.ended = 0;
  emulate("hvs3600:notready=11");
  CommandDialog(dialog, scsi, *io, true).on_init();
  EXPECT_EQ(dialog.ended, 1);
  EXPECT_EQ(ui.box_lines(), std::vector<std::string>{"Scanner Message: Scanner is not ready."});

  ui.boxes.clear();
  dialog.ended = 0;
  emulate("hvs3600:notready=10");
  CommandDialog(dialog, scsi, *io, true).on_init();
  EXPECT_EQ(dialog.ended, 0);
  EXPECT_TRUE(ui.boxes.empty());
}

TEST_F(Command, RegionalDefaults) {
  emulate("hvs2600");
  CommandDialog logic(dialog, scsi, *io, true);
  logic.on_init();
  EXPECT_TRUE(logic.on_command(IDC_SET_JAPAN));
  EXPECT_TRUE(logic.on_command(IDC_SET_US));
  EXPECT_TRUE(logic.on_command(IDC_SET_EUROPE));
  EXPECT_EQ(writes(), (std::vector<std::string>{"VENDOR WRITE code=8A data=0200",
                                                "VENDOR WRITE code=8A data=0000",
                                                "VENDOR WRITE code=8A data=0100"}));
  EXPECT_TRUE(ui.boxes.empty());
  EXPECT_FALSE(ui.cursor_waiting);
}

TEST_F(Command, WriteSerialNumbers) {
  emulate("hvs3600");
  CommandDialog logic(dialog, scsi, *io, true);
  logic.on_init();
  dialog.texts[IDC_SERIAL_NEW] = "ABCDE";
  EXPECT_TRUE(logic.on_command(IDC_SERIAL_WRITE));
  EXPECT_EQ(dialog.texts[IDC_SERIAL_CURRENT], "           ABCDE");
  dialog.texts[IDC_SERIAL_NEW] = "0123456789ABCDEF";
  logic.on_command(IDC_SERIAL_WRITE);
  EXPECT_EQ(dialog.texts[IDC_SERIAL_CURRENT], "0123456789ABCDEF");
  dialog.texts[IDC_SERIAL_NEW] = "";
  logic.on_command(IDC_SERIAL_WRITE);
  EXPECT_EQ(dialog.texts[IDC_SERIAL_CURRENT], std::string(16, ' '));
  EXPECT_EQ(scanner->serial_number(), std::string(16, ' '));
  EXPECT_EQ(writes(), (std::vector<std::string>{
                          "VENDOR WRITE code=93 data=2020202020202020202020"
                          "4142434445",
                          "VENDOR WRITE code=93 data=30313233343536373839414243444546",
                          "VENDOR WRITE code=93 data=20202020202020202020202020202020"}));
  EXPECT_TRUE(ui.boxes.empty());
}

TEST_F(Command, TooLongASerialNumberIsRefusedAndNothingIsSent) {
  emulate("hvs3600");
  CommandDialog logic(dialog, scsi, *io, true);
  logic.on_init();
  for (const char* text : {"12345678901234567", "123456789012345678901234"}) {
    dialog.texts[IDC_SERIAL_NEW] = text;
    logic.on_command(IDC_SERIAL_WRITE);
  }
  EXPECT_EQ(ui.box_lines(),
            (std::vector<std::string>{"Write S/N: Length Error", "Write S/N: Length Error"}));
  EXPECT_TRUE(ui.boxes[0].task_modal);
  EXPECT_TRUE(writes().empty());
  EXPECT_FALSE(ui.cursor_waiting);
}

// What the wait of a pending request dispatches: a second click and a close. Nothing happens
// until the request has ended; then the close, with the buttons as they were.
TEST_F(Command, ACloseDuringARequestWaitsForItsEnd) {
  emulate("hvs2600:latency=5");
  CommandDialog logic(dialog, scsi, *io, true);
  logic.on_init();
  dialog.enabled[IDC_SET_EUROPE] = false;
  bool delivered = false;
  ui.on_idle = [&] {
    if (delivered) return;
    delivered = true;
    for (int id : {IDC_SET_US, IDC_SET_JAPAN, IDC_SERIAL_WRITE, 1}) {
      EXPECT_FALSE(dialog.is_enabled(id)) << id;
    }
    EXPECT_TRUE(logic.on_command(IDC_SET_JAPAN));
    EXPECT_TRUE(logic.on_command(2));
    EXPECT_EQ(dialog.ended, 0);
    EXPECT_TRUE(scsi.aspi_module);
  };
  EXPECT_TRUE(logic.on_command(IDC_SET_US));
  ui.on_idle = nullptr;
  ASSERT_TRUE(delivered);
  EXPECT_EQ(writes(), std::vector<std::string>{"VENDOR WRITE code=8A data=0000"});
  EXPECT_EQ(dialog.ended, 1);
  EXPECT_FALSE(scsi.aspi_module);
  for (int id : {IDC_SET_US, IDC_SET_JAPAN, IDC_SERIAL_WRITE, 1}) {
    EXPECT_TRUE(dialog.is_enabled(id)) << id;
  }
  EXPECT_FALSE(dialog.is_enabled(IDC_SET_EUROPE));
}

TEST_F(Command, CloseReleasesTheManager) {
  emulate("hvs3600");
  CommandDialog logic(dialog, scsi, *io, true);
  logic.on_init();
  ASSERT_TRUE(scsi.aspi_module);
  EXPECT_FALSE(logic.on_command(1003));
  EXPECT_TRUE(logic.on_command(2));
  EXPECT_EQ(dialog.ended, 1);
  EXPECT_FALSE(scsi.aspi_module);
}

}  // namespace
}  // namespace fwload
