// Synthetic firmware for tests, the demo and the benchmarks: program-like data with the
// identification marks of each model code, written as S-records in the variants a reader
// must cope with. Nothing here comes from a real scanner.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace fwgen {

inline constexpr std::uint32_t kImageSize = 0x70000;

struct FirmwareSpec {
  int model = 5;            // model code 1..8 the marks describe
  std::string family_mark;  // 8-character family mark; empty = the model's usual one
  std::string unit;         // text after "UNIT = "; empty = the model's usual unit
  std::string long_name;    // family 1: the 9-character name found from 0x401E
  std::string version = "1.00";
  bool version_mark = true;  // write a "VERSION = " mark
  bool unit_mark = true;     // write a "UNIT = " mark
  std::uint32_t start = 0;   // first data address
  std::uint32_t end = 0;     // one past the last data address; 0 = the model's usual end
  std::uint32_t seed = 1;
};

// The image as a loader sees it after reading the file (before any checksum step), and which
// bytes the file gives.
struct Firmware {
  std::vector<std::uint8_t> image;  // kImageSize bytes, 0xFF where the file gives nothing
  std::vector<bool> present;        // bytes the file's data records give
};

// Builds the firmware of `spec`: data from start to end with the marks placed inside and the
// checksum locations of the model left blank.
Firmware build_firmware(const FirmwareSpec& spec);

enum class BadLine { None, FirstChar, LengthCode, TypeS5, BareLf };

struct EmitOptions {
  int record_type = 2;               // 1, 2 or 3: S1, S2 or S3 data records
  int record_bytes = 32;             // data bytes per record
  bool lower_case = false;           // hex digits in lower case
  bool header = true;                // an S0 line first
  bool terminator = true;            // the S9/S8/S7 line last
  bool skip_blank = true;            // leave out records whose bytes are all 0xFF
  bool gaps = false;                 // leave holes in the data (the image keeps 0xFF there)
  bool beyond = false;               // add records partly and wholly beyond the image
  bool overlap = false;              // add records that overwrite earlier data
  bool non_hex = false;              // put a character that is no hex digit into one data record
  BadLine bad_line = BadLine::None;  // one malformed line in the middle of the file
};

// The S-record text of `firmware`; the image is updated to what a loader ends with (gaps,
// overlaps and non-hex digits change it).
std::string emit_srecords(Firmware& firmware, const EmitOptions& options);

// One S-record line (with CR LF) of type 1, 2 or 3 with a correct checksum.
std::string srecord_line(int type, std::uint32_t address, const std::vector<std::uint8_t>& data,
                         bool lower_case = false);

}  // namespace fwgen
