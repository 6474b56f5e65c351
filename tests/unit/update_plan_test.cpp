#include "cli/update_plan.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace fwload {
namespace {

CatalogueFile file(const std::string& path, int model, const std::string& version,
                   std::uint8_t sum = 0x81) {
  CatalogueFile f;
  f.path = "/fw/" + path;
  f.opened = true;
  f.state.FirmwareTargetCode = static_cast<std::uint8_t>(model);
  f.state.file_version = version;
  f.state.sum_value = sum;
  f.sha256 = std::string(64, 'a');
  return f;
}

// Which file each model code gets, and why every other file is left out.
TEST(UpdateCatalogue, NewestFileForEachModelCode) {
  std::vector<CatalogueFile> files = {
      file("a.mot", 5, "1.09"),
      file("b.mot", 5, "1.10"),        // newer than 1.09 (numbers, not text)
      file("b.sum", 5, "1.10"),        // the same firmware in its other form
      file("c.mot", 6, "2.00", 0x10),  // same model code and version, another image
      file("d.mot", 6, "2.00", 0x20),
      file("e.mot", 7, "1.05"),  // the same numbers as 1.5, but another text
      file("f.mot", 7, "1.5"),
      file("g.mot", 8, "2.10"),  // SHA256SUMS does not list it
      file("h.mot", 8, "2.00"),  // listed with another digest
      file("i.mot", 1, "1.00"),  // TR-MM40: no scanner reports a row for its unit
      file("j.mot", 4, "1.30"),
  };
  files[7].listed_sha256 = "";
  files[8].listed_sha256 = std::string(64, 'b');
  files.push_back(file("k.mot", 3, "1.00"));
  files.back().opened = false;
  files.back().status = "damaged: LineRead Error: Address Type Code is bad value!";
  const Catalogue c = build_catalogue(files);
  const std::vector<std::string> expected = {
      "older: b.mot has 1.10",
      "newest",
      "same firmware as b.mot, which is sent",
      "refused: conflicts with d.mot",
      "refused: version 2.00 as c.mot, but another image (SUM VALUE 20, not 10)",
      "refused: conflicts with f.mot",
      "refused: its version 1.5 cannot be ordered with e.mot's 1.05",
      "refused: not listed in SHA256SUMS",
      "refused: its SHA-256 is not the one SHA256SUMS lists",
      "use transfer: no scanner reports a version row for its unit",
      "newest",
      "damaged: LineRead Error: Address Type Code is bad value!",
  };
  ASSERT_EQ(c.files.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(c.files[i].status, expected[i]) << c.files[i].path;
  }
  EXPECT_EQ(c.by_model, (std::map<int, std::size_t>{{5, 1}, {4, 10}}));
  EXPECT_TRUE(c.refused);
  EXPECT_FALSE(build_catalogue({file("b.mot", 5, "1.10"), file("b.sum", 5, "1.10")}).refused);
}

// What each unit of a scanner gets: by its version against the file's, the units it has, and
// the two --allow options.
TEST(UpdatePlan, UnitsVersionsAndOptions) {
  const Catalogue c = build_catalogue({file("m5.mot", 5, "1.10"), file("m6.mot", 6, "2.50")});
  const ScannerFamily hvs3600 = *scsi_family(3);
  struct Row {
    VersionRows rows;
    std::vector<std::string> fitted;
    UpdateOptions options;
    std::vector<std::string> plan;  // unit: action, sent or not
  };
  const std::vector<Row> rows = {
      // older / equal / newer / not a dotted number, both imprinters fitted
      {{{"mecha_control", "1.00"}, {"pre_imprinter", "2.50"}, {"post_imprinter", "2.60"}},
       {},
       {},
       {"mecha_control: update, sent", "pre_imprinter: current",
        "post_imprinter: newer on the scanner"}},
      {{{"mecha_control", "1.1x"}, {"pre_imprinter", "None"}, {"post_imprinter", "2.09"}},
       {},
       {},
       {"mecha_control: unknown", "post_imprinter: update, sent"}},
      // the options send what the plan would otherwise leave
      {{{"mecha_control", "1.10"}, {"pre_imprinter", "2.60"}, {"post_imprinter", "None"}},
       {},
       {false, true},
       {"mecha_control: current, sent", "pre_imprinter: newer on the scanner"}},
      {{{"mecha_control", "1.10 "}, {"pre_imprinter", "2.60"}, {"post_imprinter", "x"}},
       {},
       {true, false},
       {"mecha_control: current", "pre_imprinter: newer on the scanner, sent",
        "post_imprinter: unknown, sent"}},
      // versions not read: the units the scanner is known to have are unknown
      {{{"program", "1.00"}},
       {"mecha_control", "post_imprinter"},
       {},
       {"mecha_control: unknown", "post_imprinter: unknown"}},
      // a reply with one imprinter row
      {{{"scsi_unit", "1.20"}, {"mecha_control", "1.21"}, {"imprinter", "None"}},
       {},
       {},
       {"mecha_control: newer on the scanner"}},
  };
  for (const Row& r : rows) {
    std::vector<std::string> got;
    for (const UnitPlan& u : plan_units(r.rows, r.fitted, hvs3600, c, r.options)) {
      got.push_back(u.unit + ": " + action_name(u.action) + (u.send ? ", sent" : ""));
      EXPECT_EQ(u.post, u.unit == "post_imprinter");
    }
    EXPECT_EQ(got, r.plan) << r.rows.front().second;
  }
  // A unit the catalogue has no file for; the serial line's units and model codes.
  const Catalogue serial_files = build_catalogue({file("m4.mot", 4, "1.30")});
  std::vector<std::string> got;
  for (const UnitPlan& u : plan_units({{"mecha_control", "1.23"}, {"imprinter", "2.01"}}, {},
                                      serial_family(), serial_files, {})) {
    got.push_back(u.unit + ": " + action_name(u.action));
  }
  EXPECT_EQ(got, (std::vector<std::string>{"mecha_control: update", "imprinter: no file"}));
  EXPECT_FALSE(scsi_family(1));
  EXPECT_EQ(scsi_family(4)->mecha_code, 7);
}

// One comparison for the check after a transfer and for the plan.
TEST(UpdatePlan, VersionOrder) {
  EXPECT_EQ(compare_versions("1.09", "1.10"), VersionOrder::Older);
  EXPECT_EQ(compare_versions("2.10", "2.0"), VersionOrder::Newer);
  EXPECT_EQ(compare_versions(" 1.1 ", "1.1"), VersionOrder::Equal);
  EXPECT_EQ(compare_versions("1.05", "1.5"), VersionOrder::Unknown);
  EXPECT_EQ(compare_versions("2.0", "2.0.1"), VersionOrder::Older);
  EXPECT_EQ(compare_versions("I don't know.", "1.00"), VersionOrder::Unknown);
  EXPECT_EQ(compare_versions("1..0", "1.0"), VersionOrder::Unknown);
  EXPECT_EQ(compare_versions("1234567890", "1"), VersionOrder::Unknown);
}

}  // namespace
}  // namespace fwload
