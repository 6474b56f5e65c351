// What every fwload-cli command shares: the exit status, usage errors, paths and the open of
// FILE, and the rows it prints.
#pragma once

#include <string>
#include <string_view>

#include "cli/console_ui.h"
#include "cli/run_cli.h"
#include "core/unit_versions.h"
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
// accepted in any case and no length limit on the path. With `sha256` it also receives the
// SHA-256 of the bytes that were read (and loaded); a digest that cannot be made fails the
// open with a message.
bool open_for_cli(FirmwareState& state, FirmwareIo& io, ConsoleUi& ui, const std::string& path,
                  std::string* sha256 = nullptr);
// A serial port's name as Windows knows the device: COMn in upper case, without "\\.\".
std::string windows_port_name(std::string_view port);
// The name two spellings of one serial port share: the resolved path of a device on POSIX
// (the name as given when it does not resolve), windows_port_name on Windows.
std::string canonical_port_name(const std::string& port);
// "LABEL VALUE" on standard output (nothing for an empty label).
void print_row(CliEnv& env, const std::string& label, const std::string& value);

}  // namespace fwload
