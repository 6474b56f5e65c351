// The serial port through the Windows communications calls.
#pragma once

#include <windows.h>

#include "platform/serial_device.h"

namespace fwload {

// Every field of the device control block as the program sets it.
void fill_dcb(DCB& dcb, const LineSettings& settings);

}  // namespace fwload
