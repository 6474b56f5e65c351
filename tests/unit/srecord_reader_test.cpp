#include "firmware/srecord_reader.h"

#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <string>

#include "firmware/messages.h"
#include "tests/unit/test_support.h"

namespace fwload {
namespace {

struct Read {
  std::size_t used;
  SRecordLine line;
  std::array<std::uint8_t, kRecordDataSize> data;
  std::vector<std::string> boxes;
};

// Reads the first line of `text` from a heap block of exactly its size, so that a read past
// the end is caught by the address sanitizer.
Read read_line(std::string_view text) {
  std::unique_ptr<std::uint8_t[]> block(new std::uint8_t[text.size() + 1]);
  std::copy(text.begin(), text.end(), block.get());
  test::RecorderUi ui;
  Read r{};
  r.line = {0x12345678, 0x9ABCDEF0};
  r.data.fill(0xEE);
  r.used = read_srecord_line(std::span<const std::uint8_t>(block.get(), text.size()), r.data,
                             r.line, ui);
  r.boxes = ui.box_lines();
  return r;
}

std::string line_error(std::string_view text) {
  return std::string(msg::kLineReadError) + ": " + std::string(text);
}

TEST(HexDigitValue, DigitsAndLettersInEitherCaseAndEverythingElseIs15) {
  EXPECT_EQ(hex_digit_value('0'), 0);
  EXPECT_EQ(hex_digit_value('9'), 9);
  EXPECT_EQ(hex_digit_value('a'), 10);
  EXPECT_EQ(hex_digit_value('E'), 14);
  EXPECT_EQ(hex_digit_value('e'), 14);
  EXPECT_EQ(hex_digit_value('f'), 15);
  EXPECT_EQ(hex_digit_value('F'), 15);
  EXPECT_EQ(hex_digit_value('G'), 15);
  EXPECT_EQ(hex_digit_value(' '), 15);
  EXPECT_EQ(hex_digit_value(0), 15);
  EXPECT_EQ(hex_digit_value(0xC1), 15);  // not lowered into a letter
}

TEST(SRecordReader, TerminationRecordsEndedByCrLfAreAccepted) {
  for (std::string_view line : {"S9030000FC\r\n", "S804000000FB\r\n", "S70500000000FA\r\n"}) {
    const Read r = read_line(line);
    EXPECT_EQ(r.used, line.size()) << line;
    EXPECT_EQ(r.line.length_word, kRecordEnd) << line;
    EXPECT_EQ(r.line.address, 0u) << line;
    EXPECT_TRUE(r.boxes.empty()) << line;
  }
}

TEST(SRecordReader, BareLineFeedFailsTheLengthTest) {
  const Read r = read_line("S9030000FC\nS9030000FC\r\n");
  EXPECT_EQ(r.used, 0u);
  EXPECT_EQ(r.boxes, std::vector<std::string>{line_error(msg::kLengthCodeBad)});
}

TEST(SRecordReader, DecodesAddressAndDataOfEachDataRecordType) {
  const Read s1 = read_line("S1061234A0B1C2FF\r\nnext");
  EXPECT_EQ(s1.used, 18u);
  EXPECT_EQ(s1.line.length_word, 3u);
  EXPECT_EQ(s1.line.address, 0x1234u);
  EXPECT_EQ((std::array<int, 4>{s1.data[0], s1.data[1], s1.data[2], s1.data[3]}),
            (std::array<int, 4>{0xA0, 0xB1, 0xC2, 0xEE}));

  const Read s2 = read_line("S206012345DEAD00\r\n");
  EXPECT_EQ(s2.line.length_word, 2u);
  EXPECT_EQ(s2.line.address, 0x012345u);
  EXPECT_EQ(s2.data[0], 0xDE);
  EXPECT_EQ(s2.data[1], 0xAD);

  const Read s3 = read_line("S3060ABCDEF17700\r\n");
  EXPECT_EQ(s3.line.length_word, 1u);
  EXPECT_EQ(s3.line.address, 0x0ABCDEF1u);
  EXPECT_EQ(s3.data[0], 0x77);
}

TEST(SRecordReader, LowerCaseDigitsReadAsUpperCaseAndChecksumIsNotChecked) {
  const Read upper = read_line("S2070ABCDE1A2B3C4D\r\n");
  const Read lower = read_line("s2070abcde1a2b3c4d\r\n");
  // "s" is not "S": the first character is compared as it stands.
  EXPECT_EQ(lower.boxes, std::vector<std::string>{line_error(msg::kFirstCharNotS)});
  const Read mixed = read_line("S2070abcde1a2b3c00\r\n");
  EXPECT_EQ(mixed.used, upper.used);
  EXPECT_EQ(mixed.line.address, upper.line.address);
  EXPECT_EQ(mixed.line.length_word, 3u);
  EXPECT_EQ(mixed.data[0], upper.data[0]);
  EXPECT_EQ(mixed.data[2], 0x3C);
  EXPECT_TRUE(mixed.boxes.empty());
}

TEST(SRecordReader, HeaderRecordContributesNothing) {
  const Read r = read_line("S00600004844521B\r\n");
  EXPECT_EQ(r.used, 18u);
  EXPECT_EQ(r.line.length_word, kRecordHeader);
  EXPECT_EQ(r.line.address, 0u);
  EXPECT_EQ(r.data[0], 0xEE);
}

TEST(SRecordReader, UnknownRecordTypesAreRefused) {
  for (std::string_view line :
       {"S5030010EC\r\n", "S6030010EC\r\n", "S4030010EC\r\n", "SX030010EC\r\n"}) {
    const Read r = read_line(line);
    EXPECT_EQ(r.used, 0u) << line;
    EXPECT_EQ(r.boxes, std::vector<std::string>{line_error(msg::kAddressTypeBad)}) << line;
  }
}

TEST(SRecordReader, FirstCharacterMustBeS) {
  for (std::string_view text : {"", "\r\n", "X1030000FC\r\n", " S1030000FC\r\n"}) {
    const Read r = read_line(text);
    EXPECT_EQ(r.used, 0u);
    EXPECT_EQ(r.boxes, std::vector<std::string>{line_error(msg::kFirstCharNotS)});
  }
}

TEST(SRecordReader, LineWithoutLineFeedFailsAndNothingBeyondTheTextIsRead) {
  // The last line of a file without a line feed: the reader must stop at the text's end.
  const Read r = read_line("S9030000FC");
  EXPECT_EQ(r.used, 0u);
  EXPECT_EQ(r.boxes, std::vector<std::string>{line_error(msg::kLengthCodeBad)});
  const Read tiny = read_line("S");
  EXPECT_EQ(tiny.boxes, std::vector<std::string>{line_error(msg::kLengthCodeBad)});
}

TEST(SRecordReader, OverlongLinesFailTheLengthTest) {
  std::string long_line = "S1FF0000" + std::string(1100, 'A') + "\r\n";
  const Read r = read_line(long_line);
  EXPECT_EQ(r.used, 0u);
  EXPECT_EQ(r.boxes, std::vector<std::string>{line_error(msg::kLengthCodeBad)});
  // 1023 characters before the line feed: still one line, and too long for any length code.
  const Read edge = read_line("S1" + std::string(1021, '0') + "\n");
  EXPECT_EQ(edge.boxes, std::vector<std::string>{line_error(msg::kLengthCodeBad)});
}

TEST(SRecordReader, LengthCodeBelowAddressSizePlusOneIsRefused) {
  // Each of these matches its line length but leaves a negative data count.
  for (std::string_view line : {"S1020000\r\n", "S203000000\r\n", "S30400000000\r\n"}) {
    const Read r = read_line(line);
    EXPECT_EQ(r.used, 0u) << line;
    EXPECT_EQ(r.boxes, std::vector<std::string>{line_error(msg::kLengthCodeBad)}) << line;
  }
  // Address and checksum only: a record without data bytes.
  const Read empty = read_line("S1031234B8\r\n");
  EXPECT_EQ(empty.used, 12u);
  EXPECT_EQ(empty.line.length_word, 0u);
  EXPECT_EQ(empty.line.address, 0x1234u);
}

TEST(SRecordReader, NonHexDigitsReadAs15WithoutAnError) {
  const Read r = read_line("S2060000104GZ900\r\n");
  EXPECT_EQ(r.used, 18u);
  EXPECT_EQ(r.data[0], 0x4F);
  EXPECT_EQ(r.data[1], 0xF9);
}

TEST(SRecordReader, LengthMismatchByOneEitherWayIsRefused) {
  EXPECT_EQ(read_line("S1050000AABB00\r\n").used, 16u);
  EXPECT_EQ(read_line("S1060000AABB00\r\n").used, 0u);
  EXPECT_EQ(read_line("S1040000AABB00\r\n").used, 0u);
}

}  // namespace
}  // namespace fwload
