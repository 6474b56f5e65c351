// The About dialog's logic: the program's version, the opened file's target and the
// scanner's own report.
#pragma once

#include "app/app_state.h"
#include "app/main_window.h"
#include "app/transport.h"
#include "firmware/firmware_state.h"

namespace fwload {

// The "About Open File" rows: the IMPRINTER unit is named by its product, and without a file
// all three read "Not Open File !".
struct AboutFileRows {
  std::string scanner_name, unit_name, file_version;
};
AboutFileRows about_file_rows(const FirmwareState& firmware);

void about_init(DialogControls& about, const AppState& app, const FirmwareState& firmware,
                Transport& transport);

// OK (1) and Cancel or the close box (2) unload the ASPI manager and end the dialog; returns
// true when the command was handled.
bool about_command(int id, DialogControls& about, Transport& transport);

}  // namespace fwload
