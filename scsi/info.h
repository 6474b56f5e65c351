// What the scanner reports about itself over SCSI, as the About dialog's "About Scanner" and
// "About Host" rows show it.
#pragma once

#include <array>
#include <string>

#include "core/scanner_rows.h"
#include "scsi/scsi_state.h"

namespace fwload {

using ScannerInfo = ScannerRows;

// Unloads the manager, searches afresh (without the "No Target Device !!" box), waits for the
// scanner to become ready (at most 11 tries) and asks for its versions.
ScannerInfo read_scanner_info_scsi(ScsiState& state, ScsiIo& io);

// The version rows alone, and vendor and product, of the scanner already selected (found and
// ready): no new search.
ScannerInfo read_version_rows(ScsiState& state, ScsiIo& io);

}  // namespace fwload
