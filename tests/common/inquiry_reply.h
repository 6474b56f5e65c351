// IOCTL_SCSI_GET_INQUIRY_DATA replies as a port driver gives them, for the native translation
// tests and the Windows layer's tests.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/spti_translate.h"

namespace fwload::test {

struct FakeUnit {
  std::uint8_t target;
  bool claimed;
  const char* product;  // INQUIRY bytes 16..31; vendor "ORVEL", device type 6
};

// One bus per element of `buses`, each unit with 36 bytes of INQUIRY data.
inline std::vector<std::uint8_t> inquiry_reply(const std::vector<std::vector<FakeUnit>>& buses) {
  using namespace fwload::spti;
  std::vector<std::uint8_t> r(kBusDataOffset + buses.size() * kBusDataSize, 0);
  r[0] = static_cast<std::uint8_t>(buses.size());
  auto put32 = [&](std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) r[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
  };
  for (std::size_t b = 0; b < buses.size(); ++b) {
    const std::size_t bus = kBusDataOffset + b * kBusDataSize;
    r[bus] = static_cast<std::uint8_t>(buses[b].size());
    std::size_t link = bus + 4;  // where the offset of the next unit goes
    for (const FakeUnit& u : buses[b]) {
      const std::size_t at = r.size();
      put32(link, static_cast<std::uint32_t>(at));
      r.resize(at + kUnitHeaderSize + 36, ' ');
      std::memset(&r[at], 0, kUnitHeaderSize);
      r[at] = static_cast<std::uint8_t>(b);
      r[at + 1] = u.target;
      r[at + 3] = u.claimed ? 1 : 0;
      put32(at + 4, 36);
      r[at + kUnitHeaderSize] = 0x06;
      std::memcpy(&r[at + kUnitHeaderSize + 8], "ORVEL", 5);
      std::memcpy(&r[at + kUnitHeaderSize + 16], u.product, std::strlen(u.product));
      link = at + 8;
    }
  }
  return r;
}

}  // namespace fwload::test
