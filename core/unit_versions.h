// What a scanner's version rows say of its units: the rows by key, which row tells the unit a
// firmware file is for, and how a version the scanner reports compares with a file's. The
// check after a transfer and the plan of an update both ask here.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/scanner_rows.h"

namespace fwload {

// A scanner's version rows by key ("mecha_control", "pre_imprinter", ...), in its order.
using VersionRows = std::vector<std::pair<std::string, std::string>>;

// The version rows of what the scanner information filled ("No device !" rows left out).
VersionRows version_rows_of(const ScannerRows& rows);
// The row's label as the About dialog shows it, without its " :" ("Mecha-Control Unit
// Version"); the key itself for a key that is no row.
std::string version_row_name(std::string_view key);
// The value of the row `key`; null when the scanner reports no such row.
const std::string* row_value(const VersionRows& rows, std::string_view key);

// The keys of the rows that may tell a file's unit (model code): over SCSI by the imprinter
// side it goes to (`post`), or over the serial line; empty when no row tells it.
std::vector<std::string> unit_row_keys(std::uint8_t model_code, bool serial, bool post);
// The first of those rows the scanner reports ("" when none).
std::string unit_row_in(const VersionRows& rows, std::uint8_t model_code, bool serial, bool post);

// How the scanner's version compares with a file's. Equal only when the texts are equal
// without their blanks at either end; otherwise both must be dotted numbers ("1.10", "2.0"),
// compared number by number. Texts that differ but name the same numbers ("1.05" and "1.5"),
// and texts that are not dotted numbers, are Unknown.
enum class VersionOrder { Older, Equal, Newer, Unknown };
VersionOrder compare_versions(std::string_view scanner, std::string_view file);

// `text` without its blanks at either end (a scanner's INQUIRY fields, serial number and
// version texts are padded with blanks).
std::string trimmed(std::string_view text);

}  // namespace fwload
