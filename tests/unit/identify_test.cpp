#include "firmware/identify.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <utility>

#include "tools/fwgen/generator.h"

namespace fwload {
namespace {

using Marks = std::initializer_list<std::pair<std::uint32_t, std::string_view>>;

FirmwareState image_with(Marks marks, std::uint32_t end_address) {
  FirmwareState s;
  s.image.assign(kImageSize, 0xFF);
  for (const auto& [at, text] : marks) {
    std::copy(text.begin(), text.end(), s.image.begin() + at);
  }
  s.start_address = 0;
  s.end_address = end_address;
  return s;
}

struct Expected {
  int model;
  const char* scanner;
  const char* unit;
  const char* version;
  int target;
};

TEST(Identify, EveryModelCodeOfTheSyntheticSet) {
  const Expected expected[] = {
      {1, "TR-MM40E2", "I don't know.", "1.00", 0}, {2, "TR-MM730", "SCAN", "1.00", 0},
      {3, "TR-MM730", "NUMBERING", "1.00", 2},      {4, "TR-MM730", "MECHA-CONTROL", "1.00", 1},
      {5, "HVS 3600", "MECHA-CONTROL", "1.00", 0},  {6, "HVS 3600", "IMPRINTER", "1.00", 2},
      {7, "HVS 2600", "MECHA-CONTROL", "1.00", 0},  {8, "HVS 2600", "IMPRINTER", "1.00", 2},
  };
  for (const Expected& e : expected) {
    fwgen::FirmwareSpec spec;
    spec.model = e.model;
    spec.seed = static_cast<std::uint32_t>(e.model * 77);
    const fwgen::Firmware fw = fwgen::build_firmware(spec);
    FirmwareState s;
    s.image = fw.image;
    s.end_address = static_cast<std::uint32_t>(
        std::find(fw.present.rbegin(), fw.present.rend(), true).base() - fw.present.begin() - 1);
    ASSERT_EQ(identify_firmware(s), 1) << e.model;
    EXPECT_EQ(s.FirmwareTargetCode, e.model);
    EXPECT_EQ(s.scanner_name, e.scanner) << e.model;
    EXPECT_EQ(s.unit_name, e.unit) << e.model;
    EXPECT_EQ(s.file_version, e.version) << e.model;
    EXPECT_EQ(s.download_target_code, e.target) << e.model;
  }
}

TEST(Identify, OtherFamilyMarksAndUnitsGiveTheirModelCodes) {
  struct Case {
    std::string_view family;
    std::string_view unit;
    int model;
    const char* unit_name;
  };
  for (const Case c : {Case{"TR-M3160", "MECHA-CONTROL", 5, "MECHA-CONTROL"},
                       Case{"TR-M3160", "SCANNER UNIT ", 6, "SCANNER U"},
                       Case{"TR-M7180", "MECHA-CONTROL", 7, "MECHA-CONTROL"},
                       Case{"PL-5170U", "MECHA-CONTROL", 7, "MECHA-CONTROL"},
                       Case{"PL-5170U", "ENDORSER     ", 8, "ENDORSER "},
                       Case{"TR-MM730", "NUMBERING-2  ", 3, "NUMBERING"},
                       Case{"TR-MM730", "MECHA-CONTROX", 2, "MECH"}}) {
    FirmwareState s = image_with({{0x100, c.family}, {0x200, "UNIT = "}, {0x207, c.unit}}, 0x1000);
    ASSERT_EQ(identify_firmware(s), 1);
    EXPECT_EQ(s.FirmwareTargetCode, c.model) << c.family << " " << c.unit;
    EXPECT_EQ(s.unit_name, c.unit_name) << c.family << " " << c.unit;
    EXPECT_EQ(s.scanner_name, c.family);
  }
}

TEST(Identify, TheEarliestFamilyMarkWins) {
  FirmwareState a = image_with({{0x50, "HVS 3600"}, {0x80, "TR-MM40 "}}, 0x1000);
  ASSERT_EQ(identify_firmware(a), 1);
  EXPECT_EQ(a.scanner_name, "HVS 3600");
  EXPECT_EQ(a.FirmwareTargetCode, 0);  // family 3 without a unit mark

  FirmwareState b =
      image_with({{0x50, "TR-MM40 "}, {0x80, "TR-MM730"}, {0x90, "UNIT = NUMBERING"}}, 0x1000);
  ASSERT_EQ(identify_firmware(b), 1);
  EXPECT_EQ(b.FirmwareTargetCode, 1);
  EXPECT_EQ(b.scanner_name, "TR-MM40 ");
}

TEST(Identify, FamilyMarksAreExactAndCaseSensitive) {
  for (std::string_view text : {"TR-MM40X", "tr-mm730", "HVS 360", "TR-M316", "PL-5170u"}) {
    FirmwareState s = image_with({{0x100, text}}, 0x1000);
    EXPECT_EQ(identify_firmware(s), 0) << text;
  }
}

TEST(Identify, FamilyOneNameIsSearchedFrom0x401E) {
  FirmwareState before = image_with({{0x10, "TR-MM40 "}, {0x401D, "HV7C-12345"}}, 0x8000);
  ASSERT_EQ(identify_firmware(before), 1);
  EXPECT_EQ(before.scanner_name, "TR-MM40 ");

  FirmwareState at = image_with({{0x10, "TR-MM40 "}, {0x401E, "NQ-MM1234"}}, 0x8000);
  ASSERT_EQ(identify_firmware(at), 1);
  EXPECT_EQ(at.scanner_name, "NQ-MM1234");
  EXPECT_EQ(at.FirmwareTargetCode, 1);
  EXPECT_EQ(at.download_target_code, 0);
}

TEST(Identify, FamilyOneVersionStartsOneCharacterLater) {
  FirmwareState one = image_with({{0x10, "TR-MM40 "}, {0x4100, "VERSION = V2.34"}}, 0x8000);
  ASSERT_EQ(identify_firmware(one), 1);
  EXPECT_EQ(one.file_version, "2.34");
  // Before 0x4000 the family 1 version mark is not searched.
  FirmwareState early = image_with({{0x10, "TR-MM40 "}, {0x3F00, "VERSION = V2.34"}}, 0x8000);
  ASSERT_EQ(identify_firmware(early), 1);
  EXPECT_EQ(early.file_version, "I don't know.");

  FirmwareState other = image_with({{0x10, "HVS 2600"}, {0x100, "VERSION = V2.34"}}, 0x8000);
  ASSERT_EQ(identify_firmware(other), 1);
  EXPECT_EQ(other.file_version, "V2.3");
}

TEST(Identify, SearchesStopAtTheirMarginsBeforeTheEndAddress) {
  // Family: offsets below end - 8.
  FirmwareState outside = image_with({{0x1000 - 8, "HVS 3600"}}, 0x1000);
  EXPECT_EQ(identify_firmware(outside), 0);
  FirmwareState inside = image_with({{0x1000 - 9, "HVS 3600"}}, 0x1000);
  EXPECT_EQ(identify_firmware(inside), 1);

  // Unit: offsets 11 up to below end - 20.
  FirmwareState unit_edge =
      image_with({{0x20, "HVS 3600"}, {0x1000 - 20, "UNIT = MECHA-CONTROL"}}, 0x1000);
  ASSERT_EQ(identify_firmware(unit_edge), 1);
  EXPECT_EQ(unit_edge.FirmwareTargetCode, 0);
  FirmwareState unit_in =
      image_with({{0x20, "HVS 3600"}, {0x1000 - 21, "UNIT = MECHA-CONTROL"}}, 0x1000);
  ASSERT_EQ(identify_firmware(unit_in), 1);
  EXPECT_EQ(unit_in.FirmwareTargetCode, 5);
  FirmwareState unit_early = image_with({{0x0, "HVS 3600"}, {10, "UNIT = MECHA-CONTROL"}}, 0x1000);
  ASSERT_EQ(identify_firmware(unit_early), 1);
  EXPECT_EQ(unit_early.FirmwareTargetCode, 0);
}

TEST(Identify, TinyImagesAreNotSearched) {
  for (std::uint32_t end : {0u, 1u, 7u, 8u}) {
    FirmwareState s = image_with({{0, "HVS 3600"}}, end);
    EXPECT_EQ(identify_firmware(s), 0) << end;
  }
}

TEST(Identify, MarksAtTheVeryEndOfTheImageAreReadWithinIt) {
  FirmwareState s = image_with(
      {{0x6FF00, "TR-M7180"}, {0x6FFD0, "UNIT = MECHA-CONTROL"}, {0x6FFE6, "VERSION = 9.99"}},
      0x6FFFF);
  ASSERT_EQ(identify_firmware(s), 1);
  EXPECT_EQ(s.FirmwareTargetCode, 7);
  EXPECT_EQ(s.file_version, "9.99");
}

TEST(Identify, ModelCodeIsNotInheritedFromThePreviousFile) {
  FirmwareState s = image_with({{0x100, "HVS 3600"}}, 0x1000);
  s.FirmwareTargetCode = 5;
  s.download_target_code = 2;
  s.unit_name = "MECHA-CONTROL";
  ASSERT_EQ(identify_firmware(s), 1);
  EXPECT_EQ(s.FirmwareTargetCode, 0);
  EXPECT_EQ(s.download_target_code, 0);
  EXPECT_EQ(s.unit_name, "I don't know.");
}

TEST(Identify, TextsEndAtAZeroByte) {
  FirmwareState s = image_with({{0x100, "HVS 3600"}, {0x200, "UNIT = "}, {0x207, "AB"}}, 0x1000);
  s.image[0x209] = 0;
  ASSERT_EQ(identify_firmware(s), 1);
  EXPECT_EQ(s.unit_name, "AB");
}

TEST(SumRange, RangeAndChecksumAddressByModelCode) {
  FirmwareState s;
  s.start_address = 0x100;
  s.end_address = 0x19FFF;
  s.FirmwareTargetCode = 1;
  EXPECT_EQ(sum_range_for(s).first, 0x100u);
  EXPECT_EQ(sum_range_for(s).count, 0x1C000u - 0x100u);
  for (std::uint8_t m : {2, 3, 4, 6, 8}) {
    s.FirmwareTargetCode = m;
    EXPECT_EQ(sum_range_for(s).first, 0u);
    EXPECT_EQ(sum_range_for(s).count, 0x20000u);
    EXPECT_EQ(sum_address_for(m), 0x1FFFFu);
  }
  for (std::uint8_t m : {5, 7}) {
    s.FirmwareTargetCode = m;
    EXPECT_EQ(sum_range_for(s).count, 0x70000u);
    EXPECT_EQ(sum_address_for(m), 0x6FFFFu);
  }
  s.FirmwareTargetCode = 0;
  EXPECT_EQ(sum_range_for(s).count, 0u);
  EXPECT_EQ(sum_address_for(0), 0u);
  EXPECT_EQ(sum_address_for(1), 0x1FFFFu);
}

}  // namespace
}  // namespace fwload
