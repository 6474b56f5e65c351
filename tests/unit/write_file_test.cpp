#include "firmware/write_file.h"

#include <gtest/gtest.h>

#include "firmware/open_file.h"
#include "tests/unit/test_support.h"
#include "tools/fwgen/generator.h"

namespace fwload {
namespace {

using Outcome = FileDialogResult::Outcome;

TEST(ProposedSumName, MotEndingInAnyCaseBecomesSum) {
  EXPECT_EQ(proposed_sum_name("FW.MOT"), "FW.sum");
  EXPECT_EQ(proposed_sum_name("fw.Mot"), "fw.sum");
  EXPECT_EQ(proposed_sum_name("fw.sum"), "fw.sum");
  EXPECT_EQ(proposed_sum_name("fw.mot.txt"), "fw.mot.txt");
  EXPECT_EQ(proposed_sum_name(""), "");
}

class WriteFlow : public ::testing::Test {
 protected:
  test::RecorderUi ui;
  test::MemoryProfile profile;
  test::MemoryFileSystem fs;
  FirmwareIo io{ui, profile, fs};
  FirmwareState state;

  void load(int model, std::uint32_t start = 0) {
    fwgen::FirmwareSpec spec;
    spec.model = model;
    spec.start = start;
    fwgen::Firmware fw = fwgen::build_firmware(spec);
    fs.put("/fw/in/" + std::to_string(model) + ".MOT", fwgen::emit_srecords(fw, {}));
    std::string command_line = "/fw/in/" + std::to_string(model) + ".MOT";
    ASSERT_EQ(open_firmware_file(state, io, command_line), 1);
    ui.boxes.clear();
    profile.writes = 0;
  }
  // First and last data addresses of the S2 records of a written file.
  std::pair<std::uint32_t, std::uint32_t> record_span(const std::string& text) {
    std::uint32_t first = 0xFFFFFFFF, last = 0;
    std::size_t pos = 0;
    while ((pos = text.find("S2", pos)) != std::string::npos) {
      const std::uint32_t count = std::stoul(text.substr(pos + 2, 2), nullptr, 16) - 4;
      const std::uint32_t address = std::stoul(text.substr(pos + 4, 6), nullptr, 16);
      first = std::min(first, address);
      last = std::max(last, address + count - 1);
      pos += 2;
    }
    return {first, last};
  }
};

TEST_F(WriteFlow, SaveDialogProposesTheOpenedNameAsSumInTheOpenedFolder) {
  load(6);
  ui.dialog_answers.push_back({Outcome::Chosen, "/fw/out/6.sum"});
  ASSERT_EQ(write_sum_file(state, io), 1);
  ASSERT_EQ(ui.dialogs.size(), 1u);
  const FileDialogRequest& d = ui.dialogs[0];
  EXPECT_EQ(d.kind, FileDialogRequest::Kind::Save);
  EXPECT_EQ(d.initial_dir, "/fw/in");
  EXPECT_EQ(d.file_name, "6.sum");
  ASSERT_EQ(d.filters.size(), 1u);
  EXPECT_EQ(d.filters[0].description, "Sum Files(*.sum)");
  EXPECT_EQ(state.WriteResult, 1);
  EXPECT_EQ(profile.get("Write File", "Directory"), "/fw/out");
  EXPECT_EQ(profile.get("Write File", "File Name"), "6.sum");
  EXPECT_EQ(profile.get("Inifile", "Name"), "FWLOAD.INI");
  EXPECT_TRUE(ui.boxes.empty());
  EXPECT_FALSE(ui.cursor_waiting);
  const std::string text = fs.text("/fw/out/6.sum");
  EXPECT_EQ(text.substr(text.size() - 15), "S804000000FB\r\n\x1A");
}

TEST_F(WriteFlow, RangeDependsOnTheModelCode) {
  load(1, 0x800);
  ui.dialog_answers.push_back({Outcome::Chosen, "/o/1.sum"});
  ASSERT_EQ(write_sum_file(state, io), 1);
  // From the start address to the end of the checksum block that holds the data's end.
  EXPECT_EQ(record_span(fs.text("/o/1.sum")), std::make_pair(0x800u, 0x1BFFFu));
  EXPECT_NE(fs.text("/o/1.sum").find("S804000800"), std::string::npos);

  load(5);
  ui.dialog_answers.push_back({Outcome::Chosen, "/o/5.sum"});
  ASSERT_EQ(write_sum_file(state, io), 1);
  EXPECT_EQ(record_span(fs.text("/o/5.sum")).second, 0x6FFFFu);

  load(3);
  ui.dialog_answers.push_back({Outcome::Chosen, "/o/3.sum"});
  ASSERT_EQ(write_sum_file(state, io), 1);
  EXPECT_EQ(record_span(fs.text("/o/3.sum")).second, 0x1FFFFu);
}

TEST_F(WriteFlow, CancelLeavesTheSettingsAlone) {
  load(2);
  ui.dialog_answers.push_back({Outcome::Cancelled, {}});
  EXPECT_EQ(write_sum_file(state, io), 1);
  EXPECT_EQ(state.WriteResult, 2);
  EXPECT_EQ(profile.writes, 0);
  EXPECT_TRUE(ui.boxes.empty());
}

TEST_F(WriteFlow, DialogOrCreateFailureShowsFileWriteFailed) {
  load(2);
  ui.dialog_answers.push_back({Outcome::Failed, {}});
  EXPECT_EQ(write_sum_file(state, io), 0);
  fs.fail_create = true;
  ui.dialog_answers.push_back({Outcome::Chosen, "/o/x.sum"});
  EXPECT_EQ(write_sum_file(state, io), 0);
  EXPECT_EQ(ui.box_lines(), (std::vector<std::string>{"File_Write Error: File write failed!!",
                                                      "File_Write Error: File write failed!!"}));
  EXPECT_EQ(state.WriteResult, 0);
  EXPECT_EQ(profile.writes, 0);
  EXPECT_FALSE(ui.cursor_waiting);
}

TEST_F(WriteFlow, DiskFullIsAFailureAndThePartialFileIsRemoved) {
  load(5);
  fs.disk_space = 100000;
  ui.dialog_answers.push_back({Outcome::Chosen, "/o/full.sum"});
  EXPECT_EQ(write_sum_file(state, io), 0);
  EXPECT_EQ(ui.box_lines(), std::vector<std::string>{"File_Write Error: File write failed!!"});
  EXPECT_EQ(fs.files.count("/o/full.sum"), 0u);
  EXPECT_EQ(fs.removed, std::vector<std::string>{"/o/full.sum"});
  EXPECT_EQ(state.WriteResult, 0);
  EXPECT_EQ(profile.writes, 0);
}

TEST_F(WriteFlow, UnidentifiedUnitWritesNothing) {
  fwgen::FirmwareSpec spec;
  spec.model = 8;
  spec.unit_mark = false;
  fwgen::Firmware fw = fwgen::build_firmware(spec);
  fs.put("/fw/u.mot", fwgen::emit_srecords(fw, {}));
  std::string command_line = "/fw/u.mot";
  ASSERT_EQ(open_firmware_file(state, io, command_line), 1);
  ASSERT_EQ(state.FirmwareTargetCode, 0);
  ui.dialog_answers.push_back({Outcome::Chosen, "/o/u.sum"});
  EXPECT_EQ(write_sum_file(state, io), 0);
  EXPECT_TRUE(ui.dialogs.empty());
  EXPECT_EQ(fs.files.count("/o/u.sum"), 0u);
  EXPECT_EQ(ui.box_lines(), std::vector<std::string>{"File_Write Error: File write failed!!"});
}

}  // namespace
}  // namespace fwload
