// How a scanner command reaches the scanner: the platform's SCSI manager, or the emulated
// scanner of --emulate (with its log in FWLOAD_EMULATOR_LOG), and the test settings.
#pragma once

#include <memory>
#include <vector>

#include "cli/args.h"
#include "cli/run_cli.h"
#include "emulator/scanner.h"
#include "platform/aspi.h"
#include "scsi/scsi_state.h"

namespace fwload {

struct ScsiAccess {
  std::vector<std::shared_ptr<emulator::Scanner>> scanners;
  std::unique_ptr<AspiLoader> emulated;
  AspiLoader* loader = nullptr;
};

// Sets up `access`; returns -1 when the command may go on, else the exit status.
int scsi_access(const CliArgs& args, CliEnv& env, ScsiAccess& access);

// The command's choices for the SCSI code: --target, and the test setting the dialog program
// has too, the longest one SCSI request may stay pending (FWLOAD_REQUEST_BOUND_MS).
void prepare_scsi_state(ScsiState& scsi, const CliArgs& args);

}  // namespace fwload
