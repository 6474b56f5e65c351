#include <windows.h>

#include <bcrypt.h>

#include <algorithm>
#include <vector>

#include "platform/sha256.h"

namespace fwload {

// CNG's provider, a hash object, data in pieces that fit a ULONG, the digest. (BCryptHash,
// the one-call form, needs Windows 10.)
bool sha256(std::span<const std::uint8_t> bytes, Sha256Digest& digest) {
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  if (!BCRYPT_SUCCESS(
          BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0))) {
    return false;
  }
  bool ok = false;
  DWORD object_length = 0;
  ULONG got = 0;
  if (BCRYPT_SUCCESS(BCryptGetProperty(algorithm, BCRYPT_OBJECT_LENGTH,
                                       reinterpret_cast<PUCHAR>(&object_length),
                                       sizeof object_length, &got, 0))) {
    std::vector<UCHAR> object(object_length);
    BCRYPT_HASH_HANDLE hash = nullptr;
    if (BCRYPT_SUCCESS(
            BCryptCreateHash(algorithm, &hash, object.data(), object_length, nullptr, 0, 0))) {
      ok = true;
      std::size_t done = 0;
      while (ok && done < bytes.size()) {
        const ULONG piece =
            static_cast<ULONG>(std::min<std::size_t>(bytes.size() - done, 1u << 30));
        ok =
            BCRYPT_SUCCESS(BCryptHashData(hash, const_cast<PUCHAR>(bytes.data() + done), piece, 0));
        done += piece;
      }
      ok = ok && BCRYPT_SUCCESS(BCryptFinishHash(hash, digest.data(), digest.size(), 0));
      BCryptDestroyHash(hash);
    }
  }
  BCryptCloseAlgorithmProvider(algorithm, 0);
  return ok;
}

}  // namespace fwload
