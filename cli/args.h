// The command line of fwload-cli.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/aspi.h"

namespace fwload {

struct CliArgs {
  enum class Command {
    Help,
    Version,
    Identify,
    Convert,
    Transfer,
    Info,
    SetDefault,
    SerialNumber,
    Scan
  };
  Command command = Command::Help;
  std::string file;           // FILE of identify / convert / transfer; info --file FILE
  std::string region;         // set-default: us, europe or japan
  std::string serial_number;  // serial-number NEW (empty: read only)
  std::string output;         // -o OUT of convert; empty = FILE with ".sum"
  bool post = false;          // --post: a unit file goes to the post-imprinter
  // --emulate MODEL[:FAULT,...], once per emulated scanner: instead of the real bus.
  std::vector<std::string> emulate;
  // --target A:T: only that adapter and target are asked.
  std::optional<std::pair<std::uint8_t, std::uint8_t>> target;
  std::string serial;    // --serial PORT: the serial line instead of SCSI
  bool dry_run = false;  // transfer --dry-run: everything up to the first byte sent
  bool json = false;     // identify / info --json
  // --aspi / --spti: Windows' ASPI manager or its SCSI pass-through only, instead of the first
  // that works.
  AspiRoute route = AspiRoute::FirstThatWorks;
};

struct CliParse {
  CliArgs args;
  std::string error;  // non-empty: a usage error, said in one line
};

// Parses the arguments after the program name.
CliParse parse_cli_args(std::span<const std::string_view> args);

// The usage text printed by --help.
std::string_view cli_usage();

}  // namespace fwload
