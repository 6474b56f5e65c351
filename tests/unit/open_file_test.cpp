#include "firmware/open_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "firmware/hex.h"
#include "firmware/messages.h"
#include "firmware/write_file.h"
#include "tests/unit/test_support.h"
#include "tools/fwgen/generator.h"

namespace fwload {
namespace {

using Outcome = FileDialogResult::Outcome;

std::vector<std::uint8_t> bytes(std::string_view text) {
  return std::vector<std::uint8_t>(text.begin(), text.end());
}

TEST(CommandLine, SwitchesInTheirOrderThenThePath) {
  CommandLineRequest r = parse_command_line("/T /C /fw/a.mot", kCommandLineMax, false);
  EXPECT_TRUE(r.transfer_after_open);
  EXPECT_TRUE(r.close_after_transfer);
  EXPECT_EQ(r.path, "/fw/a.mot");
  EXPECT_TRUE(r.extension_ok);

  r = parse_command_line("/C a.sum", kCommandLineMax, false);
  EXPECT_FALSE(r.transfer_after_open);
  EXPECT_TRUE(r.close_after_transfer);
  EXPECT_EQ(r.path, "a.sum");

  // "/T " must come first: after "/C " it is part of the path.
  r = parse_command_line("/C /T a.mot", kCommandLineMax, false);
  EXPECT_FALSE(r.transfer_after_open);
  EXPECT_EQ(r.path, "/T a.mot");

  r = parse_command_line("/T a.mot", kCommandLineMax, false, /*parse_switches=*/false);
  EXPECT_FALSE(r.transfer_after_open);
  EXPECT_EQ(r.path, "/T a.mot");
}

TEST(CommandLine, ExtensionIsTheFourCharactersFromTheLastDot) {
  EXPECT_TRUE(parse_command_line("C:\\FW\\A.MOT", kCommandLineMax, false).extension_ok);
  EXPECT_TRUE(parse_command_line("x.SUM", kCommandLineMax, false).extension_ok);
  EXPECT_FALSE(parse_command_line("x.Mot", kCommandLineMax, false).extension_ok);
  EXPECT_TRUE(parse_command_line("x.Mot", kCommandLineMax, true).extension_ok);
  EXPECT_FALSE(parse_command_line("x.txt", kCommandLineMax, true).extension_ok);
  EXPECT_FALSE(parse_command_line("x.mo", kCommandLineMax, true).extension_ok);
  EXPECT_FALSE(parse_command_line("dir.v2/firmware", kCommandLineMax, true).extension_ok);
  // Characters after the extension are cut off with the path.
  const CommandLineRequest cut = parse_command_line("a.mot  ", kCommandLineMax, false);
  EXPECT_TRUE(cut.extension_ok);
  EXPECT_EQ(cut.path, "a.mot");
  // No dot: the "extension" is the start of the path.
  EXPECT_FALSE(parse_command_line("firmware", kCommandLineMax, false).extension_ok);
  EXPECT_TRUE(parse_command_line(".mot", kCommandLineMax, false).extension_ok);
}

TEST(CommandLine, OnlyTheFirst256CharactersAreKept) {
  const std::string long_path = std::string(300, 'a') + ".mot";
  EXPECT_FALSE(parse_command_line(long_path, kCommandLineMax, false).extension_ok);
  // A dot beyond position 252 leaves no room for an extension in the buffer.
  const std::string edge = std::string(253, 'b') + ".mot";
  EXPECT_FALSE(parse_command_line(edge, kCommandLineMax, false).extension_ok);
  const std::string fits = std::string(252, 'b') + ".mot";
  const CommandLineRequest ok = parse_command_line(fits, kCommandLineMax, false);
  EXPECT_TRUE(ok.extension_ok);
  EXPECT_EQ(ok.path, fits);
}

TEST(PathParts, SplitAtTheLastSeparator) {
  EXPECT_EQ(split_path("C:\\fw\\new\\a.mot", '\\').folder, "C:\\fw\\new");
  EXPECT_EQ(split_path("C:\\fw\\new\\a.mot", '\\').name, "a.mot");
  EXPECT_EQ(split_path("/home/t/a.mot", '/').folder, "/home/t");
  EXPECT_EQ(split_path("/home/t/a.mot", '\\').name, "/home/t/a.mot");
  EXPECT_EQ(split_path("a.mot", '/').folder, "");
}

// An open run against in-memory files and settings.
class OpenFlow : public ::testing::Test {
 protected:
  test::RecorderUi ui;
  test::MemoryProfile profile;
  test::MemoryFileSystem fs;
  FirmwareIo io{ui, profile, fs};
  FirmwareState state;

  int open(std::string command_line) { return open_firmware_file(state, io, command_line); }
  // Writes a generated firmware file; returns the image a loader must end with.
  std::vector<std::uint8_t> put_firmware(const std::string& path, fwgen::FirmwareSpec spec,
                                         fwgen::EmitOptions emit = {}) {
    fwgen::Firmware fw = fwgen::build_firmware(spec);
    fs.put(path, fwgen::emit_srecords(fw, emit));
    return fw.image;
  }
};

TEST_F(OpenFlow, CommandLineFileIsLoadedIdentifiedAndRemembered) {
  fwgen::FirmwareSpec spec;
  spec.model = 6;
  const auto expected = put_firmware("/fw/unit.mot", spec);
  std::string command_line = "/T /fw/unit.mot";
  ASSERT_EQ(open_firmware_file(state, io, command_line), 1);

  EXPECT_TRUE(command_line.empty());
  EXPECT_EQ(state.OpenResult, 1);
  EXPECT_TRUE(state.TransferAfterOpen);
  EXPECT_FALSE(state.CloseAfterTransfer);
  EXPECT_EQ(state.FirmwareTargetCode, 6);
  EXPECT_EQ(state.start_address, 0u);
  // The generated data ends in an erased (all 0xFF) run, which the file leaves out.
  EXPECT_EQ(state.end_address, 0x1EEFFu);
  EXPECT_EQ(state.data_size, 0x1EF00u);
  EXPECT_EQ(state.sum_address, 0x1FFFFu);
  EXPECT_TRUE(ui.boxes.empty());
  EXPECT_TRUE(ui.dialogs.empty());
  EXPECT_EQ(ui.file_name, "unit.mot");
  EXPECT_FALSE(ui.cursor_waiting);

  // Identical to the generated image except for the checksum computed into it.
  auto image = state.image;
  EXPECT_EQ(state.sum_value, image[0x1FFFF]);
  image[0x1FFFF] = 0xFF;
  EXPECT_EQ(image, expected);

  EXPECT_EQ(profile.get("Inifile", "Name"), "FWLOAD.INI");
  EXPECT_EQ(profile.get("Open File", "Directory"), "/fw");
  EXPECT_EQ(profile.get("Open File", "File Name"), "unit.mot");

  // 0 to 60 while reading, up to 100 while parsing, never backwards.
  ASSERT_FALSE(ui.progress_log.empty());
  EXPECT_TRUE(std::is_sorted(ui.progress_log.begin(), ui.progress_log.end()));
  EXPECT_NE(std::find(ui.progress_log.begin(), ui.progress_log.end(), 60), ui.progress_log.end());
  EXPECT_EQ(ui.progress_log.back(), 100);
  EXPECT_GT(ui.pumps, 1000);  // after every piece and every line
}

TEST_F(OpenFlow, WindowsPathsSplitAtBackslashes) {
  fs.separator = '\\';
  fwgen::FirmwareSpec spec;
  spec.model = 2;
  put_firmware("C:\\FW\\NEW\\SCAN.MOT", spec);
  ASSERT_EQ(open("/C C:\\FW\\NEW\\SCAN.MOT"), 1);
  EXPECT_TRUE(state.CloseAfterTransfer);
  EXPECT_EQ(ui.file_name, "SCAN.MOT");
  EXPECT_EQ(profile.get("Open File", "Directory"), "C:\\FW\\NEW");
  EXPECT_EQ(profile.get("Open File", "File Name"), "SCAN.MOT");
}

TEST_F(OpenFlow, CommandLineExtensionIsExactInCase) {
  fwgen::FirmwareSpec spec;
  put_firmware("/fw/a.Mot", spec);
  std::string command_line = "/T /fw/a.Mot";
  EXPECT_EQ(open_firmware_file(state, io, command_line), 0);
  EXPECT_TRUE(command_line.empty());
  EXPECT_EQ(ui.box_lines(),
            std::vector<std::string>{"File_Open Error: File Attribute is not .mot or .sum!!"});
  EXPECT_EQ(state.open_failure, OpenFailure::Extension);
  EXPECT_EQ(profile.writes, 0);
}

TEST_F(OpenFlow, DialogStartsInTheRememberedFolderWithTheRememberedName) {
  profile.write("Open File", "Directory", "/fw/old");
  profile.write("Open File", "File Name", "last.mot");
  fwgen::FirmwareSpec spec;
  spec.model = 3;
  put_firmware("/fw/new/b.MOT", spec);
  ui.dialog_answers.push_back({Outcome::Chosen, "/fw/new/b.MOT"});
  ASSERT_EQ(open(""), 1);
  ASSERT_EQ(ui.dialogs.size(), 1u);
  const FileDialogRequest& d = ui.dialogs[0];
  EXPECT_EQ(d.kind, FileDialogRequest::Kind::Open);
  EXPECT_EQ(d.initial_dir, "/fw/old");
  EXPECT_EQ(d.file_name, "last.mot");
  ASSERT_EQ(d.filters.size(), 2u);
  EXPECT_EQ(d.filters[0].description, "Sum Files(*.sum)");
  EXPECT_EQ(d.filters[0].pattern, "*.sum");
  EXPECT_EQ(d.filters[1].description, "Sform Files(*.mot)");
  EXPECT_EQ(d.filters[1].pattern, "*.mot");
  // The dialog path takes ".MOT" as ".mot": the checksum is computed.
  EXPECT_EQ(state.FirmwareTargetCode, 3);
  EXPECT_EQ(state.image[0x1FFFF], state.sum_value);
  EXPECT_NE(state.sum_value, 0xFF);
}

TEST_F(OpenFlow, DialogWithNothingRememberedStartsInTheSystemFolder) {
  ui.dialog_answers.push_back({Outcome::Cancelled, {}});
  EXPECT_EQ(open(""), 0);
  ASSERT_EQ(ui.dialogs.size(), 1u);
  EXPECT_EQ(ui.dialogs[0].initial_dir, "/sys-dir");
  EXPECT_EQ(ui.dialogs[0].file_name, "");
  EXPECT_EQ(state.OpenResult, 2);
  EXPECT_TRUE(ui.boxes.empty());
}

TEST_F(OpenFlow, DialogFailureAndMissingFileShowFileOpenFailed) {
  ui.dialog_answers.push_back({Outcome::Failed, {}});
  EXPECT_EQ(open(""), 0);
  EXPECT_EQ(state.OpenResult, 0);
  ui.dialog_answers.push_back({Outcome::Chosen, "/nowhere.mot"});
  EXPECT_EQ(open(""), 0);
  EXPECT_EQ(ui.box_lines(), (std::vector<std::string>{"File_Open Error: File Open failed!!",
                                                      "File_Open Error: File Open failed!!"}));
  EXPECT_EQ(state.open_failure, OpenFailure::FileOpen);
}

TEST_F(OpenFlow, AFileThatCannotBeReadWholeOrHeldIsRefused) {
  fwgen::FirmwareSpec spec;
  put_firmware("/fw/a.mot", spec);
  fs.read_breaks_after = 40000;
  EXPECT_EQ(open("/fw/a.mot"), 0);
  EXPECT_EQ(ui.box_lines(), std::vector<std::string>{"File_Open Error: File Open failed!!"});
  EXPECT_TRUE(state.image.empty());

  // No memory for the text: refused as short of memory, and the image of the open before is
  // not left behind as if it were this file's.
  fs.read_breaks_after.reset();
  ASSERT_EQ(open("/fw/a.mot"), 1);
  ui.boxes.clear();
  fs.fail_allocate = true;
  EXPECT_EQ(open("/fw/a.mot"), 0);
  EXPECT_EQ(ui.box_lines(), std::vector<std::string>{"File_Open Error: Short of Memory!!"});
  EXPECT_EQ(state.open_failure, OpenFailure::Memory);
  EXPECT_TRUE(state.image.empty());
}

TEST_F(OpenFlow, BadLinesStopTheOpenAndReleaseTheImage) {
  struct Case {
    fwgen::BadLine bad;
    bool terminator;
    const char* message;
  };
  for (const Case c : {Case{fwgen::BadLine::FirstChar, true, "First Char is not 'S'!"},
                       Case{fwgen::BadLine::LengthCode, true, "Length Code is bad value!"},
                       Case{fwgen::BadLine::TypeS5, true, "Address Type Code is bad value!"},
                       Case{fwgen::BadLine::BareLf, true, "Length Code is bad value!"},
                       Case{fwgen::BadLine::None, false, "First Char is not 'S'!"}}) {
    // A good file first, so that the failure has an earlier image to release.
    fwgen::FirmwareSpec spec;
    put_firmware("/fw/good.mot", spec);
    ASSERT_EQ(open("/fw/good.mot"), 1);
    fwgen::EmitOptions emit;
    emit.bad_line = c.bad;
    emit.terminator = c.terminator;
    put_firmware("/fw/bad.mot", spec, emit);
    ui.boxes.clear();
    EXPECT_EQ(open("/fw/bad.mot"), 0);
    EXPECT_EQ(ui.box_lines(),
              std::vector<std::string>{std::string("LineRead Error: ") + c.message});
    EXPECT_TRUE(state.image.empty());
    EXPECT_EQ(state.OpenResult, 0);
    EXPECT_EQ(state.open_failure, OpenFailure::Parse);
    EXPECT_FALSE(ui.cursor_waiting);
  }
}

TEST_F(OpenFlow, RecordTypesLengthsCaseGapsOverlapsAndRecordsBeyondTheImage) {
  struct Variant {
    int type;
    int bytes;
    bool lower, gaps, overlap, beyond, non_hex;
    int model;
  };
  for (const Variant v : {Variant{1, 16, false, false, false, false, false, 1},
                          Variant{2, 251, false, true, false, true, false, 5},
                          Variant{3, 1, true, false, true, true, false, 2},
                          Variant{3, 64, false, true, true, true, true, 8},
                          Variant{2, 17, true, false, false, false, true, 7}}) {
    fwgen::FirmwareSpec spec;
    spec.model = v.model;
    if (v.type == 1) spec.end = 0xF000;
    fwgen::EmitOptions emit;
    emit.record_type = v.type;
    emit.record_bytes = v.bytes;
    emit.lower_case = v.lower;
    emit.gaps = v.gaps;
    emit.overlap = v.overlap;
    emit.beyond = v.beyond;
    emit.non_hex = v.non_hex;
    const auto expected = put_firmware("/fw/v.mot", spec, emit);
    ASSERT_EQ(open("/fw/v.mot"), 1) << v.type << "/" << v.bytes;
    EXPECT_TRUE(ui.boxes.empty());
    EXPECT_EQ(state.FirmwareTargetCode, v.model);
    auto image = state.image;
    if (v.model == 1) {
      for (std::uint32_t a : {0x3FFFu, 0x1BFFFu, 0x1FFFFu, 0x6FFFFu}) image[a] = expected[a];
    } else {
      image[state.sum_address] = 0xFF;
    }
    EXPECT_EQ(image, expected) << v.type << "/" << v.bytes;
  }
}

TEST_F(OpenFlow, DataFromAnOffsetLeavesTheImageBelowBlank) {
  fwgen::FirmwareSpec spec;
  spec.model = 6;
  spec.start = 0x4000;
  put_firmware("/fw/off.mot", spec);
  ASSERT_EQ(open("/fw/off.mot"), 1);
  EXPECT_EQ(state.start_address, 0x4000u);
  EXPECT_TRUE(std::all_of(state.image.begin(), state.image.begin() + 0x4000,
                          [](std::uint8_t b) { return b == 0xFF; }));
}

TEST_F(OpenFlow, EmptyAndOverflowingDataRecordsAreIgnored) {
  std::vector<std::uint8_t> data(64, 0x11);
  std::copy_n("HVS 2600", 8, data.begin());  // a family mark, and no unit mark
  std::string text = fwgen::srecord_line(2, 0x100, data);
  text += "S1030000FC\r\n";  // a data record without data bytes at address 0
  text += fwgen::srecord_line(3, 0xFFFFFFF0u, std::vector<std::uint8_t>(32, 0x22));
  text += fwgen::srecord_line(2, 0x6FFFF, std::vector<std::uint8_t>(2, 0x33));
  text += "S804000000FB\r\n";
  fs.put("/fw/odd.mot", text);
  ASSERT_EQ(open("/fw/odd.mot"), 1);
  EXPECT_EQ(state.start_address, 0x100u);
  EXPECT_EQ(state.end_address, 0x13Fu);
  EXPECT_EQ(state.data_size, 0x40u);
}

TEST_F(OpenFlow, UnidentifiedFileFailsSilentlyAndKeepsTheImage) {
  fs.put("/fw/none.mot",
         fwgen::srecord_line(2, 0, std::vector<std::uint8_t>(64, 0x41)) + "S804000000FB\r\n");
  EXPECT_EQ(open("/fw/none.mot"), 0);
  EXPECT_TRUE(ui.boxes.empty());
  EXPECT_EQ(state.open_failure, OpenFailure::Identify);
  EXPECT_EQ(state.OpenResult, 0);
  EXPECT_EQ(state.image.size(), kImageSize);
  EXPECT_EQ(profile.writes, 0);
  EXPECT_FALSE(ui.cursor_waiting);
}

TEST_F(OpenFlow, MotFileWithDataInItsChecksumByteIsRefused) {
  std::string text;
  text += fwgen::srecord_line(2, 0x100, bytes("HVS 2600 UNIT = "));
  text += fwgen::srecord_line(2, 0x110, bytes("IMPRINTER       "));
  text += fwgen::srecord_line(2, 0x1FFF0, std::vector<std::uint8_t>(16, 0x00));
  text += "S804000000FB\r\n";
  fs.put("/fw/full.mot", text);
  fs.put("/fw/full.sum", text);
  EXPECT_EQ(open("/fw/full.mot"), 0);
  EXPECT_EQ(ui.box_lines(),
            std::vector<std::string>{"SumCalc Error: Valid code exists in SUM address !!"});
  EXPECT_EQ(state.open_failure, OpenFailure::Checksum);
  EXPECT_EQ(state.OpenResult, 0);
  // The same data as a ".sum" file: the stored checksum byte is taken as it is.
  ui.boxes.clear();
  ASSERT_EQ(open("/fw/full.sum"), 1);
  EXPECT_EQ(state.FirmwareTargetCode, 8);
  EXPECT_EQ(state.sum_value, 0x00);
  EXPECT_TRUE(ui.boxes.empty());
}

TEST_F(OpenFlow, FileWithoutAUnitMarkHasModelCodeZeroAndChecksumAddressZero) {
  fwgen::FirmwareSpec good;
  good.model = 5;
  put_firmware("/fw/five.mot", good);
  ASSERT_EQ(open("/fw/five.mot"), 1);
  ASSERT_EQ(state.FirmwareTargetCode, 5);

  fwgen::FirmwareSpec spec;
  spec.model = 6;
  spec.unit_mark = false;
  const auto expected = put_firmware("/fw/nounit.mot", spec);
  ASSERT_EQ(open("/fw/nounit.mot"), 1);
  EXPECT_EQ(state.FirmwareTargetCode, 0);
  EXPECT_EQ(state.sum_address, 0u);
  EXPECT_EQ(state.sum_value, expected[0]);
  EXPECT_EQ(state.image, expected);  // no checksum step
  EXPECT_EQ(open_summary(state),
            "\nSUM VALUE = " + hex_digits(expected[0], 2) + " hex\nADDRESS    = 000000 hex");
}

TEST_F(OpenFlow, TemporaryDumpHoldsTheImageBeforeTheChecksumStep) {
  profile.write("Option", "Temp", "ON");
  fwgen::FirmwareSpec spec;
  spec.model = 7;
  const auto expected = put_firmware("/fw/seven.mot", spec);
  ASSERT_EQ(open("/fw/seven.mot"), 1);
  EXPECT_EQ(fs.files["/tmp/fwl1.tmp"], expected);
  EXPECT_TRUE(ui.boxes.empty());
}

TEST_F(OpenFlow, TemporaryDumpIsOnlyForExactlyOn) {
  profile.write("Option", "Temp", "on");
  fwgen::FirmwareSpec spec;
  put_firmware("/fw/a.mot", spec);
  ASSERT_EQ(open("/fw/a.mot"), 1);
  EXPECT_EQ(fs.files.count("/tmp/fwl1.tmp"), 0u);
}

TEST_F(OpenFlow, TemporaryDumpFailuresAreReportedAndTheOpenGoesOn) {
  profile.write("Option", "Temp", "ON");
  fwgen::FirmwareSpec spec;
  put_firmware("/fw/a.mot", spec);
  fs.fail_create = true;
  ASSERT_EQ(open("/fw/a.mot"), 1);
  EXPECT_EQ(ui.box_lines(), std::vector<std::string>{"File_Open Error: Temp File Open failed!!"});

  fs.fail_create = false;
  fs.disk_space = 4096;
  ui.boxes.clear();
  ASSERT_EQ(open("/fw/a.mot"), 1);
  EXPECT_EQ(ui.box_lines(), std::vector<std::string>{"File_Open Error: Temp File Open failed!!"});
  EXPECT_EQ(fs.files.count("/tmp/fwl1.tmp"), 0u);
  EXPECT_EQ(fs.removed, std::vector<std::string>{"/tmp/fwl1.tmp"});
}

TEST_F(OpenFlow, SummaryLinesGiveTheChecksumAndItsAddress) {
  state.sum_value = 0x0A;
  state.sum_address = 0x6FFFF;
  EXPECT_EQ(open_summary(state), "\nSUM VALUE = 0A hex\nADDRESS    = 06FFFF hex");
}

// Open ".mot", write ".sum", open the ".sum": the image within the written range comes back.
TEST_F(OpenFlow, SumFileRoundTripReproducesTheImage) {
  for (int model = 1; model <= 8; ++model) {
    fwgen::FirmwareSpec spec;
    spec.model = model;
    spec.seed = static_cast<std::uint32_t>(model);
    if (model == 1) spec.start = 0x800;
    fwgen::EmitOptions emit;
    emit.gaps = true;
    put_firmware("/fw/m.mot", spec, emit);
    ASSERT_EQ(open("/fw/m.mot"), 1) << model;
    const FirmwareState loaded = state;
    ui.dialog_answers.push_back({Outcome::Chosen, "/out/m.sum"});
    ASSERT_EQ(write_sum_file(state, io), 1) << model;
    ASSERT_EQ(state.WriteResult, 1);
    ASSERT_EQ(open("/out/m.sum"), 1) << model;
    EXPECT_EQ(state.FirmwareTargetCode, loaded.FirmwareTargetCode);
    EXPECT_EQ(state.sum_value, loaded.sum_value) << model;
    EXPECT_EQ(state.image, loaded.image) << model;
    EXPECT_TRUE(ui.boxes.empty()) << model;
  }
}

TEST(PlatformTextBlock, HoldsEveryByteAskedForBelowAtAndAcrossHugePages) {
  // Below the mapped sizes, at them, one under and over a 2 MiB huge page, and several pages:
  // a block cut short or given back with its slack faults here.
  const std::unique_ptr<FileSystem> fs = make_platform_filesystem();
  for (const std::size_t size : {std::size_t{1}, std::size_t{512} << 10, (std::size_t{2} << 20) - 1,
                                 std::size_t{2} << 20, (std::size_t{5} << 20) + 3}) {
    const std::unique_ptr<MemoryBlock> block = fs->allocate_text(size);
    ASSERT_NE(block, nullptr) << size;
    std::memset(block->data(), 0x5A, size);
    EXPECT_EQ(block->data()[size - 1], 0x5A) << size;
  }
}

}  // namespace
}  // namespace fwload
