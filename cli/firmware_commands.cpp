// identify and convert: the firmware file commands.
#include <cstdio>
#include <filesystem>
#include <limits>
#include <system_error>

#include "app/status_display.h"
#include "cli/commands.h"
#include "cli/json.h"
#include "cli/support.h"
#include "firmware/hex.h"
#include "firmware/messages.h"
#include "firmware/write_file.h"

namespace fwload {
namespace {

bool same_file(const std::string& a, const std::string& b) {
  std::error_code ec;
  if (std::filesystem::equivalent(a, b, ec) && !ec) return true;
  return std::filesystem::path(a).lexically_normal() == std::filesystem::path(b).lexically_normal();
}

}  // namespace

int identify(const CliArgs& args, CliEnv& env) {
  ConsoleUi ui(env.err, env.err_is_terminal);
  FirmwareIo io{ui, env.profile, env.fs};
  FirmwareState state;
  // The digest of the bytes read, to compare with one its supplier publishes.
  std::string sha256;
  if (!open_for_cli(state, io, ui, absolute_path(args.file), &sha256)) return kExitFailure;
  ui.end_progress_line();
  if (args.json) {
    const Json object = {{"file", json_text(absolute_path(args.file))},
                         {"scanner_name", json_text(state.scanner_name)},
                         {"unit_name", json_text(state.unit_name)},
                         {"file_version", json_text(state.file_version)},
                         {"model_code", state.FirmwareTargetCode},
                         {"download_target_code", state.download_target_code},
                         {"sum_value", hex_digits(state.sum_value, 2)},
                         {"sum_address", hex_digits(state.sum_address, 6)},
                         {"start_address", hex_digits(state.start_address, 6)},
                         {"end_address", hex_digits(state.end_address, 6)},
                         {"sha256", sha256}};
    return print_json(env.out, object) ? kExitOk : kExitFailure;
  }
  // The summary lines are the ones the dialog appends to "Completed.".
  const std::string summary = open_summary(state);
  std::fprintf(env.out,
               "Scanner Name : %s\nUnit Name : %s\nFile Version : %s\nModel Code : %u%s\n"
               "SHA-256 : %s\n",
               state.scanner_name.c_str(), state.unit_name.c_str(), state.file_version.c_str(),
               static_cast<unsigned>(state.FirmwareTargetCode), summary.c_str(), sha256.c_str());
  return std::fflush(env.out) == 0 ? kExitOk : kExitFailure;
}

int convert(const CliArgs& args, CliEnv& env) {
  const std::string input = absolute_path(args.file);
  std::string output = args.output;
  if (output.empty()) {
    // FILE with its four-character extension made ".sum".
    const CommandLineRequest parsed =
        parse_command_line(input, std::numeric_limits<std::size_t>::max(), true, false);
    if (parsed.extension_ok) output = parsed.path.substr(0, parsed.path.size() - 4) + ".sum";
  }
  if (!output.empty()) {
    output = absolute_path(output);
    if (same_file(input, output)) {
      return usage_error(env, "convert would overwrite its input " + args.file +
                                  "; name another output with -o OUT");
    }
  }

  ConsoleUi ui(env.err, env.err_is_terminal);
  FirmwareIo io{ui, env.profile, env.fs};
  FirmwareState state;
  if (!open_for_cli(state, io, ui, input)) return kExitFailure;
  ui.set_activity("Write File");
  ui.set_save_path(output);
  if (write_sum_file(state, io) != 1 || state.WriteResult != 1) return kExitFailure;
  ui.end_progress_line();
  std::fprintf(env.out, "Written: %s\n", output.c_str());
  return std::fflush(env.out) == 0 ? kExitOk : kExitFailure;
}

}  // namespace fwload
