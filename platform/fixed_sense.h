// Sense data as a request block carries it: in the fixed format (response code 70h, 71h for
// deferred errors; the key in byte 2, ASC and ASCQ in bytes 12 and 13), as an ASPI manager hands
// it over. The kernel's SCSI target, and devices told to, report the descriptor format (72h,
// 73h: key, ASC and ASCQ in bytes 1 to 3): the pass-through layers rewrite it here.
#pragma once

#include <cstdint>
#include <span>

namespace fwload {

// Writes `sense` into `out` (cleared first) in the fixed format: descriptor-format sense is
// rewritten, any other copied as it is; at most out.size() bytes.
void to_fixed_sense(std::span<const std::uint8_t> sense, std::span<std::uint8_t> out);

}  // namespace fwload
