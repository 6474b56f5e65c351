// What the scanner reports about itself over SCSI, as the About dialog's "About Scanner" and
// "About Host" rows show it.
#pragma once

#include <array>
#include <string>

#include "scsi/scsi_state.h"

namespace fwload {

// The rows: labels and values of the four version rows (controls 1015-1018 and 104-106, 112),
// the identity and the host and target ids. Labels left empty here keep the dialog's own.
struct ScannerInfo {
  std::string vendor, product, host, target;
  std::string vendor_label, host_label, target_label;  // empty: the template's label stays
  std::array<std::string, 4> version_label;
  std::array<std::string, 4> version_value;
};

// Unloads the manager, searches afresh (without the "No Target Device !!" box), waits for the
// scanner to become ready (at most 11 tries) and asks for its versions.
ScannerInfo read_scanner_info_scsi(ScsiState& state, ScsiIo& io);

}  // namespace fwload
