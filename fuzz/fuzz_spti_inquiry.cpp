// Arbitrary bytes as a port driver's IOCTL_SCSI_GET_INQUIRY_DATA reply, through the adapter
// numbering of the pass-through layer: nothing is read beyond the reply, chains that loop end,
// and no reply makes the reader keep more than its limits.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "platform/spti_translate.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  bool too_many = false;
  const auto buses =
      fwload::spti::parse_inquiry_data(std::span<const std::uint8_t>(data, size), &too_many);
  std::size_t units = 0;
  for (const auto& bus : buses) {
    units += bus.units.size();
    for (const auto& unit : bus.units) {
      if (unit.inquiry.size() > fwload::spti::kKeptInquiryBytes) std::abort();
    }
  }
  if (units > fwload::spti::kMostUnitsPerPort) std::abort();
  const auto adapters = fwload::spti::number_adapters({{0, buses}, {3, buses}});
  if (adapters.size() != 2 * buses.size()) std::abort();
  return 0;
}
