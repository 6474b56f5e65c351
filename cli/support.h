// What every fwload-cli command shares: the exit status, usage errors, paths and the open of
// FILE, and the rows it prints.
#pragma once

#include <string>
#include <string_view>

#include "cli/console_ui.h"
#include "cli/run_cli.h"
#include "firmware/firmware_state.h"
#include "firmware/open_file.h"

namespace fwload {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitInterrupted = 130;  // Ctrl-C: 128 + SIGINT, as shells report it

// "fwload-cli: TEXT" and the usage line on standard error; returns kExitUsage.
int usage_error(CliEnv& env, std::string_view text);
std::string absolute_path(const std::string& path);
// Opens FILE as the dialog program opens a file named on its command line, with the extension
// accepted in any case and no length limit on the path.
bool open_for_cli(FirmwareState& state, FirmwareIo& io, ConsoleUi& ui, const std::string& path);
// The SHA-256 of the file's bytes as they are on disk ("" when it cannot be read whole).
std::string file_sha256(FileSystem& fs, const std::string& path);
// A scanner's text (INQUIRY field, serial number, unit name) without its blank padding.
std::string trimmed(std::string_view text);
// "LABEL VALUE" on standard output (nothing for an empty label).
void print_row(CliEnv& env, const std::string& label, const std::string& value);

}  // namespace fwload
