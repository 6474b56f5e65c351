#include "firmware/srecord_reader.h"

#include <array>
#include <cstring>

#include "firmware/messages.h"

namespace fwload {
namespace {

constexpr std::array<std::uint8_t, 256> make_hex_table() {
  std::array<std::uint8_t, 256> table{};
  for (int c = 0; c < 256; ++c) table[c] = hex_digit_value(static_cast<std::uint8_t>(c));
  return table;
}
constexpr std::array<std::uint8_t, 256> kHexValue = make_hex_table();

}  // namespace

std::size_t read_srecord_line(std::span<const std::uint8_t> text,
                              std::span<std::uint8_t, kRecordDataSize> data, SRecordLine& line,
                              Ui& ui) {
  // The line is the characters up to and including the first line feed, at most 1024 of them,
  // and never more than the file still holds. n is the index of the line feed, or 1024.
  const std::size_t window = text.size() < kLineBufferSize ? text.size() : kLineBufferSize;
  const void* lf = std::memchr(text.data(), '\n', window);
  const std::size_t n =
      lf != nullptr ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(lf) - text.data())
                    : kLineBufferSize;
  const std::size_t copied = lf != nullptr ? n + 1 : window;
  // Characters past what the line holds read as 0, as in a cleared line buffer.
  auto at = [&](std::size_t i) -> std::uint8_t { return i < copied ? text[i] : 0; };
  auto digit = [&](std::size_t i) { return hex_digit_value(at(i)); };
  auto byte_at = [&](std::size_t i) {
    return static_cast<std::uint8_t>(digit(i) * 16 + digit(i + 1));
  };

  if (at(0) != 'S') {
    ui.message_box(msg::kLineReadError, msg::kFirstCharNotS);
    return 0;
  }
  // "S", the type, the two length digits and the carriage return before the line feed are
  // the five characters outside the counted part; the count is the byte count, so a line that
  // ends in a bare line feed does not match.
  const std::uint32_t length_code = byte_at(2);
  if (length_code != (static_cast<std::uint32_t>(n) - 5u) / 2u) {
    ui.message_box(msg::kLineReadError, msg::kLengthCodeBad);
    return 0;
  }

  const std::uint8_t type = digit(1);
  std::size_t address_digits = 0;
  switch (type) {
    case 0:
      line = {kRecordHeader, 0};
      return n + 1;
    case 7:
    case 8:
    case 9:
      line = {kRecordEnd, 0};
      return n + 1;
    case 1:
      address_digits = 4;
      break;
    case 2:
      address_digits = 6;
      break;
    case 3:
      address_digits = 8;
      break;
    default:
      ui.message_box(msg::kLineReadError, msg::kAddressTypeBad);
      return 0;
  }

  // The length code counts the address bytes and the checksum byte too; a code below that
  // would give a negative data count.
  const std::uint32_t overhead = static_cast<std::uint32_t>(address_digits / 2 + 1);
  if (length_code < overhead) {
    ui.message_box(msg::kLineReadError, msg::kLengthCodeBad);
    return 0;
  }
  // The length test above keeps every character read from here on inside the line: the
  // address, the data and the checksum end before the line's last character.
  const std::uint8_t* chars = text.data();
  std::uint32_t address = 0;
  for (std::size_t i = 0; i < address_digits; ++i)
    address = (address << 4) | kHexValue[chars[4 + i]];
  const std::uint32_t count = length_code - overhead;
  const std::uint8_t* digits = chars + 4 + address_digits;
  for (std::uint32_t i = 0; i < count; ++i) {
    data[i] =
        static_cast<std::uint8_t>((kHexValue[digits[2 * i]] << 4) | kHexValue[digits[2 * i + 1]]);
  }
  line = {count, address};
  return n + 1;
}

}  // namespace fwload
