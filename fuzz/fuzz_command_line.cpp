// Arbitrary command lines: fwload-cli's arguments (split at zero bytes), the dialog program's
// command line ("/T ", "/C ", the path and its extension), and the emulators' model and fault
// lists.
#include <string>
#include <vector>

#include "cli/args.h"
#include "emulator/scanner.h"
#include "emulator/serial_scanner.h"
#include "firmware/open_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace fwload;
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (std::size_t i = 0; i <= text.size(); ++i) {
    if (i == text.size() || text[i] == '\0') {
      parts.push_back(text.substr(start, i - start));
      start = i + 1;
    }
  }
  std::vector<std::string_view> args(parts.begin(), parts.end());
  const CliParse parsed = parse_cli_args(args);
  if (parsed.error.empty() && parsed.args.command == CliArgs::Command::Identify &&
      parsed.args.file.empty()) {
    __builtin_trap();
  }
  for (std::size_t max : {std::size_t{0}, std::size_t{3}, kCommandLineMax, text.size()}) {
    const CommandLineRequest r = parse_command_line(text, max, size % 2 == 0);
    if (r.path.size() > text.size()) __builtin_trap();
  }
  std::string error;
  emulator::parse_emulator_config(text, &error);
  const std::size_t colon = text.find(':');
  emulator::parse_serial_config(text.substr(0, colon),
                                colon == std::string::npos ? std::string() : text.substr(colon + 1),
                                &error);
  return 0;
}
