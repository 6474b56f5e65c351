#include "firmware/checksum.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "firmware/hex.h"
#include "firmware/messages.h"
#include "firmware/sum_writer.h"
#include "tests/unit/test_support.h"

namespace fwload {
namespace {

std::vector<std::uint8_t> blank_image() {
  return std::vector<std::uint8_t>(0x70000, 0xFF);
}

// What a reader of the scanner's store checks: the bytes before the checksum, plus 0xFF,
// modulo 256, equal the checksum byte.
bool block_verifies(const std::vector<std::uint8_t>& image, std::uint32_t first,
                    std::uint32_t length) {
  std::uint32_t sum = 0xFF;
  for (std::uint32_t a = first; a < first + length - 1; ++a) sum += image[a];
  return (sum & 0xFF) == image[first + length - 1];
}

TEST(Checksum, BlankSingleBlockSumsToZero) {
  auto image = blank_image();
  test::RecorderUi ui;
  ASSERT_TRUE(single_block_checksum(image, 0x20000, ui));
  EXPECT_EQ(image[0x1FFFF], 0x00);
  EXPECT_TRUE(ui.boxes.empty());
}

TEST(Checksum, SingleBlockSumVerifiesAndCountsItsOwnByteAsBlank) {
  auto image = blank_image();
  image[0] = 0x01;  // 0x1FFFF * 0xFF + 0x01 + 0xFF (itself) = 0x02 modulo 256
  image[0x6FFF0] = 0x33;
  test::RecorderUi ui;
  ASSERT_TRUE(single_block_checksum(image, 0x20000, ui));
  EXPECT_EQ(image[0x1FFFF], 0x02);
  EXPECT_TRUE(block_verifies(image, 0, 0x20000));
  ASSERT_TRUE(single_block_checksum(image, 0x70000, ui));
  EXPECT_TRUE(block_verifies(image, 0, 0x70000));
}

TEST(Checksum, SingleBlockRefusesDataInTheChecksumByte) {
  auto image = blank_image();
  image[0x1FFFF] = 0x00;
  image[5] = 0x12;
  const auto before = image;
  test::RecorderUi ui;
  EXPECT_FALSE(single_block_checksum(image, 0x20000, ui));
  EXPECT_EQ(image, before);
  EXPECT_EQ(ui.box_lines(),
            std::vector<std::string>{"SumCalc Error: Valid code exists in SUM address !!"});
}

TEST(Checksum, FourBlocksSummedOnlyAsFarAsTheDataReaches) {
  auto image = blank_image();
  for (std::uint32_t a = 0; a <= 0x1A000; ++a) image[a] = static_cast<std::uint8_t>(a * 13);
  image[0x3FFF] = image[0x1BFFF] = 0xFF;
  test::RecorderUi ui;
  ASSERT_TRUE(four_block_checksum(image, 0x1A001, ui));
  EXPECT_TRUE(block_verifies(image, 0, 0x4000));
  EXPECT_TRUE(block_verifies(image, 0x4000, 0x18000));
  EXPECT_EQ(image[0x1FFFF], 0xFF);
  EXPECT_EQ(image[0x6FFFF], 0xFF);
}

TEST(Checksum, FourBlockThresholdsAreTheLastBytesOfEachBlock) {
  struct Case {
    std::uint32_t exclusive_end;
    bool block2, block3, block4;
  };
  for (const Case c : {Case{0x3FFF, false, false, false}, Case{0x4000, true, false, false},
                       Case{0x1BFFF, true, false, false}, Case{0x1C000, true, true, false},
                       Case{0x20000, true, true, true}, Case{0x70000, true, true, true}}) {
    auto image = blank_image();
    // One non-blank byte per block makes each computed sum differ from 0xFF.
    image[0x10] = image[0x4010] = image[0x1C010] = image[0x20010] = 0x00;
    test::RecorderUi ui;
    ASSERT_TRUE(four_block_checksum(image, c.exclusive_end, ui));
    EXPECT_NE(image[0x3FFF], 0xFF) << std::hex << c.exclusive_end;
    EXPECT_EQ(image[0x1BFFF] != 0xFF, c.block2) << std::hex << c.exclusive_end;
    EXPECT_EQ(image[0x1FFFF] != 0xFF, c.block3) << std::hex << c.exclusive_end;
    EXPECT_EQ(image[0x6FFFF] != 0xFF, c.block4) << std::hex << c.exclusive_end;
  }
}

TEST(Checksum, FourBlocksRefuseDataInAnyChecksumByteAndChangeNothing) {
  for (std::uint32_t at : {0x3FFFu, 0x1BFFFu, 0x1FFFFu, 0x6FFFFu}) {
    auto image = blank_image();
    image[at] = 0x7E;
    const auto before = image;
    test::RecorderUi ui;
    EXPECT_FALSE(four_block_checksum(image, 0x100, ui));
    EXPECT_EQ(image, before);
    EXPECT_EQ(ui.box_lines(),
              std::vector<std::string>{"SumCalc Error: Valid code exists in SUM address!!"});
  }
}

TEST(Checksum, BlockEndOfEachRange) {
  EXPECT_EQ(block_end(1), 0x4000u);
  EXPECT_EQ(block_end(0x4000), 0x4000u);
  EXPECT_EQ(block_end(0x4001), 0x1C000u);
  EXPECT_EQ(block_end(0x1C000), 0x1C000u);
  EXPECT_EQ(block_end(0x1C001), 0x20000u);
  EXPECT_EQ(block_end(0x20000), 0x20000u);
  EXPECT_EQ(block_end(0x20001), 0x70000u);
}

TEST(SumRecords, RecordLayoutAndChecksums) {
  std::string out;
  std::vector<std::uint8_t> data(16);
  for (int i = 0; i < 16; ++i) data[i] = static_cast<std::uint8_t>(i);
  append_s2_record(out, 0, data);
  // 0x14 + 0 + (0 + 1 + ... + 15 = 0x78) = 0x8C; 0xFF - 0x8C = 0x73
  EXPECT_EQ(out, "S214000000000102030405060708090A0B0C0D0E0F73\r\n");
  out.clear();
  append_s2_record(out, 0x01ABCDEF, std::vector<std::uint8_t>{0xFF, 0x00, 0xC3});
  // Only the low 24 bits of the address; 0x07 + 0xAB + 0xCD + 0xEF + 0xFF + 0xC3 = 0x430 -> 0xCF
  EXPECT_EQ(out, "S207ABCDEFFF00C3CF\r\n");
  out.clear();
  append_s8_record(out, 0);
  EXPECT_EQ(out, "S804000000FB\r\n");
  out.clear();
  append_s8_record(out, 0x012345);
  EXPECT_EQ(out, "S80401234592\r\n");
}

class CollectFile : public OutputFile {
 public:
  std::string text;
  bool write(std::span<const std::uint8_t> b) override {
    text.append(b.begin(), b.end());
    return true;
  }
  bool close() override { return true; }
};

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t pos = 0;
  while (pos < text.size()) {
    const auto crlf = text.find("\r\n", pos);
    if (crlf == std::string::npos) {
      lines.push_back(text.substr(pos));
      break;
    }
    lines.push_back(text.substr(pos, crlf - pos));
    pos = crlf + 2;
  }
  return lines;
}

TEST(SumRecords, BlankRunsAreLeftOutAndTheTerminatorEndsWithControlZ) {
  auto image = blank_image();
  for (std::uint32_t a = 0; a < 0x100; ++a) image[a] = static_cast<std::uint8_t>(a);
  image[0x40] = image[0x4F] = 0xFF;  // a record with some blank bytes is still written
  for (std::uint32_t a = 0x50; a < 0x60; ++a) image[a] = 0xFF;  // a blank record is not
  test::RecorderUi ui;
  test::RecorderUi checksum_ui;
  ASSERT_TRUE(single_block_checksum(image, 0x20000, checksum_ui));
  CollectFile file;
  ASSERT_TRUE(write_sum_records(file, image, 0, 0x20000, ui));

  ASSERT_FALSE(file.text.empty());
  EXPECT_EQ(file.text.back(), '\x1A');
  const auto lines = lines_of(file.text.substr(0, file.text.size() - 1));
  ASSERT_EQ(lines.size(), 15u + 1u + 1u);  // 15 data records, the checksum record, S8
  for (std::size_t i = 0; i < 15; ++i) {
    EXPECT_EQ(lines[i].size(), 12u + 32u);
    EXPECT_EQ(lines[i].substr(0, 4), "S214");
  }
  EXPECT_EQ(lines[4].substr(4, 6), "000040");
  EXPECT_EQ(lines[5].substr(4, 6), "000060");
  EXPECT_EQ(lines[15].substr(4, 6), "01FFF0");
  EXPECT_EQ(lines[15].substr(40, 2), hex_digits(image[0x1FFFF], 2));
  EXPECT_EQ(lines[16], "S804000000FB");
  // Progress runs from 0 to 100 and never goes back.
  ASSERT_FALSE(ui.progress_log.empty());
  EXPECT_EQ(ui.progress_log.front(), 0);
  EXPECT_EQ(ui.progress_log.back(), 100);
  EXPECT_TRUE(std::is_sorted(ui.progress_log.begin(), ui.progress_log.end()));
  EXPECT_GE(ui.pumps, 0x2000);  // the window is served after each record position
}

TEST(SumRecords, LastRecordTakesWhatIsLeftAndStartAddressIsKept) {
  auto image = blank_image();
  for (std::uint32_t a = 0x4000; a < 0x4024; ++a) image[a] = 0x11;
  test::RecorderUi ui;
  CollectFile file;
  ASSERT_TRUE(write_sum_records(file, image, 0x4000, 0x24, ui));
  const auto lines = lines_of(file.text.substr(0, file.text.size() - 1));
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[2].substr(0, 10), "S208004020");
  EXPECT_EQ(lines[2].size(), 12u + 8u);
  EXPECT_EQ(lines[3].substr(0, 10), "S804004000");
}

TEST(SumRecords, AFailedWriteIsReported) {
  auto image = blank_image();
  for (std::uint32_t a = 0; a < 0x70000; ++a) image[a] = static_cast<std::uint8_t>(a);
  test::MemoryFileSystem fs;
  fs.disk_space = 1000;
  auto file = fs.create("/out.sum");
  test::RecorderUi ui;
  EXPECT_FALSE(write_sum_records(*file, image, 0, 0x70000, ui));
  // It stops at the failure instead of running through the rest of the image.
  EXPECT_LT(ui.pumps, 0x7000);
}

}  // namespace
}  // namespace fwload
