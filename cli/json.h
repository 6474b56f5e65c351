// A few JSON values for fwload-cli --json, written by hand: strings escaped so that any byte of
// a firmware file's texts gives valid JSON (bytes above 0x7F are taken as Latin-1).
#pragma once

#include <string>
#include <string_view>

namespace fwload {

inline std::string json_string(std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c == '\n') {
      out += "\\n";
    } else if (c < 0x20 || c >= 0x7F) {
      out += "\\u00";
      out += kHex[c >> 4];
      out += kHex[c & 0xF];
    } else {
      out += static_cast<char>(c);
    }
  }
  out += '"';
  return out;
}

}  // namespace fwload
