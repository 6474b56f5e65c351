// SHA-256 from the system's cryptographic library (Linux: nettle; Windows: CNG, which Windows
// 7 has), so that a firmware file can be checked against a digest its supplier publishes.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace fwload {

// The digest of `bytes` as 64 lower-case hex digits; empty when the library fails.
std::string sha256_hex(std::span<const std::uint8_t> bytes);

}  // namespace fwload
