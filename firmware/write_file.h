// "Write File...": saves the firmware image, checksums included, as a ".sum" file.
#pragma once

#include "firmware/firmware_state.h"

namespace fwload {

// Asks for the file with the save dialog and writes the sum records of the loaded file's range.
// Returns 1 when the file was written (WriteResult 1) or the user cancelled (WriteResult 2),
// 0 after the "File write failed!!" message otherwise. A file that could not be written whole
// is removed.
int write_sum_file(FirmwareState& state, FirmwareIo& io);

// The name the save dialog proposes for a remembered open file name: a ".mot" ending in any
// case becomes ".sum".
std::string proposed_sum_name(std::string_view open_name);

}  // namespace fwload
