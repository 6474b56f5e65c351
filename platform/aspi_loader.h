// The ASPI manager of the platform this program was built for.
#pragma once

#include <functional>
#include <memory>
#include <string_view>

#include "platform/aspi.h"

namespace fwload {

// Receives one line for each thing about the bus the user should know and no request result
// can say (Linux: a device that exists but cannot be opened, and why; Windows: why neither
// manager can be used, a device a Windows driver has claimed).
using AspiNotice = std::function<void(std::string_view line)>;

// Win32: WNASPI32.DLL through LoadLibraryA, and when that cannot be loaded the layer over the
// SCSI pass-through. Linux: the SCSI generic driver.
std::unique_ptr<AspiLoader> make_platform_aspi_loader(AspiNotice notice = {});

}  // namespace fwload
