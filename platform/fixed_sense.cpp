#include "platform/fixed_sense.h"

#include <algorithm>

namespace fwload {

void to_fixed_sense(std::span<const std::uint8_t> sense, std::span<std::uint8_t> out) {
  std::fill(out.begin(), out.end(), 0);
  const std::uint8_t code = sense.empty() ? 0 : sense[0] & 0x7F;
  if ((code != 0x72 && code != 0x73) || sense.size() < 4 || out.size() < 14) {
    std::copy_n(sense.begin(), std::min(sense.size(), out.size()), out.begin());
    return;
  }
  out[0] = code == 0x72 ? 0x70 : 0x71;
  out[2] = sense[1] & 0x0F;
  out[7] = 10;  // the additional length up to and with the ASCQ and its two bytes after
  out[12] = sense[2];
  out[13] = sense[3];
}

}  // namespace fwload
