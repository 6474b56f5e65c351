// Binding to the ASPI manager and finding the one supported scanner on its buses.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "scsi/scsi_state.h"

namespace fwload {

inline constexpr std::string_view kAspiLibraryName = "WNASPI32.DLL";

// Loads the manager if needed and searches adapters, then targets 0 to 7 (LUN 0), for a
// scanner of a vendor of the model table (scsi/models.h). Returns 1 with the selected scanner
// described in `state`, or 0 after the message: the manager's own failures always; the
// table's kStrNoTargetDevice unless `quiet` (the About path says so in its fields).
int find_scanner(ScsiState& state, ScsiIo& io, bool quiet = false);

// "No Target Device !!" with the caption "Scanner Error".
void show_no_target_device(Ui& ui);

// A device on the bus as scan_bus finds it.
struct ScsiDevice {
  std::uint8_t adapter = 0, target = 0;
  std::uint8_t type = 0;                  // peripheral device type (6: scanner)
  std::string vendor, product, revision;  // as the INQUIRY reply gives them
  bool scanner = false;                   // what find_scanner would choose
  std::string path;                       // where the manager reaches it ("" if it does not say)
  std::string problem;                    // why it cannot be used ("" when it answered)
};
// Every device that answers INQUIRY on every adapter (targets 0-7, LUN 0), and those the
// manager knows but cannot reach. Null after the message when the manager cannot be used.
std::optional<std::vector<ScsiDevice>> scan_bus(ScsiState& state, ScsiIo& io);

// Unloads the manager (the next search loads it again).
void release_aspi(ScsiState& state);

// Model class 0-4 of a product identification (its row of the model table).
std::uint8_t model_class_of(std::string_view product);

struct ImprinterFlags {
  std::uint8_t pre = 0;
  std::uint8_t post = 0;
};
// The imprinter units a scanner carries, from its vendor, product and INQUIRY bytes 37 and 39.
ImprinterFlags imprinter_flags_of(std::string_view vendor, std::string_view product,
                                  std::uint8_t byte37, std::uint8_t byte39);

}  // namespace fwload
