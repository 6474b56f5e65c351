// The About dialog's logic: the program's version, the opened file's target and the
// scanner's own report.
#pragma once

#include "app/app_state.h"
#include "app/main_window.h"
#include "app/transport.h"
#include "firmware/firmware_state.h"

namespace fwload {

void about_init(DialogControls& about, const AppState& app, const FirmwareState& firmware,
                Transport& transport);

// OK (1) and Cancel or the close box (2) unload the ASPI manager and end the dialog; returns
// true when the command was handled.
bool about_command(int id, DialogControls& about, Transport& transport);

}  // namespace fwload
