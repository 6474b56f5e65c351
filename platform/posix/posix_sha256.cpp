#include <nettle/sha2.h>

#include "platform/sha256.h"

namespace fwload {

static_assert(SHA256_DIGEST_SIZE == sizeof(Sha256Digest));

bool sha256(std::span<const std::uint8_t> bytes, Sha256Digest& digest) {
  sha256_ctx context;
  sha256_init(&context);
  sha256_update(&context, bytes.size(), bytes.data());
  sha256_digest(&context, digest.size(), digest.data());
  return true;
}

}  // namespace fwload
