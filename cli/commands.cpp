#include "cli/commands.h"

#include <filesystem>
#include <limits>
#include <string>
#include <system_error>

#include "cli/args.h"
#include "cli/console_ui.h"
#include "firmware/firmware_state.h"
#include "firmware/messages.h"
#include "firmware/open_file.h"
#include "firmware/write_file.h"
#include "res/string_table.h"

namespace fwload {
namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

// The tool's own text for a file in which no scanner family mark was found (the dialog
// program shows nothing in that case).
constexpr std::string_view kUnknownFirmware = "Unknown firmware file !";

int usage_error(CliEnv& env, std::string_view text) {
  std::fprintf(env.err, "fwload-cli: %.*s\n", static_cast<int>(text.size()), text.data());
  std::fprintf(env.err, "usage: fwload-cli identify FILE | convert FILE [-o OUT] | --help\n");
  return kExitUsage;
}

std::string absolute_path(const std::string& path) {
  std::error_code ec;
  const std::filesystem::path p = std::filesystem::absolute(path, ec);
  return ec ? path : p.string();
}

// Opens FILE as the dialog program opens a file named on its command line, with the extension
// accepted in any case and no length limit on the path.
bool open_for_cli(FirmwareState& state, FirmwareIo& io, ConsoleUi& ui, const std::string& path) {
  ui.set_activity("Open File");
  std::string command_line = path;
  OpenOptions options;
  options.parse_switches = false;
  options.any_case_extension = true;
  options.max_command_line = std::numeric_limits<std::size_t>::max();
  if (open_firmware_file(state, io, command_line, options) == 1) return true;
  if (state.open_failure == OpenFailure::Identify) {
    ui.message_box(msg::kFileOpenError, kUnknownFirmware, false);
  }
  return false;
}

int identify(const CliArgs& args, CliEnv& env) {
  ConsoleUi ui(env.err, env.err_is_terminal);
  FirmwareIo io{ui, env.profile, env.fs};
  FirmwareState state;
  if (!open_for_cli(state, io, ui, absolute_path(args.file))) return kExitFailure;
  ui.end_progress_line();
  // The summary lines are the ones the dialog appends to "Completed.".
  const std::string summary = open_summary(state);
  std::fprintf(env.out, "Scanner Name : %s\nUnit Name : %s\nFile Version : %s\nModel Code : %u%s\n",
               state.scanner_name.c_str(), state.unit_name.c_str(), state.file_version.c_str(),
               static_cast<unsigned>(state.FirmwareTargetCode), summary.c_str());
  return std::fflush(env.out) == 0 ? kExitOk : kExitFailure;
}

bool same_file(const std::string& a, const std::string& b) {
  std::error_code ec;
  if (std::filesystem::equivalent(a, b, ec) && !ec) return true;
  return std::filesystem::path(a).lexically_normal() == std::filesystem::path(b).lexically_normal();
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

}  // namespace

int run_cli(std::span<const std::string_view> arg_list, CliEnv& env) {
  const CliParse parsed = parse_cli_args(arg_list);
  if (!parsed.error.empty()) return usage_error(env, parsed.error);
  switch (parsed.args.command) {
    case CliArgs::Command::Help: {
      const std::string_view usage = cli_usage();
      std::fwrite(usage.data(), 1, usage.size(), env.out);
      return kExitOk;
    }
    case CliArgs::Command::Version: {
      const std::string_view major = table_string(kStrVersionMajor);
      const std::string_view minor = table_string(kStrVersionMinor);
      std::fprintf(env.out, "fwload-cli %.*s.%.*s (%.*s)\n", static_cast<int>(major.size()),
                   major.data(), static_cast<int>(minor.size()), minor.data(),
                   static_cast<int>(table_string(kStrVersionDate).size()),
                   table_string(kStrVersionDate).data());
      return kExitOk;
    }
    case CliArgs::Command::Identify:
      return identify(parsed.args, env);
    case CliArgs::Command::Convert:
      return convert(parsed.args, env);
  }
  return kExitUsage;
}

}  // namespace fwload
