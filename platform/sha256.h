// SHA-256 from the system's cryptographic library (Linux: nettle; Windows: CNG, which Windows
// 7 has), so that a firmware file can be checked against a digest its supplier publishes.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>

namespace fwload {

using Sha256Digest = std::array<std::uint8_t, 32>;

// The digest of `bytes` from the platform's library; false when the library fails.
bool sha256(std::span<const std::uint8_t> bytes, Sha256Digest& digest);

// The digest of `bytes` as 64 lower-case hex digits, as suppliers publish it; empty when the
// library fails.
inline std::string sha256_hex(std::span<const std::uint8_t> bytes) {
  Sha256Digest digest{};
  if (!sha256(bytes, digest)) return {};
  constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (const std::uint8_t b : digest) {
    hex += kDigits[b >> 4];
    hex += kDigits[b & 0x0F];
  }
  return hex;
}

}  // namespace fwload
