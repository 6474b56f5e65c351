#include "app/main_dialog.h"

#include <gtest/gtest.h>

#include "app/about_dialog.h"
#include "app/entry.h"
#include "app/status_display.h"
#include "firmware/open_file.h"
#include "res/resource.h"
#include "tests/unit/fake_window.h"
#include "tools/fwgen/generator.h"

namespace fwload {
namespace {

using Outcome = FileDialogResult::Outcome;
using test::FakeMainWindow;
using test::FakeTransport;

constexpr int kCancel = 2;

class MainDialogTest : public ::testing::Test {
 protected:
  AppState app;
  FirmwareState fw;
  FakeMainWindow window;
  test::MemoryProfile profile;
  test::MemoryFileSystem fs;
  FakeTransport transport;
  MainDialog dialog{app, fw, window, profile, fs, transport};

  void put(const std::string& path, int model, bool unit_mark = true) {
    fwgen::FirmwareSpec spec;
    spec.model = model;
    spec.unit_mark = unit_mark;
    fwgen::Firmware firmware = fwgen::build_firmware(spec);
    fs.put(path, fwgen::emit_srecords(firmware, {}));
  }
  // Opens `path` through the file dialog.
  void open_with_dialog(const std::string& path) {
    window.ui.dialog_answers.push_back({Outcome::Chosen, path});
    ASSERT_TRUE(dialog.on_command(IDC_OPEN_FILE));
  }
  std::string state_text() { return window.texts[IDC_STATUS_TEXT]; }
  std::string first_line(const std::string& s) { return s.substr(0, s.find('\n')); }
};

TEST_F(MainDialogTest, InitialisationLeavesOnlyOpenAboutCancelAndCommandUsable) {
  profile.write("Option", "SW", "OFF");
  window.texts[IDC_FILE_NAME] = "old";
  EXPECT_EQ(dialog.on_init(), 1);
  EXPECT_EQ(window.texts[IDC_FILE_NAME], "");
  EXPECT_EQ(window.texts[IDC_STATUS_TEXT], "");
  EXPECT_TRUE(window.is_checked(IDC_USE_SCSI));
  EXPECT_FALSE(window.is_checked(IDC_USE_SERIAL));
  EXPECT_TRUE(window.is_checked(IDC_PRE));
  EXPECT_FALSE(window.is_checked(IDC_POST));
  EXPECT_EQ(window.lists[IDC_PORT_LIST], (std::vector<std::string>{"COM1", "COM2"}));
  EXPECT_EQ(window.selected[IDC_PORT_LIST], 0);
  EXPECT_EQ(app.SerialMode, 0);
  EXPECT_EQ(app.ImprinterSide, 0);
  EXPECT_EQ(app.AutoStartState, 1);
  // "SW" = "OFF" still gives option mode.
  EXPECT_EQ(app.OptionMode, 1);
  for (int id : {IDC_WRITE_FILE, IDC_TRANSFER, IDC_USE_SCSI, IDC_USE_SERIAL, IDC_PORT_LIST,
                 IDC_MODE_GROUP, IDC_PRE, IDC_POST, IDC_IMPRINTER_GROUP}) {
    EXPECT_FALSE(window.is_enabled(id)) << id;
  }
  for (int id : {IDC_OPEN_FILE, IDC_ABOUT, kCancel, IDC_COMMAND}) {
    EXPECT_TRUE(window.is_enabled(id)) << id;
  }
}

TEST_F(MainDialogTest, CommandLineFileIsOpenedOnceAfterTheFirstPaint) {
  app.CommandLineFile = "/fw/a.mot";
  dialog.on_init();
  dialog.on_other_message();  // before the first paint: nothing
  EXPECT_TRUE(window.posted.empty());
  dialog.on_paint();
  dialog.on_other_message();
  EXPECT_EQ(window.posted, std::vector<int>{IDC_OPEN_FILE});
  EXPECT_EQ(app.AutoStartState, 3);
  dialog.on_paint();
  dialog.on_other_message();
  dialog.on_other_message();
  EXPECT_EQ(window.posted, std::vector<int>{IDC_OPEN_FILE});
}

TEST_F(MainDialogTest, UnhandledCommandCountsAsTheFirstPaint) {
  app.CommandLineFile = "/fw/a.mot";
  dialog.on_init();
  EXPECT_FALSE(dialog.on_command(110));  // the button without an effect
  dialog.on_other_message();
  EXPECT_EQ(window.posted, std::vector<int>{IDC_OPEN_FILE});
}

TEST_F(MainDialogTest, WithoutACommandLineNothingOpensByItself) {
  dialog.on_init();
  dialog.on_paint();
  dialog.on_other_message();
  EXPECT_TRUE(window.posted.empty());
}

TEST_F(MainDialogTest, SuccessfulOpenShowsTheSummaryAndEnablesTransfer) {
  put("/fw/six.mot", 6);
  dialog.on_init();
  open_with_dialog("/fw/six.mot");
  EXPECT_EQ(window.texts[IDC_STATUS_CAPTION], "Open File : ");
  EXPECT_EQ(state_text(), "Completed." + open_summary(fw));
  EXPECT_EQ(window.texts[IDC_FILE_NAME], "six.mot");
  for (int id : {IDC_TRANSFER, IDC_WRITE_FILE, IDC_COMMAND, IDC_OPEN_FILE, IDC_ABOUT, kCancel,
                 IDC_MODE_GROUP, IDC_USE_SCSI, IDC_PRE, IDC_POST, IDC_IMPRINTER_GROUP}) {
    EXPECT_TRUE(window.is_enabled(id)) << id;
  }
  EXPECT_FALSE(window.is_enabled(IDC_USE_SERIAL));
  EXPECT_FALSE(window.is_enabled(IDC_PORT_LIST));
  EXPECT_EQ(window.ui.progress_log.back(), 0);
}

TEST_F(MainDialogTest, ImprinterControlsOnlyForModelCode6AndModeControlsFor3And4) {
  put("/fw/five.mot", 5);
  put("/fw/four.mot", 4);
  dialog.on_init();
  open_with_dialog("/fw/five.mot");
  EXPECT_FALSE(window.is_enabled(IDC_PRE));
  EXPECT_FALSE(window.is_enabled(IDC_POST));
  EXPECT_FALSE(window.is_enabled(IDC_IMPRINTER_GROUP));
  EXPECT_FALSE(window.is_enabled(IDC_USE_SERIAL));
  open_with_dialog("/fw/four.mot");
  EXPECT_TRUE(window.is_enabled(IDC_USE_SCSI));
  EXPECT_TRUE(window.is_enabled(IDC_USE_SERIAL));
  EXPECT_FALSE(window.is_enabled(IDC_PORT_LIST));  // only in serial mode
  window.checked[IDC_USE_SERIAL] = true;
  dialog.on_command(IDC_USE_SERIAL);
  EXPECT_TRUE(window.is_enabled(IDC_PORT_LIST));
  // The busy rule and the re-enable rule around a transfer keep the port list on.
  dialog.on_command(IDC_TRANSFER);
  EXPECT_TRUE(window.is_enabled(IDC_PORT_LIST));
  EXPECT_EQ(transport.serial_downloads, 1);
}

TEST_F(MainDialogTest, RadioButtonsUncheckTheirPartnerAndSetTheMode) {
  dialog.on_init();
  window.checked[IDC_POST] = true;  // the click checked "Post"
  dialog.on_command(IDC_POST);
  EXPECT_FALSE(window.is_checked(IDC_PRE));
  EXPECT_EQ(app.ImprinterSide, 1);
  window.checked[IDC_PRE] = true;
  dialog.on_command(IDC_PRE);
  EXPECT_FALSE(window.is_checked(IDC_POST));
  EXPECT_EQ(app.ImprinterSide, 0);
  // A command for a button that does not read as checked changes nothing.
  window.checked[IDC_USE_SERIAL] = false;
  dialog.on_command(IDC_USE_SERIAL);
  EXPECT_EQ(app.SerialMode, 0);
  EXPECT_TRUE(window.is_checked(IDC_USE_SCSI));
  window.checked[IDC_USE_SERIAL] = true;
  dialog.on_command(IDC_USE_SERIAL);
  EXPECT_EQ(app.SerialMode, 1);
  EXPECT_FALSE(window.is_checked(IDC_USE_SCSI));
  window.checked[IDC_USE_SCSI] = true;
  dialog.on_command(IDC_USE_SCSI);
  EXPECT_EQ(app.SerialMode, 0);
  EXPECT_FALSE(window.is_enabled(IDC_PORT_LIST));
}

TEST_F(MainDialogTest, CancelledOpenKeepsTheEarlierFile) {
  put("/fw/good.mot", 5);
  dialog.on_init();
  open_with_dialog("/fw/good.mot");
  window.ui.dialog_answers.push_back({Outcome::Cancelled, {}});
  dialog.on_command(IDC_OPEN_FILE);
  EXPECT_EQ(fw.OpenResult, 1);
  EXPECT_EQ(window.texts[IDC_FILE_NAME], "good.mot");
  EXPECT_EQ(state_text(), "Canceled.");
  EXPECT_TRUE(window.is_enabled(IDC_TRANSFER));
  EXPECT_TRUE(window.is_enabled(IDC_WRITE_FILE));
}

TEST_F(MainDialogTest, CancelledFirstOpenLeavesTransferOff) {
  dialog.on_init();
  window.ui.dialog_answers.push_back({Outcome::Cancelled, {}});
  dialog.on_command(IDC_OPEN_FILE);
  EXPECT_EQ(state_text(), "Canceled.");
  EXPECT_FALSE(window.is_enabled(IDC_TRANSFER));
  EXPECT_EQ(window.texts[IDC_FILE_NAME], "");
}

TEST_F(MainDialogTest, FailedOpenAfterAGoodFileDisablesTransfer) {
  put("/fw/good.mot", 5);
  dialog.on_init();
  open_with_dialog("/fw/good.mot");
  open_with_dialog("/fw/missing.mot");
  EXPECT_EQ(window.ui.box_lines(), std::vector<std::string>{"File_Open Error: File Open failed!!"});
  EXPECT_EQ(state_text(), "Failed.");
  EXPECT_EQ(window.texts[IDC_FILE_NAME], "");
  EXPECT_FALSE(window.is_enabled(IDC_TRANSFER));
  for (int id : {IDC_OPEN_FILE, IDC_ABOUT, kCancel, IDC_COMMAND}) {
    EXPECT_TRUE(window.is_enabled(id)) << id;
  }
  // A parse failure shows the file's name, which the open displayed before reading it.
  fs.put("/fw/bad.mot", "S5030010EC\r\n");
  open_with_dialog("/fw/bad.mot");
  EXPECT_EQ(window.texts[IDC_FILE_NAME], "bad.mot");
  EXPECT_EQ(state_text(), "Failed.");
  EXPECT_FALSE(window.is_enabled(IDC_TRANSFER));
}

TEST_F(MainDialogTest, UnattendedRunOpensTransfersAndCloses) {
  put("/fw/a.mot", 5);
  app.CommandLineFile = "/T /C /fw/a.mot";
  transport.scsi_result = 1;
  dialog.on_init();
  dialog.on_paint();
  dialog.on_other_message();
  ASSERT_EQ(window.posted, std::vector<int>{IDC_OPEN_FILE});
  dialog.on_command(IDC_OPEN_FILE);
  EXPECT_TRUE(app.CommandLineFile.empty());
  ASSERT_EQ(window.posted, (std::vector<int>{IDC_OPEN_FILE, IDC_TRANSFER}));
  EXPECT_FALSE(fw.TransferAfterOpen);
  dialog.on_command(IDC_TRANSFER);
  EXPECT_EQ(window.texts[IDC_STATUS_CAPTION], "Trans File : ");
  EXPECT_EQ(state_text(), "Completed.");
  ASSERT_EQ(window.posted, (std::vector<int>{IDC_OPEN_FILE, IDC_TRANSFER, kCancel}));
  dialog.on_command(kCancel);
  EXPECT_EQ(window.ended, 1);
  EXPECT_TRUE(fw.image.empty());
}

TEST_F(MainDialogTest, FailedUnattendedOpenDropsTransferAndClose) {
  fs.put("/fw/a.mot", "garbage\r\n");
  app.CommandLineFile = "/T /C /fw/a.mot";
  dialog.on_init();
  dialog.on_command(IDC_OPEN_FILE);
  EXPECT_FALSE(fw.TransferAfterOpen);
  EXPECT_FALSE(fw.CloseAfterTransfer);
  EXPECT_TRUE(window.posted.empty());
}

TEST_F(MainDialogTest, FailedScsiTransferReleasesTheManagerAndStillCloses) {
  put("/fw/a.mot", 5);
  app.CommandLineFile = "/C /fw/a.mot";
  dialog.on_init();
  dialog.on_command(IDC_OPEN_FILE);
  dialog.on_command(IDC_TRANSFER);
  EXPECT_EQ(state_text(), "Failed.");
  EXPECT_EQ(transport.scsi_downloads, 1);
  EXPECT_EQ(transport.releases, 1);
  EXPECT_EQ(window.posted, std::vector<int>{kCancel});
  EXPECT_TRUE(window.is_enabled(IDC_TRANSFER));
}

TEST_F(MainDialogTest, WriteFileStatesFollowTheWriteResult) {
  put("/fw/a.mot", 3);
  dialog.on_init();
  open_with_dialog("/fw/a.mot");
  window.ui.dialog_answers.push_back({Outcome::Cancelled, {}});
  dialog.on_command(IDC_WRITE_FILE);
  EXPECT_EQ(window.texts[IDC_STATUS_CAPTION], "Write File : ");
  EXPECT_EQ(state_text(), "Canceled.");
  window.ui.dialog_answers.push_back({Outcome::Chosen, "/out/a.sum"});
  dialog.on_command(IDC_WRITE_FILE);
  EXPECT_EQ(state_text(), "Completed.");
  EXPECT_FALSE(fs.text("/out/a.sum").empty());
  window.ui.dialog_answers.push_back({Outcome::Failed, {}});
  dialog.on_command(IDC_WRITE_FILE);
  EXPECT_EQ(state_text(), "Failed.");
  EXPECT_TRUE(window.is_enabled(IDC_TRANSFER));
  EXPECT_TRUE(window.is_enabled(IDC_WRITE_FILE));
}

// Snapshots the controls' states when the open or save dialog is shown, inside an operation.
class SnapshotWindow : public FakeMainWindow {
 public:
  std::map<int, bool> during;
  FileDialogResult file_dialog(const FileDialogRequest& r) override {
    during = enabled;
    return FakeMainWindow::file_dialog(r);
  }
};

TEST(MainDialogBusy, OperationsDisableEveryCommandWhileTheyRun) {
  AppState app;
  FirmwareState fw;
  SnapshotWindow window;
  test::MemoryProfile profile;
  test::MemoryFileSystem fs;
  FakeTransport transport;
  MainDialog dialog{app, fw, window, profile, fs, transport};
  fwgen::Firmware firmware = fwgen::build_firmware({});
  fs.put("/fw/a.mot", fwgen::emit_srecords(firmware, {}));
  dialog.on_init();
  window.ui.dialog_answers.push_back({Outcome::Chosen, "/fw/a.mot"});
  dialog.on_command(IDC_OPEN_FILE);
  for (int command : {IDC_OPEN_FILE, IDC_WRITE_FILE}) {
    window.ui.dialog_answers.push_back({Outcome::Cancelled, {}});
    dialog.on_command(command);
    for (int id :
         {IDC_OPEN_FILE, IDC_WRITE_FILE, IDC_TRANSFER, kCancel, IDC_USE_SCSI, IDC_USE_SERIAL,
          IDC_PORT_LIST, IDC_PRE, IDC_POST, IDC_IMPRINTER_GROUP, IDC_ABOUT, IDC_COMMAND}) {
      ASSERT_TRUE(window.during.count(id)) << command << " " << id;
      EXPECT_FALSE(window.during[id]) << command << " " << id;
    }
    // And usable again afterwards.
    EXPECT_TRUE(window.is_enabled(IDC_OPEN_FILE));
    EXPECT_TRUE(window.is_enabled(kCancel));
  }
}

TEST_F(MainDialogTest, OptionSwitchShowsOptionOn) {
  put("/fw/a.mot", 5);
  dialog.on_init();
  dialog.on_command(IDC_OPTION_SWITCH);
  EXPECT_EQ(window.texts[IDC_OPTION_TEXT], "Option = ON");
  EXPECT_TRUE(window.is_enabled(IDC_COMMAND));
  EXPECT_FALSE(window.is_enabled(IDC_WRITE_FILE));
  open_with_dialog("/fw/a.mot");
  window.enabled[IDC_WRITE_FILE] = false;
  dialog.on_command(IDC_OPTION_SWITCH);
  EXPECT_TRUE(window.is_enabled(IDC_WRITE_FILE));
}

TEST_F(MainDialogTest, CommandWithoutAScannerIsSilent) {
  dialog.on_init();
  dialog.on_command(IDC_COMMAND);
  EXPECT_EQ(transport.no_device, 1);
  EXPECT_TRUE(window.ui.boxes.empty());
  EXPECT_TRUE(window.command_runs.empty());
}

TEST_F(MainDialogTest, ACloseDuringTheCommandDiscoveryWaitsForItsEnd) {
  dialog.on_init();
  transport.found = 1;
  bool delivered = false;
  transport.during_find = [&] {
    delivered = true;
    for (int id : {IDC_OPEN_FILE, IDC_ABOUT, kCancel, IDC_COMMAND}) {
      EXPECT_FALSE(window.is_enabled(id)) << id;
    }
    EXPECT_TRUE(dialog.on_command(IDC_COMMAND));
    EXPECT_TRUE(dialog.on_command(kCancel));
    EXPECT_EQ(window.ended, 0);
    EXPECT_EQ(transport.releases, 0);
  };
  dialog.on_command(IDC_COMMAND);
  ASSERT_TRUE(delivered);
  EXPECT_TRUE(window.command_runs.empty());
  EXPECT_EQ(window.ended, 1);
  EXPECT_EQ(transport.releases, 1);
  for (int id : {IDC_OPEN_FILE, IDC_ABOUT, kCancel, IDC_COMMAND}) {
    EXPECT_TRUE(window.is_enabled(id)) << id;
  }
  EXPECT_FALSE(window.is_enabled(IDC_TRANSFER));  // as before: no file was open
}

TEST_F(MainDialogTest, CommandOnOtherProductsIsRefused) {
  dialog.on_init();
  transport.found = 1;
  transport.product = "TR-M3160fb      ";
  dialog.on_command(IDC_COMMAND);
  EXPECT_EQ(window.ui.box_lines(), std::vector<std::string>{"Scanner Error: No Target Device !!"});
  EXPECT_EQ(transport.releases, 1);
  EXPECT_TRUE(window.command_runs.empty());
}

TEST_F(MainDialogTest, CommandDialogTemplateByModelClass) {
  dialog.on_init();
  transport.found = 1;
  transport.product = "HV Scanner 2600 ";
  transport.model_class = 4;
  dialog.on_command(IDC_COMMAND);
  transport.model_class = 0;
  dialog.on_command(IDC_COMMAND);
  EXPECT_EQ(window.command_runs, (std::vector<bool>{true, false}));
  EXPECT_TRUE(window.ui.boxes.empty());
}

TEST(StatusDisplay, SummaryOnlyForACompletedOpen) {
  FakeMainWindow window;
  FirmwareState fw;
  fw.sum_value = 0x3C;
  fw.sum_address = 0x1FFFF;
  show_status(window, kStrOpenFileCaption, kStrCompleted, fw);
  EXPECT_EQ(window.texts[IDC_STATUS_TEXT],
            "Completed.\nSUM VALUE = 3C hex\nADDRESS    = 01FFFF hex");
  show_status(window, kStrWriteFileCaption, kStrCompleted, fw);
  EXPECT_EQ(window.texts[IDC_STATUS_TEXT], "Completed.");
  EXPECT_EQ(window.texts[IDC_STATUS_CAPTION], "Write File : ");
  show_status(window, kStrOpenFileCaption, kStrFailed, fw);
  EXPECT_EQ(window.texts[IDC_STATUS_TEXT], "Failed.");
}

TEST(StatusDisplay, ProgressFillsAreTruncatedFromBothEnds) {
  const PixelRect client{0, 0, 103, 12};  // inner width 101
  ProgressFills zero = progress_fills(client, 0);
  EXPECT_EQ(zero.filled, (PixelRect{1, 1, 1, 11}));
  EXPECT_EQ(zero.empty, (PixelRect{1, 1, 102, 11}));
  ProgressFills full = progress_fills(client, 100);
  EXPECT_EQ(full.filled, (PixelRect{1, 1, 102, 11}));
  EXPECT_EQ(full.empty.left, 102);
  ProgressFills half = progress_fills(client, 50);
  EXPECT_EQ(half.filled.right - half.filled.left, 50);
  EXPECT_EQ(half.empty.right - half.empty.left, 50);
  EXPECT_EQ(half.empty.left - half.filled.right, 1);  // one pixel keeps what it showed
}

TEST(StatusDisplay, WritingCountdownFromTheTimer) {
  TimerState app;
  FakeMainWindow window;
  timer_tick(app, window);
  EXPECT_TRUE(window.texts.empty());
  app.WritingCountdownActive = 1;
  app.WritingSecondsLeft = 50;
  timer_tick(app, window);
  EXPECT_EQ(window.texts[IDC_STATUS_TEXT], "Now Writing... 49 SEC");
  for (int i = 0; i < 60; ++i) timer_tick(app, window);
  EXPECT_EQ(app.WritingSecondsLeft, 0);
  EXPECT_EQ(window.texts[IDC_STATUS_TEXT], "Now Writing... 00 SEC");
  app.SerialTicksLeft = 2;
  timer_tick(app, window);
  timer_tick(app, window);
  timer_tick(app, window);
  EXPECT_EQ(app.SerialTicksLeft, 0);
}

class FakeEntry : public EntryPort {
 public:
  unsigned timer = 7;
  std::vector<std::string> calls;
  unsigned create_timer(unsigned id) override {
    calls.push_back("create " + std::to_string(id));
    return timer;
  }
  void kill_timer(unsigned id) override { calls.push_back("kill " + std::to_string(id)); }
  void message_box(std::string_view c, std::string_view t) override {
    calls.push_back(std::string(c) + ": " + std::string(t));
  }
  void run_main_dialog() override { calls.push_back("dialog"); }
};

TEST(Entry, TimerAroundTheDialog) {
  AppState app;
  app.timer.WritingCountdownActive = 1;
  FakeEntry port;
  EXPECT_EQ(program_main(app, port, std::string(300, 'x')), 1);
  EXPECT_EQ(port.calls, (std::vector<std::string>{"create 1", "dialog", "kill 7"}));
  EXPECT_EQ(app.CommandLineFile.size(), 256u);
  EXPECT_EQ(app.timer.WritingCountdownActive, 0);
}

TEST(Entry, NoTimerNoDialog) {
  AppState app;
  FakeEntry port;
  port.timer = 0;
  EXPECT_EQ(program_main(app, port, ""), 1);
  EXPECT_EQ(port.calls, (std::vector<std::string>{"create 1", "Cation: Could not create timer!"}));
  EXPECT_TRUE(app.CommandLineFile.empty());
}

TEST(About, FileRowsVersionAndScannerInfoByMode) {
  AppState app;
  FirmwareState fw;
  FakeTransport transport;
  test::FakeControls about;
  about_init(about, app, fw, transport);
  EXPECT_EQ(about.texts[IDC_ABOUT_VERSION], "5.00");
  EXPECT_EQ(about.texts[IDC_ABOUT_VERSION_INFO], "Dec.10.1999.");
  for (int id : {IDC_ABOUT_SCANNER_NAME, IDC_ABOUT_UNIT_NAME, IDC_ABOUT_FILE_VERSION}) {
    EXPECT_EQ(about.texts[id], "Not Open File !");
  }
  EXPECT_EQ(transport.info_scsi, 1);

  fw.OpenResult = 1;
  fw.scanner_name = "HVS 3600";
  fw.unit_name = "IMPRINTER";
  fw.file_version = "2.10";
  app.SerialMode = 1;
  about_init(about, app, fw, transport);
  EXPECT_EQ(about.texts[IDC_ABOUT_SCANNER_NAME], "HVS 2600/3600");
  EXPECT_EQ(about.texts[IDC_ABOUT_UNIT_NAME], "Document Printer");
  EXPECT_EQ(about.texts[IDC_ABOUT_FILE_VERSION], "2.10");
  EXPECT_EQ(transport.info_serial, 1);

  fw.unit_name = "MECHA-CONTROL";
  about_init(about, app, fw, transport);
  EXPECT_EQ(about.texts[IDC_ABOUT_SCANNER_NAME], "HVS 3600");
  EXPECT_EQ(about.texts[IDC_ABOUT_UNIT_NAME], "MECHA-CONTROL");

  EXPECT_FALSE(about_command(1003, about, transport));
  EXPECT_TRUE(about_command(2, about, transport));
  EXPECT_EQ(about.ended, 1);
  EXPECT_EQ(transport.releases, 1);
}

}  // namespace
}  // namespace fwload
