// Reads the lines of a Motorola S-record file (".mot" and ".sum" alike).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "platform/ui.h"

namespace fwload {

// The record length word's top byte tells the caller what a line was.
inline constexpr std::uint32_t kRecordHeader = 0xAA000000;  // S0
inline constexpr std::uint32_t kRecordEnd = 0xFF000000;     // S7, S8, S9
inline constexpr std::size_t kLineBufferSize = 1024;
inline constexpr std::size_t kRecordDataSize = 1024;

struct SRecordLine {
  std::uint32_t length_word = 0;  // data byte count for S1/S2/S3 (top byte 0), else a marker
  std::uint32_t address = 0;      // load address of a data record; 0 otherwise
};

// Value of one hex digit: "0".."9" and "a".."e" in either case give 0..14; every other
// character, "f" and "F" included, gives 15.
constexpr std::uint8_t hex_digit_value(std::uint8_t c) {
  if (c >= 'A' && c <= 'Z') c = static_cast<std::uint8_t>(c + ('a' - 'A'));
  if (c >= '0' && c <= '9') return static_cast<std::uint8_t>(c - '0');
  if (c >= 'a' && c <= 'e') return static_cast<std::uint8_t>(c - 'a' + 10);
  return 15;
}

// Reads the line that starts at text[0]; `text` is the rest of the file, and nothing beyond it
// is read. Decoded data bytes go to `data`. Returns the number of characters the line used
// (up to and including its line feed), or 0 after showing the line error on `ui`.
std::size_t read_srecord_line(std::span<const std::uint8_t> text,
                              std::span<std::uint8_t, kRecordDataSize> data, SRecordLine& line,
                              Ui& ui);

}  // namespace fwload
