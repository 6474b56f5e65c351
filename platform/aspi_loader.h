// The ASPI manager of the platform this program was built for.
#pragma once

#include <memory>

#include "platform/aspi.h"

namespace fwload {

// Win32: WNASPI32.DLL through LoadLibraryA. Linux: the SCSI generic driver.
std::unique_ptr<AspiLoader> make_platform_aspi_loader();

}  // namespace fwload
