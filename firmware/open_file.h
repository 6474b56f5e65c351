// "Open File...": reads a ".mot" or ".sum" file into the firmware image, identifies it and
// makes sure the image carries its checksum.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>

#include "firmware/firmware_state.h"

namespace fwload {

// The command-line buffer keeps this many characters of the program's command line.
inline constexpr std::size_t kCommandLineMax = 256;
inline constexpr std::size_t kPathMax = 256;

// What a command line asks for: "/T " (transfer after the open), then "/C " (close after the
// transfer), then the path.
struct CommandLineRequest {
  bool transfer_after_open = false;
  bool close_after_transfer = false;
  std::string path;  // cut after the four extension characters
  bool extension_ok = false;
};

// Parses the command-line text. The path is at most `max_length` characters of the line
// (kCommandLineMax for the dialog program); its extension is the four characters from its
// last "." and must be ".mot", ".sum", ".MOT" or ".SUM" (any case when `any_case`).
CommandLineRequest parse_command_line(std::string_view command_line, std::size_t max_length,
                                      bool any_case, bool parse_switches = true);

struct OpenOptions {
  // Recognise "/T " and "/C " at the front of the command line.
  bool parse_switches = true;
  // Accept ".mot"/".sum" in any mix of cases, as the file dialog does.
  bool any_case_extension = false;
  std::size_t max_command_line = kCommandLineMax;
  // When set, is given the file's bytes as they were read, once the whole file is in: the
  // bytes the image is made of (a digest of them then names what was loaded).
  std::function<void(std::span<const std::uint8_t>)> file_bytes;
};

// Opens the file named by `command_line`, or asks for one with the open-file dialog when it is
// empty. The command line is cleared once used. Returns 1 when the image is loaded, identified
// and checksummed (OpenResult 1), else 0 with the reason in state.open_failure; every failure
// but a cancelled dialog and a failed identification has shown its message.
int open_firmware_file(FirmwareState& state, FirmwareIo& io, std::string& command_line,
                       const OpenOptions& options = {});

// The three status lines' tail shown after a completed open:
// "\nSUM VALUE = XX hex\nADDRESS    = XXXXXX hex".
std::string open_summary(const FirmwareState& state);

// Folder part and name part of a path at its last separator (no folder: empty folder).
struct PathParts {
  std::string folder;
  std::string name;
};
PathParts split_path(std::string_view path, char separator);

// Whether `text` ends in `suffix`, letters compared in any case.
bool ends_with_any_case(std::string_view text, std::string_view suffix);

}  // namespace fwload
