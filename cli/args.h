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
    Scan,
    History,
    Update
  };
  Command command = Command::Help;
  std::string file;           // FILE of identify / convert / transfer; info --file FILE
  std::string region;         // set-default: us, europe or japan
  std::string serial_number;  // serial-number NEW (empty: read only)
  std::string output;         // -o OUT of convert; empty = FILE with ".sum"
  bool post = false;          // --post: a unit file goes to the post-imprinter
  // --emulate MODEL[:FAULT,...], once per emulated scanner: instead of the real bus.
  std::vector<std::string> emulate;
  // Every --target A:T, each once (only a transfer takes more than one).
  std::vector<std::pair<std::uint8_t, std::uint8_t>> targets;
  // Every --serial PORT, each once (only a transfer takes more than one).
  std::vector<std::string> serials;
  bool all = false;     // transfer --all: every supported scanner on the SCSI bus
  bool verify = false;  // transfer --verify: a transfer not verified counts as failed
  std::string log;      // transfer, history --log FILE: the history file (default: the platform's)
  std::string history_serial;  // history --serial-number S
  int last = 0;                // history --last N (0: all)
  bool dry_run = false;        // transfer, update --dry-run: everything up to the first byte sent
  std::vector<std::string> paths;  // update PATH...: firmware files and folders of them
  bool allow_older = false;        // update --allow-older
  bool allow_reinstall = false;    // update --allow-reinstall
  bool json = false;               // identify / info --json
  // --aspi / --spti: Windows' ASPI manager or its SCSI pass-through only, instead of the first
  // that works.
  AspiRoute route = AspiRoute::FirstThatWorks;

  // The one --target of a scanner command: only that adapter and target are asked.
  std::optional<std::pair<std::uint8_t, std::uint8_t>> target() const {
    if (targets.empty()) return std::nullopt;
    return targets.front();
  }
  // The one --serial PORT of info: that line instead of SCSI ("" when none).
  std::string serial() const { return serials.empty() ? std::string() : serials.front(); }
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
