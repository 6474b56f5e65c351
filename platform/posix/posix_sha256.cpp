#include <nettle/sha2.h>

#include <array>
#include <cstdio>

#include "platform/sha256.h"

namespace fwload {

std::string sha256_hex(std::span<const std::uint8_t> bytes) {
  sha256_ctx context;
  sha256_init(&context);
  sha256_update(&context, bytes.size(), bytes.data());
  std::array<std::uint8_t, SHA256_DIGEST_SIZE> digest{};
  sha256_digest(&context, digest.size(), digest.data());
  std::string hex;
  for (std::uint8_t b : digest) {
    char pair[3];
    std::snprintf(pair, sizeof pair, "%02x", static_cast<unsigned>(b));
    hex += pair;
  }
  return hex;
}

}  // namespace fwload
