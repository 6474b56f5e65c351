// The About dialog's logic: the program's version, the opened file's target and the
// scanner's own report.
#pragma once

#include <string>
#include <utility>
#include <vector>

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

// The program's version as About shows it ("5.00").
std::string program_version();
// The About dialog's program and file rows with the labels its template shows, top to bottom:
// what fwload-cli info prints before the scanner rows when it is given a file.
std::vector<std::pair<std::string, std::string>> about_program_rows(const FirmwareState& firmware);

void about_init(DialogControls& about, const AppState& app, const FirmwareState& firmware,
                Transport& transport);

// OK (1) and Cancel or the close box (2) unload the ASPI manager and end the dialog; returns
// true when the command was handled.
bool about_command(int id, DialogControls& about, Transport& transport);

}  // namespace fwload
