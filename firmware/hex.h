// Upper-case hexadecimal digits as the program prints them: the value formatted as 8 digits,
// of which the last 2 or 6 are kept.
#pragma once

#include <cstdint>
#include <string>

namespace fwload {

inline constexpr char kHexDigits[] = "0123456789ABCDEF";

// Appends the low `digits` hex digits of `value`, most significant first.
inline void append_hex(std::string& out, std::uint32_t value, int digits) {
  for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4)
    out += kHexDigits[(value >> shift) & 0xF];
}

inline std::string hex_digits(std::uint32_t value, int digits) {
  std::string out;
  append_hex(out, value, digits);
  return out;
}

}  // namespace fwload
