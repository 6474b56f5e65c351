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

// A reading of the versions and the layout of the reply it was decoded with: 1 (the 12-byte
// reply), 2 (20 bytes) or 3 (24 bytes); 0 when no read answered.
struct VersionReading {
  ScannerInfo rows;
  int level = 0;
};

// The version rows alone, and vendor and product, of the scanner already selected (found and
// ready): no new search.
VersionReading read_version_rows(ScsiState& state, ScsiIo& io);

// The versions of the scanner selected, after a transfer: that address only is searched afresh
// (quietly) and waited for as the information does, and its reply is decoded only with the
// layout `level` an earlier reading had: a reading whose last answered size is another is read
// once more. rows.vendor is "No device !" when the address did not answer; the level returned
// is the last reading's, for the caller to compare.
VersionReading read_versions_again(ScsiState& state, ScsiIo& io, int level);

}  // namespace fwload
