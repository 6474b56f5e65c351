#include "firmware/identify.h"

#include <cstring>
#include <string_view>

#include "firmware/checksum.h"

namespace fwload {
namespace {

// Family marks, compared in this order at each offset.
struct FamilyMark {
  std::string_view text;
  int family;
};
constexpr FamilyMark kFamilyMarks[] = {
    {"TR-MM40 ", 1}, {"TR-MM730", 2}, {"TR-M3160", 3}, {"TR-M7180", 4},
    {"PL-5170U", 4}, {"HVS 3600", 3}, {"HVS 2600", 4},
};
constexpr std::string_view kFamily1Names[] = {"TR-MM", "HV7C-", "NQ-MM"};
constexpr std::string_view kUnitMark = "UNIT = ";
constexpr std::string_view kVersionMark = "VERSION = ";
constexpr std::string_view kMechaControl = "MECHA-CONTROL";
constexpr std::string_view kNumbering = "NUMBERING";

// A search over offsets first <= p < end_address - margin. The search is skipped when the
// end address is below its margin, and p + width never passes the image.
struct SearchWindow {
  std::uint32_t first;
  std::uint32_t limit;  // exclusive
};
SearchWindow window(const FirmwareState& s, std::uint32_t first, std::uint32_t margin,
                    std::uint32_t width) {
  if (s.image.size() < width || s.end_address < margin) return {first, first};
  std::uint32_t limit = s.end_address - margin;
  const auto last_fit = static_cast<std::uint32_t>(s.image.size() - width + 1);
  if (limit > last_fit) limit = last_fit;
  return {first, limit};
}

bool matches(const FirmwareState& s, std::uint32_t p, std::string_view text) {
  return std::memcmp(s.image.data() + p, text.data(), text.size()) == 0;
}

// A text of at most `count` image bytes at p; like a C string it ends at a zero byte.
std::string text_at(const FirmwareState& s, std::uint32_t p, std::size_t count) {
  const char* begin = reinterpret_cast<const char*>(s.image.data() + p);
  return std::string(begin, strnlen(begin, count));
}

}  // namespace

int identify_firmware(FirmwareState& s) {
  s.scanner_name = kUnknownText;
  s.unit_name = kUnknownText;
  s.file_version = kUnknownText;
  // Cleared so that a file without a unit mark never inherits the previous file's kind.
  s.FirmwareTargetCode = 0;
  s.download_target_code = 0;

  int family = 0;
  for (SearchWindow w = window(s, 0, 8, 8); w.first < w.limit && family == 0; ++w.first) {
    for (const FamilyMark& mark : kFamilyMarks) {
      if (matches(s, w.first, mark.text)) {
        family = mark.family;
        s.scanner_name = text_at(s, w.first, 8);
        break;
      }
    }
  }
  if (family == 0) return 0;

  if (family == 1) {
    for (SearchWindow w = window(s, 0x401E, 10, 9); w.first < w.limit; ++w.first) {
      bool hit = false;
      for (std::string_view name : kFamily1Names) hit = hit || matches(s, w.first, name);
      if (hit) {
        s.scanner_name = text_at(s, w.first, 9);
        break;
      }
    }
    s.FirmwareTargetCode = 1;
  } else {
    for (SearchWindow w = window(s, 11, 20, 20); w.first < w.limit; ++w.first) {
      if (!matches(s, w.first, kUnitMark)) continue;
      const std::uint32_t unit = w.first + static_cast<std::uint32_t>(kUnitMark.size());
      const bool mecha = matches(s, unit, kMechaControl);
      if (family == 2) {
        if (mecha) {
          s.unit_name = kMechaControl;
          s.FirmwareTargetCode = 4;
          s.download_target_code = 1;
        } else if (matches(s, unit, kNumbering)) {
          s.unit_name = kNumbering;
          s.FirmwareTargetCode = 3;
          s.download_target_code = 2;
        } else {
          s.unit_name = text_at(s, unit, 4);
          s.FirmwareTargetCode = 2;
          s.download_target_code = 0;
        }
      } else if (mecha) {
        s.unit_name = kMechaControl;
        s.FirmwareTargetCode = family == 3 ? 5 : 7;
        s.download_target_code = 0;
      } else {
        s.unit_name = text_at(s, unit, 9);
        s.FirmwareTargetCode = family == 3 ? 6 : 8;
        s.download_target_code = 2;
      }
      break;
    }
  }

  // The family 1 version text starts one character later than the others'.
  const bool first_family = family == 1;
  for (SearchWindow w = first_family ? window(s, 0x4000, 15, 15) : window(s, 11, 14, 14);
       w.first < w.limit; ++w.first) {
    if (matches(s, w.first, kVersionMark)) {
      s.file_version = text_at(s, w.first + (first_family ? 11 : 10), 4);
      break;
    }
  }
  return 1;
}

std::uint32_t sum_address_for(std::uint8_t model_code) {
  switch (model_code) {
    case 1:
    case 2:
    case 3:
    case 4:
    case 6:
    case 8:
      return kBlock3End - 1;
    case 5:
    case 7:
      return kBlock4End - 1;
    default:
      return 0;
  }
}

SumRange sum_range_for(const FirmwareState& s) {
  switch (s.FirmwareTargetCode) {
    case 1:
      return {s.start_address, block_end(s.end_address + 1) - s.start_address};
    case 2:
    case 3:
    case 4:
    case 6:
    case 8:
      return {0, kBlock3End};
    case 5:
    case 7:
      return {0, kBlock4End};
    default:
      return {};
  }
}

}  // namespace fwload
