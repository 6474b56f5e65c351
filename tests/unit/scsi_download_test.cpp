// The SCSI download and the scanner information, against the emulated scanner.
#include <gtest/gtest.h>

#include <algorithm>

#include "emulator/emulated_aspi.h"
#include "firmware/open_file.h"
#include "scsi/commands.h"
#include "scsi/discovery.h"
#include "scsi/download.h"
#include "scsi/info.h"
#include "scsi/models.h"
#include "scsi/service.h"
#include "tests/unit/test_support.h"
#include "tools/fwgen/generator.h"

namespace fwload {
namespace {

using emulator::EmulatedAspiLoader;
using emulator::Scanner;

TEST(DownloadRules, WritingSecondsPerKind) {
  const int expected[10] = {50, 50, 11, 350, 130, 16, 130, 16, 130, 50};
  for (int kind = 0; kind < 10; ++kind) {
    EXPECT_EQ(writing_seconds_for(static_cast<std::uint8_t>(kind)), expected[kind]) << kind;
  }
}

TEST(DownloadRules, SuitabilityAndBufferIds) {
  struct Case {
    const char* product;
    std::uint8_t pre, post;
    std::uint8_t kind;
    const char* name;
    int side;
    int buffer;
  };
  const Case cases[] = {
      {"HV Scanner 3600 ", 1, 1, 5, "HVS 3600", 0, 0},
      {"HV Scanner 3600 ", 1, 1, 5, "TR-M3160", 0, -1},  // kind 5 with another name
      {"HV Scanner 2600 ", 1, 1, 5, "HVS 3600", 0, -1},  // any kind 5 on a 2600
      {"HV Scanner 2600 ", 0, 0, 7, "HVS 2600", 0, 0},
      {"HV Scanner 3600 ", 0, 0, 7, "HVS 2600", 0, -1},
      {"HV Scanner 3600 ", 1, 1, 6, "HVS 3600", 0, 3},
      {"HV Scanner 3600 ", 1, 1, 6, "HVS 3600", 1, 2},
      {"HV Scanner 3600 ", 1, 0, 8, "HVS 2600", 1, -1},  // Post without a post-imprinter
      {"HV Scanner 3600 ", 1, 0, 8, "HVS 2600", 0, 3},
      {"HV Scanner 2600 ", 0, 1, 6, "HVS 3600", 1, 2},
      {"HV Scanner 2600 ", 0, 0, 6, "HVS 3600", 0, -1},  // no imprinter at all
      {"HV Scanner 3600 ", 1, 1, 2, "TR-MM730", 0, -1},
      {"HV Scanner 3600 ", 1, 1, 0, "HVS 3600", 0, -1},
      {"TR-M3160 fb     ", 1, 1, 5, "HVS 3600", 0, -1},  // other families are refused
      {"HV Scanner 36xx ", 1, 1, 5, "HVS 3600", 0, 0},   // the family is the first 13 characters
  };
  for (const Case& c : cases) {
    ScsiState s;
    s.scanner_product.assign(c.product);
    s.pre_imprinter_fitted = c.pre;
    s.post_imprinter_fitted = c.post;
    FirmwareState f;
    f.FirmwareTargetCode = c.kind;
    f.scanner_name = c.name;
    f.download_target_code = 0;
    EXPECT_EQ(download_buffer_for(s, f, c.side), c.buffer)
        << c.product << " kind " << int(c.kind) << " " << c.name << " side " << c.side;
  }
}

class Download : public ::testing::Test {
 protected:
  test::RecorderUi ui;
  test::MemoryProfile profile;
  test::MemoryFileSystem fs;
  TimerState timer;
  FirmwareState file;
  ScsiState scsi;
  std::shared_ptr<Scanner> scanner;
  std::unique_ptr<EmulatedAspiLoader> loader;

  void emulate(const std::string& spec) {
    std::string error;
    auto config = emulator::parse_emulator_config(spec, &error);
    ASSERT_TRUE(config) << error;
    config->faults.latency_ms = 0;
    // A new scanner is a new bus: the manager of the last one goes.
    scsi.aspi_module.reset();
    scanner = std::make_shared<Scanner>(*config);
    loader = std::make_unique<EmulatedAspiLoader>(scanner);
  }
  void load(int model, std::vector<std::string> args = {}) {
    fwgen::FirmwareSpec spec;
    spec.model = model;
    fwgen::EmitOptions emit;
    for (std::size_t i = 0; i < args.size(); ++i) {
      if (args[i] == "--end") spec.end = std::stoul(args[++i], nullptr, 0);
      if (args[i] == "--keep-blank") emit.skip_blank = false;
      if (args[i] == "--mark") spec.family_mark = args[++i];
    }
    fwgen::Firmware fw = fwgen::build_firmware(spec);
    fs.put("/fw/f.mot", fwgen::emit_srecords(fw, emit));
    FirmwareIo io{ui, profile, fs};
    std::string command_line = "/fw/f.mot";
    ASSERT_EQ(open_firmware_file(file, io, command_line), 1);
    ui.progress_log.clear();
  }
  int download(int side = 0) {
    ScsiIo io{ui, *loader, timer};
    return download_over_scsi(scsi, io, file, side);
  }
  int count(const std::string& prefix) {
    const auto log = scanner->log();
    return static_cast<int>(std::count_if(
        log.begin(), log.end(), [&](const std::string& l) { return l.rfind(prefix, 0) == 0; }));
  }
};

TEST_F(Download, FullSizeImageGoesIn56BlocksAndIsCommitted) {
  emulate("hvs3600");
  load(5, {"--end", "0x70000", "--keep-blank"});
  ASSERT_EQ(file.end_address, 0x6FFFFu);
  ASSERT_EQ(download(), 1);
  EXPECT_TRUE(ui.boxes.empty());
  EXPECT_EQ(count("WRITE BUFFER mode=05 id=0 offset="), 57);  // 56 blocks and the commit
  EXPECT_EQ(count("WRITE BUFFER mode=05 id=0 offset=0x000000 length=0"), 1);
  EXPECT_EQ(count("PREPARE DOWNLOAD"), 1);
  // Byte for byte what the image holds, checksum included (the scanner checked it).
  EXPECT_EQ(scanner->committed(0), file.image);
  // Progress after each block, ending at 100.
  ASSERT_EQ(ui.progress_log.size(), 56u);
  EXPECT_EQ(ui.progress_log.front(), 100 - 0x6E000 * 100 / 0x70000);
  EXPECT_EQ(ui.progress_log.back(), 100);
  EXPECT_TRUE(std::is_sorted(ui.progress_log.begin(), ui.progress_log.end()));
  // The countdown was armed for a kind 5 file and is off again.
  EXPECT_EQ(timer.WritingSecondsLeft, 16);
  EXPECT_EQ(timer.WritingCountdownActive, 0);
  EXPECT_FALSE(ui.cursor_waiting);
}

TEST_F(Download, UnitFileOf0x20000BytesGoesIn16BlocksToTheChosenImprinter) {
  emulate("hvs3600");
  load(6, {"--end", "0x20000", "--keep-blank"});
  ASSERT_EQ(download(/*side=*/1), 1);
  EXPECT_EQ(count("WRITE BUFFER mode=05 id=2 "), 17);
  EXPECT_EQ(file.download_target_code, 2);
  EXPECT_EQ(scanner->committed(2),
            std::vector<std::uint8_t>(file.image.begin(), file.image.begin() + 0x20000));
  EXPECT_EQ(timer.WritingSecondsLeft, 130);
}

TEST_F(Download, PartialLastBlockAndOnlyTheBytesUpToTheEndAddress) {
  emulate("hvs2600");
  load(7, {"--end", "0x12345"});
  ASSERT_EQ(download(), 1);
  const auto buffer = scanner->buffer(0);
  ASSERT_EQ(buffer.size(), file.end_address + 1);
  EXPECT_TRUE(std::equal(buffer.begin(), buffer.end(), file.image.begin()));
  EXPECT_EQ(count("WRITE BUFFER mode=05 id=0 offset=0x012000 length=" +
                  std::to_string(file.end_address + 1 - 0x12000)),
            1);
}

TEST_F(Download, RefusedFilesSendNothing) {
  emulate("hvs2600");
  load(5);
  EXPECT_EQ(download(), 0);
  EXPECT_EQ(ui.box_lines(),
            std::vector<std::string>{
                "DownLoad Message: This file cannot use with the current scanner !"});
  EXPECT_EQ(count("WRITE BUFFER"), 0);
  EXPECT_EQ(count("PREPARE"), 0);

  emulate("hvs3600-pre");
  load(8);
  ui.boxes.clear();
  EXPECT_EQ(download(/*side=*/1), 0);
  EXPECT_EQ(ui.boxes.size(), 1u);
  EXPECT_EQ(count("WRITE BUFFER"), 0);

  emulate("m3160fb");
  load(5, {"--mark", "TR-M3160"});
  ui.boxes.clear();
  EXPECT_EQ(download(), 0);
  EXPECT_EQ(ui.boxes.size(), 1u);
  EXPECT_EQ(count("WRITE BUFFER"), 0);
}

TEST_F(Download, NotReadyElevenTimesShowsTheSense) {
  emulate("hvs3600:notready=11");
  load(5);
  EXPECT_EQ(download(), 0);
  EXPECT_EQ(ui.box_lines(), std::vector<std::string>{"Scanner Message: Scanner is not ready."});
  EXPECT_EQ(count("TEST UNIT READY"), 11);
  EXPECT_EQ(count("WRITE BUFFER"), 0);

  emulate("hvs3600:notready=10");
  ui.boxes.clear();
  EXPECT_EQ(download(), 1);
  EXPECT_EQ(count("TEST UNIT READY"), 11);
}

TEST_F(Download, BusyElevenTimesIsScannerBusy) {
  emulate("hvs3600:busy=11");
  load(5);
  EXPECT_EQ(download(), 0);
  EXPECT_EQ(ui.box_lines(), std::vector<std::string>{"Source Message: Scanner is busy."});
}

// A stop asked for before the commit: no more blocks, no commit, nothing said; the saving
// phase is announced around the commit only.
TEST_F(Download, AStopBeforeTheCommitLeavesTheScannerAsItWas) {
  emulate("hvs3600");
  load(5);
  ui.stop_at = 5;  // one TEST UNIT READY, then four blocks
  EXPECT_EQ(download(), 0);
  EXPECT_EQ(count("WRITE BUFFER"), 4);
  EXPECT_EQ(scanner->commits(), 0);
  EXPECT_TRUE(ui.boxes.empty());
  EXPECT_TRUE(ui.saving.empty());
  ui.stop_at = -1;
  EXPECT_EQ(download(), 1);
  EXPECT_EQ(ui.saving, (std::vector<bool>{true, false}));
}

TEST_F(Download, OpenDoorStillDownloads) {
  emulate("hvs3600:door");
  load(5);
  EXPECT_EQ(download(), 1);
  EXPECT_EQ(count("TEST UNIT READY"), 1);
  EXPECT_TRUE(ui.boxes.empty());
}

TEST_F(Download, AFailedBlockRestartsThePass) {
  emulate("hvs3600:block=5@1,block=7@2");
  load(5);
  ASSERT_EQ(download(), 1);
  EXPECT_TRUE(ui.boxes.empty());
  EXPECT_EQ(count("WRITE BUFFER mode=05 id=0 offset=0x000000 length=8192"), 3);
  EXPECT_EQ(scanner->committed(0).size(), file.end_address + 1);
  // The progress went back to the start with each new pass.
  EXPECT_FALSE(std::is_sorted(ui.progress_log.begin(), ui.progress_log.end()));
}

TEST_F(Download, ABlockFailingInAllThreePassesShowsItsSense) {
  emulate("hvs3600:block=3@*");
  load(5);
  EXPECT_EQ(download(), 0);
  EXPECT_EQ(ui.box_lines(),
            std::vector<std::string>{"Scanner Message: Image transfer error occured."});
  EXPECT_EQ(count("WRITE BUFFER mode=05 id=0 offset=0x000000 length=8192"), 3);
  EXPECT_EQ(scanner->commits(), 0);
}

TEST_F(Download, FailedCommitShowsItsSense) {
  emulate("hvs3600:commit");
  load(5);
  EXPECT_EQ(download(), 0);
  EXPECT_EQ(ui.box_lines(),
            std::vector<std::string>{"Scanner Message: EEPROM write error occured in Scanner."});
  EXPECT_EQ(timer.WritingCountdownActive, 0);
}

// A block or commit answered BUSY was not taken: never success on its account.
TEST_F(Download, BusyAnswersAreFailures) {
  struct Case {
    const char* spec;
    int result;
    int passes;  // blocks at offset 0 sent
  };
  for (const Case& c : {Case{"hvs3600:busyblock=1@1", 1, 2}, Case{"hvs3600:busyblock=1@*", 0, 3},
                        Case{"hvs3600:busycommit", 0, 1}}) {
    emulate(c.spec);
    load(5);
    ui.boxes.clear();
    EXPECT_EQ(download(), c.result) << c.spec;
    EXPECT_EQ(count("WRITE BUFFER mode=05 id=0 offset=0x000000 length=8192"), c.passes) << c.spec;
    if (c.result == 1) {
      EXPECT_TRUE(ui.boxes.empty()) << c.spec;
      EXPECT_EQ(
          scanner->committed(0),
          std::vector<std::uint8_t>(file.image.begin(), file.image.begin() + file.end_address + 1))
          << c.spec;
    } else {
      EXPECT_EQ(ui.box_lines(), std::vector<std::string>{"Source Message: Scanner is busy."})
          << c.spec;
      EXPECT_TRUE(scanner->committed(0).empty()) << c.spec;
    }
  }
}

TEST_F(Download, AnImageChangedAfterItsChecksumIsRefusedByTheScanner) {
  emulate("hvs3600");
  load(5, {"--end", "0x70000", "--keep-blank"});
  file.image[0x12345] ^= 0x01;
  EXPECT_EQ(download(), 0);
  EXPECT_EQ(ui.box_lines(),
            std::vector<std::string>{"Scanner Message: Microcode downloading and saveing was "
                                     "failed. \nPlease change board."});
  EXPECT_TRUE(scanner->committed(0).empty());
}

TEST_F(Download, NoScannerNoManager) {
  emulate("hvs3600:noscanner");
  load(5);
  EXPECT_EQ(download(), 0);
  emulate("hvs3600:nomanager");
  EXPECT_EQ(download(), 0);
  EXPECT_EQ(ui.box_lines(), (std::vector<std::string>{"Scanner Error: No Target Device !!",
                                                      "Source Message: Load Library error !!"}));
}

class Info : public Download {
 protected:
  ScannerInfo info() {
    ScsiIo io{ui, *loader, timer};
    return read_scanner_info_scsi(scsi, io);
  }
};

TEST_F(Info, LevelThreeWithImprinterVersions) {
  emulate("hvs3600-pre");
  const ScannerInfo i = info();
  EXPECT_EQ(i.vendor, "ORVEL   ");
  EXPECT_EQ(i.product, "HV Scanner 3600 ");
  EXPECT_EQ(i.host, "#0");
  EXPECT_EQ(i.target, "#3");
  EXPECT_EQ(i.version_label, (std::array<std::string, 4>{
                                 "Mecha-Control Unit Version :", "Pre-Imprinter Unit Version :",
                                 "Post-Imprinter Unit Version :", ""}));
  EXPECT_EQ(i.version_value, (std::array<std::string, 4>{"1.00", "2.10", "None", ""}));
  EXPECT_EQ(count("READ VERSIONS"), 3);
}

TEST_F(Info, LevelTwoAndLevelOne) {
  emulate("m3160");
  ScannerInfo i = info();
  EXPECT_EQ(i.version_label[0], "SCSI Unit Version :");
  EXPECT_EQ(i.version_value, (std::array<std::string, 4>{"1.20", "1.21", "None", ""}));
  emulate("mm40");
  i = info();
  EXPECT_EQ(i.version_label, (std::array<std::string, 4>{"Boot Version :", "Program Version :",
                                                         "Image Table Version :", ""}));
  EXPECT_EQ(i.version_value, (std::array<std::string, 4>{"1.00", "2.10", "1.30", ""}));
}

TEST_F(Info, NoScannerSaysNoDeviceWithoutABox) {
  emulate("hvs3600:noscanner");
  const ScannerInfo i = info();
  EXPECT_EQ(i.vendor, "No device !");
  EXPECT_EQ(i.host, "No device !");
  EXPECT_EQ(i.version_label[0], "Program Version :");
  EXPECT_EQ(i.version_value[0], "No device !");
  EXPECT_EQ(i.version_label[1], "");
  EXPECT_TRUE(ui.boxes.empty());
}

TEST_F(Info, AScannerNeverReadyIsStillAskedAndTheManagerIsLoadedAfresh) {
  emulate("hvs2600:notready=30");
  scsi.aspi_module = loader->load("WNASPI32.DLL");
  const ScannerInfo i = info();
  EXPECT_EQ(count("TEST UNIT READY"), 11);
  EXPECT_EQ(count("READ VERSIONS"), 3);
  EXPECT_EQ(loader->loads(), 2);
  EXPECT_EQ(i.version_value[0], "1.10");
}

// A read the manager keeps after an abort and answers later (with 0xEE bytes, when the next
// request comes) writes into the buffer that went with its block: neither into a buffer the
// caller still owns, nor into the stack frame of a call that has returned (the sanitizer build
// runs with detect_stack_use_after_return).
TEST_F(Info, ALateAnswerToAnAbandonedReadTouchesNothingOfTheCaller) {
  emulate("hvs3600:hang=read");
  scsi.request_bound_limit = std::chrono::milliseconds(50);
  ScsiIo io{ui, *loader, timer};
  ASSERT_EQ(start_service(scsi, io), ServiceStart::Ready);
  std::uint8_t owned[24] = {};
  EXPECT_EQ(read_versions(scsi, io, 3, owned, sizeof owned), 0x102);
  EXPECT_EQ(test_unit_ready(scsi, io, 3), 0);
  EXPECT_EQ(count("LATE ANSWER"), 1);
  for (std::uint8_t b : owned) EXPECT_NE(b, 0xEE);

  emulate("hvs3600:hang=read");
  ScsiIo io2{ui, *loader, timer};
  ASSERT_EQ(start_service(scsi, io2), ServiceStart::Ready);
  read_capability(scsi, io2);  // its buffer is on the stack of a call that returns
  std::string serial;
  EXPECT_EQ(read_serial_number(scsi, io2, serial), 0);
  EXPECT_EQ(serial, "     SN-00012345");
  EXPECT_EQ(count("LATE ANSWER"), 1);
}

TEST(Emulator, ARequestIsPendingUntilTheManagerCompletesIt) {
  auto config = emulator::parse_emulator_config("hvs3600:latency=80", nullptr);
  ASSERT_TRUE(config);
  auto scanner = std::make_shared<Scanner>(*config);
  EmulatedAspiLoader loader(scanner);
  auto aspi = loader.load("WNASPI32.DLL");
  ScsiRequestBlock srb{};
  std::uint8_t reply[96] = {};
  srb.command = kScExecScsiCmd;
  srb.target = 3;
  srb.flags = kSrbDirIn;
  srb.data_length = 96;
  srb.data_buffer = reply;
  srb.cdb_length = 6;
  srb.cdb[0] = 0x12;
  srb.cdb[4] = 96;
  aspi->send_command(srb);
  EXPECT_EQ(load_status(srb), kSsPending);
  EXPECT_EQ(reply[8], 0);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (load_status(srb) == kSsPending && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  EXPECT_EQ(load_status(srb), kSsComp);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(reply) + 8, 8), "ORVEL   ");
}

// Every emulated model is found by discovery as its row of the model table: vendor, model
// class, service commands and the firmware a download may send it.
TEST(ScannerModels, EveryEmulatedModelIsFoundAsItsRow) {
  for (const emulator::Model& model : emulator::models()) {
    const ScannerModel* row = scanner_model_for(model.product);
    ASSERT_NE(row, nullptr) << model.name;
    EXPECT_EQ(row->product, model.row) << model.name;
    auto config = emulator::parse_emulator_config(model.name, nullptr);
    ASSERT_TRUE(config);
    config->faults.latency_ms = 0;
    EmulatedAspiLoader loader(std::make_shared<Scanner>(*config));
    test::RecorderUi ui;
    TimerState timer;
    ScsiIo io{ui, loader, timer};
    ScsiState scsi;
    ASSERT_EQ(find_scanner(scsi, io), 1) << model.name;
    EXPECT_EQ(scsi.scanner_vendor.view(), row->vendor) << model.name;
    EXPECT_EQ(scsi.scanner_model_class, row->model_class) << model.name;
    EXPECT_EQ(serves_command_dialog(scsi.scanner_product.view()), row->service) << model.name;
    FirmwareState file;
    file.FirmwareTargetCode = row->firmware_kind;
    file.scanner_name = row->firmware_name;
    file.download_target_code = 0;
    EXPECT_EQ(download_buffer_for(scsi, file, 0), row->family_length > 0 ? 0 : -1) << model.name;
  }
}

TEST(Emulator, ModelAndFaultList) {
  std::string error;
  auto c = emulator::parse_emulator_config(
      "hvs2600:notready=3,door,busy=2,block=4@2,commit,"
      "badadapter,supportinfo=4,noentry=send,latency=7,"
      "commit-ms=900,target=5",
      &error);
  ASSERT_TRUE(c) << error;
  EXPECT_EQ(c->model->product, "HV Scanner 2600 ");
  EXPECT_EQ(c->faults.not_ready, 3);
  EXPECT_TRUE(c->faults.door_open);
  ASSERT_EQ(c->faults.failing_blocks.size(), 1u);
  EXPECT_EQ(c->faults.failing_blocks[0].block, 4);
  EXPECT_EQ(c->faults.failing_blocks[0].pass, 2);
  EXPECT_EQ(c->faults.support_status, 4);
  EXPECT_EQ(c->faults.missing_entry, "SendASPI32Command");
  EXPECT_EQ(c->faults.commit_ms, 900);
  EXPECT_EQ(c->faults.target, 5);
  for (const char* bad : {"hvs9999", "hvs3600:door=1", "hvs3600:notready=x", "hvs3600:block=3",
                          "hvs3600:target=8", "hvs3600:frobnicate"}) {
    EXPECT_FALSE(emulator::parse_emulator_config(bad, &error)) << bad;
    EXPECT_FALSE(error.empty());
  }
}

}  // namespace
}  // namespace fwload
