#include "cli/args.h"

#include <algorithm>
#include <vector>

namespace fwload {
namespace {

constexpr std::string_view kUsage =
    "Usage: fwload-cli identify FILE [--json]\n"
    "   or: fwload-cli convert FILE [-o OUT]\n"
    "   or: fwload-cli scan [--json] [ROUTE]\n"
    "   or: fwload-cli transfer FILE [--post] [--dry-run] [--verify] [--json] [--log FILE] [JOBS]\n"
    "   or: fwload-cli info [--file FILE] [--json] [--target A:T] [ROUTE]\n"
    "   or: fwload-cli set-default us|europe|japan [--target A:T] [ROUTE]\n"
    "   or: fwload-cli serial-number [NEW] [--target A:T] [ROUTE]\n"
    "   or: fwload-cli update PATH... [--dry-run] [--allow-older] [--allow-reinstall] [--json] "
    "[--log FILE] [JOBS]\n"
    "   or: fwload-cli history [--json] [--log FILE] [--serial-number S] [--last N]\n"
    "   or: fwload-cli --help | --version\n"
    "\n"
    "Firmware loader for TR-MM family scanners. ROUTE is how the scanner is reached:\n"
    "--aspi or --spti (Windows), --emulate MODEL[:FAULT,...] (once per emulated scanner), or\n"
    "--serial PORT (transfer and info); without it, the SCSI bus. JOBS are the scanners a\n"
    "transfer loads at once: --target A:T and --serial PORT (each as often as needed) and\n"
    "--all, with ROUTE; without them, the first scanner found.\n"
    "\n"
    "  identify FILE        open a .mot or .sum firmware file and print the scanner, unit,\n"
    "                       version and model code it is meant for, with its checksum\n"
    "  convert FILE         open FILE and write it as a checksummed .sum file\n"
    "    -o, --output OUT   where to write (default: FILE with its extension made .sum)\n"
    "  transfer FILE        open FILE and load it into the scanner (over SCSI unless --serial)\n"
    "    --post             send an imprinter unit file to the post-imprinter (default: pre)\n"
    "    --dry-run          find the scanner, wait until it is ready, check that FILE suits it,\n"
    "                       and print what would be sent; nothing is written\n"
    "    --all              every supported scanner on the SCSI bus that FILE suits (the\n"
    "                       others are skipped)\n"
    "    --verify           count a transfer whose scanner does not report FILE's version\n"
    "                       afterwards as failed\n"
    "    --log FILE         the transfer history to append to (default:\n"
    "                       $XDG_STATE_HOME/fwload/transfers.jsonl, ~/.local/state/fwload/)\n"
    "  update PATH...       bring every scanner (JOBS; without them every supported scanner\n"
    "                       on the SCSI bus) up to the newest firmware among the .mot/.sum\n"
    "                       files PATH names (files, or folders of them; a folder's\n"
    "                       SHA256SUMS must list each with its digest): prints the plan,\n"
    "                       then loads each unit whose version is older, mecha-control\n"
    "                       first, and checks that the scanner reports the file's version\n"
    "    --dry-run          print the plan only; nothing is written\n"
    "    --allow-older      also load a unit whose version is newer or cannot be compared\n"
    "    --allow-reinstall  also load a unit whose version is the file's\n"
    "  history              print the transfer history, newest last (a transfer that never\n"
    "                       ended is shown as unfinished)\n"
    "    --serial-number S  only the records of the scanner with serial number S\n"
    "    --last N           only the last N records\n"
    "  --json               identify, info, scan, transfer, update and history: JSON instead\n"
    "                       of rows\n"
    "  info                 print what the scanner reports about itself and where it is\n"
    "    --file FILE        and, first, the program's version and what FILE is meant for\n"
    "  set-default REGION   reset the scanner (HV Scanner 3600/2600) to its regional defaults\n"
    "  serial-number [NEW]  print the scanner's serial number, or write NEW (at most 16\n"
    "                       characters) and print what the scanner then reports\n"
    "  scan                 list every SCSI device: address, type, vendor, product, revision,\n"
    "                       whether it is a supported scanner, and where it is reached\n"
    "  --target A:T         ask only adapter A, target T (as scan shows them); without it the\n"
    "                       first supported scanner found is used\n"
    "  --emulate MODEL[:FAULT,...]\n"
    "                       use the emulated scanner MODEL with its FAULTs instead of the SCSI\n"
    "                       bus, for example hvs3600 or hvs3600:door,latency=5; given more than\n"
    "                       once, several scanners placed with adapter=A,target=T\n"
    "                       (--emulate help lists them)\n"
    "  --aspi, --spti       Windows: use only the ASPI manager WNASPI32.DLL, or only the\n"
    "                       Windows SCSI pass-through (default: the manager if it loads, else\n"
    "                       the pass-through, which needs administrator rights)\n"
    "  --serial PORT        use the serial line PORT (a device such as /dev/ttyS0 on Linux,\n"
    "                       COM1 or COM2 on Windows): 19200 baud, 8E1, RTS/CTS\n"
    "\n"
    "SCSI on Linux goes through the SCSI generic driver (/dev/sg*); on Windows through the\n"
    "ASPI manager WNASPI32.DLL or, when none loads, the Windows SCSI pass-through.\n"
    "Settings are kept in $XDG_CONFIG_HOME/fwload/FWLOAD.INI (default ~/.config/fwload/).\n"
    "\n"
    "Ctrl-C during a transfer stops it at once (a request the scanner holds is given up) as\n"
    "long as the scanner has not been told to save the firmware: it keeps its old one. While\n"
    "it saves, the first Ctrl-C only warns and a second one ends fwload-cli at once; after\n"
    "it has saved, Ctrl-C ends the version read. info and scan end at once; set-default and\n"
    "serial-number end at once before they write, and finish a write already sent.\n"
    "\n"
    "Exit status: 0 success, 1 failure (each message as 'Caption: Text' on stderr), 2 usage\n"
    "error, 130 interrupted.\n";

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
  bool options_done = false, output_given = false, emulate_given = false, serial_given = false;
  bool file_given = false, history_serial_given = false;
  int targets_given = 0, serials_given = 0;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string_view a = args[i];
    if (options_done || a.empty() || a[0] != '-' || a == "-") {
      operands.push_back(a);
      continue;
    }
    // --name=value and --name value both work for the options with a value.
    std::string_view name = a, value;
    bool inline_value = false;
    if (a.starts_with("--") && a.find('=') != std::string_view::npos) {
      name = a.substr(0, a.find('='));
      value = a.substr(a.find('=') + 1);
      inline_value = true;
    }
    auto take_value = [&]() -> bool {
      if (!inline_value) {
        if (i + 1 >= args.size()) return false;
        value = args[++i];
      }
      return !value.empty();
    };
    if (a == "--") {
      options_done = true;
    } else if (a == "-h" || a == "--help") {
      p.args.command = CliArgs::Command::Help;
      return p;
    } else if (a == "-V" || a == "--version") {
      p.args.command = CliArgs::Command::Version;
      return p;
    } else if (name == "-o" || name == "--output") {
      if (!take_value()) return usage_error("option " + std::string(name) + " needs a value");
      p.args.output = std::string(value);
      output_given = true;
    } else if (name == "--emulate") {
      if (!take_value()) return usage_error("option --emulate needs a value");
      p.args.emulate.emplace_back(value);
      emulate_given = true;
    } else if (name == "--target") {
      if (!take_value()) return usage_error("option --target needs a value");
      // A:T, each 0 to 255 (ASPI numbers adapters and targets with a byte).
      const std::size_t colon = value.find(':');
      int adapter = -1, target = -1;
      auto number = [](std::string_view t, int& out) {
        if (t.empty() || t.size() > 3) return false;
        out = 0;
        for (char c : t) {
          if (c < '0' || c > '9') return false;
          out = out * 10 + (c - '0');
        }
        return out <= 255;
      };
      if (colon == std::string_view::npos || !number(value.substr(0, colon), adapter) ||
          !number(value.substr(colon + 1), target)) {
        return usage_error("--target takes ADAPTER:TARGET, for example 0:3");
      }
      const auto address =
          std::make_pair(static_cast<std::uint8_t>(adapter), static_cast<std::uint8_t>(target));
      if (std::find(p.args.targets.begin(), p.args.targets.end(), address) ==
          p.args.targets.end()) {
        p.args.targets.push_back(address);
      }
      ++targets_given;
    } else if (name == "--serial") {
      if (!take_value()) return usage_error("option --serial needs a value");
      if (std::find(p.args.serials.begin(), p.args.serials.end(), value) == p.args.serials.end()) {
        p.args.serials.emplace_back(value);
      }
      serial_given = true;
      ++serials_given;
    } else if (name == "--log") {
      if (!take_value()) return usage_error("option --log needs a value");
      p.args.log = std::string(value);
    } else if (name == "--serial-number") {
      if (!take_value()) return usage_error("option --serial-number needs a value");
      p.args.history_serial = std::string(value);
      history_serial_given = true;
    } else if (name == "--last") {
      if (!take_value()) return usage_error("option --last needs a value");
      int n = 0;
      for (char c : value) {
        if (c < '0' || c > '9' || n > 100'000'000) return usage_error("--last takes a number");
        n = n * 10 + (c - '0');
      }
      if (n == 0) return usage_error("--last takes a number from 1");
      p.args.last = n;
    } else if (a == "--all") {
      p.args.all = true;
    } else if (a == "--verify") {
      p.args.verify = true;
    } else if (name == "--file") {
      if (!take_value()) return usage_error("option --file needs a value");
      p.args.file = std::string(value);
      file_given = true;
    } else if (a == "--dry-run") {
      p.args.dry_run = true;
    } else if (a == "--allow-older") {
      p.args.allow_older = true;
    } else if (a == "--allow-reinstall") {
      p.args.allow_reinstall = true;
    } else if (a == "--json") {
      p.args.json = true;
    } else if (a == "--post") {
      p.args.post = true;
    } else if (a == "--aspi" || a == "--spti") {
      const AspiRoute route = a == "--aspi" ? AspiRoute::AspiManager : AspiRoute::PassThrough;
      if (p.args.route != AspiRoute::FirstThatWorks && p.args.route != route) {
        return usage_error("--aspi and --spti exclude each other");
      }
      p.args.route = route;
    } else {
      return usage_error("unknown option " + std::string(a));
    }
  }
  if (operands.empty()) {
    // "--emulate help" on its own lists the emulated models and faults.
    if (p.args.emulate.size() == 1 && p.args.emulate[0] == "help" && !serial_given) {
      p.args.command = CliArgs::Command::Info;
      return p;
    }
    return usage_error("no command given");
  }
  const std::string_view command = operands[0];
  using C = CliArgs::Command;
  if (command == "help") {
    p.args.command = C::Help;
    return p;
  }
  if (command == "identify") {
    p.args.command = C::Identify;
  } else if (command == "convert") {
    p.args.command = C::Convert;
  } else if (command == "transfer") {
    p.args.command = C::Transfer;
  } else if (command == "info") {
    p.args.command = C::Info;
  } else if (command == "set-default") {
    p.args.command = C::SetDefault;
  } else if (command == "serial-number") {
    p.args.command = C::SerialNumber;
  } else if (command == "scan") {
    p.args.command = C::Scan;
  } else if (command == "history") {
    p.args.command = C::History;
  } else if (command == "update") {
    p.args.command = C::Update;
  } else {
    return usage_error("unknown command " + std::string(command));
  }
  if (p.args.command == C::SetDefault) {
    if (operands.size() != 2) return usage_error("set-default takes us, europe or japan");
    p.args.region = std::string(operands[1]);
    if (p.args.region != "us" && p.args.region != "europe" && p.args.region != "japan") {
      return usage_error("set-default takes us, europe or japan, not " + p.args.region);
    }
  } else if (p.args.command == C::SerialNumber) {
    if (operands.size() > 2) return usage_error("serial-number takes at most one NEW number");
    if (operands.size() == 2) {
      p.args.serial_number = std::string(operands[1]);
      if (p.args.serial_number.empty()) return usage_error("serial-number NEW is empty");
    }
  } else if (p.args.command == C::Update) {
    if (operands.size() < 2) return usage_error("update takes one PATH or more");
    for (std::size_t i = 1; i < operands.size(); ++i) {
      if (operands[i].empty()) return usage_error("update PATH is empty");
      p.args.paths.emplace_back(operands[i]);
    }
  } else if (p.args.command == C::Scan || p.args.command == C::History) {
    if (operands.size() != 1) return usage_error(std::string(command) + " takes no operand");
  } else {
    const bool takes_file = p.args.command != C::Info;
    if (operands.size() != (takes_file ? 2u : 1u)) {
      return usage_error(std::string(command) +
                         (takes_file ? " takes exactly one FILE" : " takes no FILE (use --file)"));
    }
    if (takes_file) {
      // Like an option without its value: an empty FILE is a slip on the command line.
      if (operands[1].empty()) return usage_error(std::string(command) + " FILE is empty");
      p.args.file = std::string(operands[1]);
    }
  }
  if (file_given && p.args.command != C::Info) {
    return usage_error(std::string(command) + " takes no --file");
  }
  if (output_given && p.args.command != C::Convert) {
    return usage_error(std::string(command) + " takes no -o");
  }
  const bool update = p.args.command == C::Update;
  if (p.args.dry_run && p.args.command != C::Transfer && !update) {
    return usage_error(std::string(command) + " takes no --dry-run");
  }
  if ((p.args.allow_older || p.args.allow_reinstall) && !update) {
    return usage_error(std::string(command) + " takes no " +
                       (p.args.allow_older ? "--allow-older" : "--allow-reinstall"));
  }
  if (update && (p.args.post || p.args.verify)) {
    return usage_error(std::string("update takes no ") + (p.args.post ? "--post" : "--verify") +
                       " (the plan chooses each imprinter's side, and every unit is verified)");
  }
  if (p.args.json && p.args.command != C::Identify && p.args.command != C::Info &&
      p.args.command != C::Scan && p.args.command != C::Transfer && p.args.command != C::History &&
      !update) {
    return usage_error(std::string(command) + " takes no --json");
  }
  // update takes the jobs of a transfer.
  const bool transfer = p.args.command == C::Transfer || update;
  if (p.args.verify && p.args.command != C::Transfer) {
    return usage_error(std::string(command) + " takes no --verify");
  }
  if (p.args.all && !transfer) {
    return usage_error(std::string(command) + " takes no --all");
  }
  if (!p.args.log.empty() && !transfer && p.args.command != C::History) {
    return usage_error(std::string(command) + " takes no --log");
  }
  if ((history_serial_given || p.args.last > 0) && p.args.command != C::History) {
    return usage_error(std::string(command) + " takes no " +
                       (history_serial_given ? "--serial-number" : "--last"));
  }
  if (p.args.command == C::History && (emulate_given || serial_given || targets_given > 0 ||
                                       p.args.route != AspiRoute::FirstThatWorks)) {
    return usage_error("history reads the transfer history only; it takes no scanner route");
  }
  if (!transfer && (targets_given > 1 || serials_given > 1)) {
    return usage_error(std::string(command) + " takes one " +
                       (targets_given > 1 ? "--target" : "--serial"));
  }
  if (p.args.post && !transfer) {
    return usage_error(std::string(command) + " takes no --post");
  }
  if (emulate_given && (p.args.command == C::Identify || p.args.command == C::Convert)) {
    return usage_error(std::string(command) + " takes no --emulate");
  }
  if (serial_given && !transfer && p.args.command != C::Info) {
    return usage_error(std::string(command) + " takes no --serial");
  }
  // A transfer may name SCSI scanners and serial lines at once; the other commands use one.
  if (serial_given && emulate_given && !transfer) {
    return usage_error("--emulate is the SCSI scanner; run fwscanner for an emulated serial one");
  }
  if (serial_given && p.args.post && targets_given == 0 && !p.args.all) {
    return usage_error("--post is for SCSI transfers");
  }
  const bool scsi_command = transfer || p.args.command == C::Info ||
                            p.args.command == C::SetDefault || p.args.command == C::SerialNumber;
  if (targets_given > 0 && (!scsi_command || (serial_given && !transfer))) {
    return usage_error(std::string(command) + " takes no --target");
  }
  if (p.args.route != AspiRoute::FirstThatWorks &&
      ((!scsi_command && p.args.command != C::Scan) || emulate_given ||
       (serial_given && targets_given == 0 && !p.args.all))) {
    return usage_error(std::string(command) + " takes no --aspi or --spti" +
                       (serial_given || emulate_given ? " with --serial or --emulate" : ""));
  }
  return p;
}

}  // namespace fwload
