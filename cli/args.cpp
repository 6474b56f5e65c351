#include "cli/args.h"

#include <vector>

namespace fwload {
namespace {

constexpr std::string_view kUsage =
    "usage: fwload-cli identify FILE\n"
    "       fwload-cli convert FILE [-o OUT]\n"
    "       fwload-cli --help | --version\n"
    "\n"
    "Firmware loader for TR-MM family scanners.\n"
    "\n"
    "  identify FILE        open a .mot or .sum firmware file and print the scanner, unit,\n"
    "                       version and model code it is meant for, with its checksum\n"
    "  convert FILE         open FILE and write it as a checksummed .sum file\n"
    "    -o, --output OUT   where to write (default: FILE with its extension made .sum)\n"
    "\n"
    "Settings are kept in $XDG_CONFIG_HOME/fwload/FWLOAD.INI (default ~/.config/fwload/).\n"
    "Exit status: 0 success, 1 failure (each message as 'Caption: Text' on stderr),\n"
    "2 usage error.\n";

CliParse usage_error(std::string text) {
  CliParse p;
  p.error = std::move(text);
  return p;
}

}  // namespace

std::string_view cli_usage() {
  return kUsage;
}

CliParse parse_cli_args(std::span<const std::string_view> args) {
  CliParse p;
  std::vector<std::string_view> operands;
  bool options_done = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string_view a = args[i];
    if (options_done || a.empty() || a[0] != '-' || a == "-") {
      operands.push_back(a);
      continue;
    }
    if (a == "--") {
      options_done = true;
    } else if (a == "-h" || a == "--help") {
      p.args.command = CliArgs::Command::Help;
      return p;
    } else if (a == "-V" || a == "--version") {
      p.args.command = CliArgs::Command::Version;
      return p;
    } else if (a == "-o" || a == "--output") {
      if (i + 1 >= args.size()) return usage_error("option " + std::string(a) + " needs a value");
      p.args.output = std::string(args[++i]);
      if (p.args.output.empty()) return usage_error("option " + std::string(a) + " needs a value");
    } else if (a.starts_with("--output=")) {
      p.args.output = std::string(a.substr(9));
      if (p.args.output.empty()) return usage_error("option --output needs a value");
    } else {
      return usage_error("unknown option " + std::string(a));
    }
  }
  if (operands.empty()) return usage_error("no command given");
  const std::string_view command = operands[0];
  if (command == "identify" || command == "convert") {
    p.args.command = command == "identify" ? CliArgs::Command::Identify : CliArgs::Command::Convert;
    if (operands.size() != 2) {
      return usage_error(std::string(command) + " takes exactly one FILE");
    }
    p.args.file = std::string(operands[1]);
    if (p.args.command == CliArgs::Command::Identify && !p.args.output.empty()) {
      return usage_error("identify takes no -o");
    }
    return p;
  }
  if (command == "help") {
    p.args.command = CliArgs::Command::Help;
    return p;
  }
  return usage_error("unknown command " + std::string(command));
}

}  // namespace fwload
