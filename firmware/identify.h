// Which scanner, unit and version a loaded firmware image is meant for, found from fixed text
// marks in the image.
#pragma once

#include "firmware/firmware_state.h"

namespace fwload {

// Searches image[0 .. end_address] for the family, unit and version marks and sets the
// model code, the download target code and the three texts of `state`. Returns 1, or 0 when
// no family mark is found. Shows no message.
int identify_firmware(FirmwareState& state);

// Checksum location of a model code: 0x1FFFF, 0x6FFFF, or 0 for an unidentified file.
std::uint32_t sum_address_for(std::uint8_t model_code);

// The range a ".sum" file holds for the loaded file; count 0 when nothing is written.
struct SumRange {
  std::uint32_t first = 0;
  std::uint32_t count = 0;
};
SumRange sum_range_for(const FirmwareState& state);

}  // namespace fwload
