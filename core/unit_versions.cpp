#include "core/unit_versions.h"

#include <algorithm>

#include "res/string_table.h"

namespace fwload {
namespace {

// The version rows a scanner can report, and their keys in the history.
struct VersionKey {
  StringId label;
  const char* key;
};
constexpr VersionKey kVersionKeys[] = {
    {kStrMechaControlVersion, "mecha_control"},
    {kStrPreImprinterVersion, "pre_imprinter"},
    {kStrPostImprinterVersion, "post_imprinter"},
    {kStrImprinterVersion, "imprinter"},
    {kStrScsiUnitVersion, "scsi_unit"},
    {kStrBootVersion, "boot"},
    {kStrProgramVersion, "program"},
    {kStrImageTableVersion, "image_table"},
};

// Which version row tells the unit a file is for, by its model code: over SCSI (an imprinter
// unit file by the side it went to; a scanner whose reply has one imprinter row reports it
// there) and over the serial line (Mecha-Control and Imprinter rows only).
struct UnitRow {
  std::uint8_t model_code;
  std::vector<std::string> scsi_pre, scsi_post, serial;
};
const std::vector<UnitRow>& unit_rows() {
  static const std::vector<UnitRow> rows = {
      {1, {}, {}, {}},  // TR-MM40 firmware: its scanner reports boot, program and table only
      {2, {"scsi_unit"}, {"scsi_unit"}, {}},                         // TR-MM730, another unit
      {3, {"imprinter"}, {"imprinter"}, {"imprinter"}},              // TR-MM730 NUMBERING
      {4, {"mecha_control"}, {"mecha_control"}, {"mecha_control"}},  // TR-MM730 MECHA-CONTROL
      {5, {"mecha_control"}, {"mecha_control"}, {"mecha_control"}},  // 3160 / 3600
      {6, {"pre_imprinter", "imprinter"}, {"post_imprinter", "imprinter"}, {"imprinter"}},
      {7, {"mecha_control"}, {"mecha_control"}, {"mecha_control"}},  // 7180 / 5170 / 2600
      {8, {"pre_imprinter", "imprinter"}, {"post_imprinter", "imprinter"}, {"imprinter"}},
  };
  return rows;
}

// The numbers of a dotted version ("1.10" -> 1, 10); false when `text` is not one.
bool dotted_numbers(std::string_view text, std::vector<unsigned long>& numbers) {
  numbers.clear();
  std::size_t i = 0;
  for (;;) {
    unsigned long n = 0;
    std::size_t digits = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i, ++digits) {
      if (digits == 9) return false;  // no version part is that long
      n = n * 10 + static_cast<unsigned long>(text[i] - '0');
    }
    if (digits == 0) return false;
    numbers.push_back(n);
    if (i == text.size()) return true;
    if (text[i] != '.') return false;
    ++i;
  }
}

}  // namespace

VersionRows version_rows_of(const ScannerRows& rows) {
  VersionRows out;
  for (std::size_t i = 0; i < rows.version_label.size(); ++i) {
    for (const VersionKey& k : kVersionKeys) {
      if (rows.version_label[i] == table_string(k.label) &&
          rows.version_value[i] != kNoDeviceText) {
        out.emplace_back(k.key, rows.version_value[i]);
      }
    }
  }
  return out;
}

std::string version_row_name(std::string_view key) {
  for (const VersionKey& k : kVersionKeys) {
    if (key != k.key) continue;
    std::string label(table_string(k.label));
    if (label.size() >= 2 && label.compare(label.size() - 2, 2, " :") == 0)
      label.resize(label.size() - 2);
    return label;
  }
  return std::string(key);
}

const std::string* row_value(const VersionRows& rows, std::string_view key) {
  for (const auto& [row, value] : rows) {
    if (row == key) return &value;
  }
  return nullptr;
}

std::vector<std::string> unit_row_keys(std::uint8_t model_code, bool serial, bool post) {
  for (const UnitRow& row : unit_rows()) {
    if (row.model_code == model_code)
      return serial ? row.serial : post ? row.scsi_post : row.scsi_pre;
  }
  return {};
}

std::string unit_row_in(const VersionRows& rows, std::uint8_t model_code, bool serial, bool post) {
  for (const std::string& key : unit_row_keys(model_code, serial, post)) {
    if (row_value(rows, key) != nullptr) return key;
  }
  return {};
}

VersionOrder compare_versions(std::string_view scanner, std::string_view file) {
  const std::string a = trimmed(scanner), b = trimmed(file);
  if (a == b) return VersionOrder::Equal;
  std::vector<unsigned long> x, y;
  if (!dotted_numbers(a, x) || !dotted_numbers(b, y)) return VersionOrder::Unknown;
  // A part one of them lacks counts as 0: "2.0" and "2.0.1" compare as 2.0.0 and 2.0.1.
  const std::size_t n = std::max(x.size(), y.size());
  x.resize(n, 0);
  y.resize(n, 0);
  if (x == y) return VersionOrder::Unknown;  // other texts for the same numbers
  return x < y ? VersionOrder::Older : VersionOrder::Newer;
}

std::string trimmed(std::string_view text) {
  const std::size_t first = text.find_first_not_of(' ');
  if (first == std::string_view::npos) return {};
  return std::string(text.substr(first, text.find_last_not_of(' ') - first + 1));
}

}  // namespace fwload
