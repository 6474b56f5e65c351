#include "cli/commands.h"

#include <filesystem>
#include <limits>
#include <string>
#include <system_error>

#include "app/about_dialog.h"
#include "cli/args.h"
#include "cli/console_ui.h"
#include "emulator/emulated_aspi.h"
#include "firmware/firmware_state.h"
#include "firmware/messages.h"
#include "firmware/open_file.h"
#include "firmware/write_file.h"
#include "res/string_table.h"
#include "scsi/discovery.h"
#include "scsi/download.h"
#include "scsi/info.h"
#include "scsi/sense.h"
#include "scsi/service.h"
#include "serial/serial.h"

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
  std::fprintf(env.err, "usage: fwload-cli COMMAND ... (fwload-cli --help for the list)\n");
  return kExitUsage;
}

// The SCSI access of a command: the platform's, or the emulated scanner of --emulate.
struct ScsiAccess {
  std::shared_ptr<emulator::Scanner> scanner;
  std::unique_ptr<AspiLoader> emulated;
  AspiLoader* loader = nullptr;
};

// Sets up `access`; returns -1 when the command may go on, else the exit status.
int scsi_access(const CliArgs& args, CliEnv& env, ScsiAccess& access) {
  if (args.emulate.empty()) {
    access.loader = &env.aspi;
    return -1;
  }
  if (args.emulate == "help") {
    std::fprintf(env.out, "--emulate %s\n", emulator::emulator_help().c_str());
    return kExitOk;
  }
  std::string error;
  const auto config = emulator::parse_emulator_config(args.emulate, &error);
  if (!config) return usage_error(env, error + " (--emulate help lists the models and faults)");
  access.scanner = std::make_shared<emulator::Scanner>(*config);
  access.emulated = std::make_unique<emulator::EmulatedAspiLoader>(access.scanner);
  access.loader = access.emulated.get();
  return -1;
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

int transfer(const CliArgs& args, CliEnv& env) {
  ScsiAccess access;
  if (const int status = scsi_access(args, env, access); status >= 0) return status;
  ConsoleUi ui(env.err, env.err_is_terminal);
  TimerState timer;
  ui.set_timer(&timer);
  FirmwareIo io{ui, env.profile, env.fs};
  FirmwareState state;
  if (!open_for_cli(state, io, ui, absolute_path(args.file))) return kExitFailure;
  ui.end_progress_line();
  ui.set_activity("Trans File");
  if (!args.serial.empty()) {
    SerialState serial;
    SerialIo io{ui, env.serial, timer, PortList{0, {args.serial}}};
    const int sent = SerialDownload(serial, io, state);
    ui.end_progress_line();
    if (sent != 1) return kExitFailure;
    std::fprintf(env.out, "Transferred %s over %s, unit code %u, %u bytes.\n", args.file.c_str(),
                 args.serial.c_str(), static_cast<unsigned>(state.download_target_code),
                 static_cast<unsigned>(kSerialImageSize));
    return std::fflush(env.out) == 0 ? kExitOk : kExitFailure;
  }
  ScsiState scsi;
  ScsiIo scsi_io{ui, *access.loader, timer};
  const int sent = download_over_scsi(scsi, scsi_io, state, args.post ? 1 : 0);
  ui.end_progress_line();
  if (sent != 1) return kExitFailure;
  std::string product(scsi.scanner_product.view());
  product.erase(product.find_last_not_of(' ') + 1);
  std::fprintf(env.out, "Transferred %s to %s (target #%u), buffer %u, %u bytes.\n",
               args.file.c_str(), product.c_str(), static_cast<unsigned>(scsi.target_id),
               static_cast<unsigned>(state.download_target_code),
               static_cast<unsigned>(state.end_address + 1));
  return std::fflush(env.out) == 0 ? kExitOk : kExitFailure;
}

void print_row(CliEnv& env, const std::string& label, const std::string& value) {
  if (label.empty()) return;
  std::fprintf(env.out, "%s %s\n", label.c_str(), value.c_str());
}

int info(const CliArgs& args, CliEnv& env) {
  ScsiAccess access;
  if (const int status = scsi_access(args, env, access); status >= 0) return status;
  ConsoleUi ui(env.err, env.err_is_terminal);
  TimerState timer;
  ui.set_timer(&timer);
  if (!args.file.empty()) {
    // The About dialog's first groups: the program, then the opened file.
    FirmwareIo io{ui, env.profile, env.fs};
    FirmwareState state;
    if (!open_for_cli(state, io, ui, absolute_path(args.file))) return kExitFailure;
    ui.end_progress_line();
    const AboutFileRows file = about_file_rows(state);
    print_row(env, "Version Number :",
              std::string(table_string(kStrVersionMajor)) + "." +
                  std::string(table_string(kStrVersionMinor)));
    print_row(env, "Version Information :", std::string(table_string(kStrVersionDate)));
    print_row(env, "Scanner Name :", file.scanner_name);
    print_row(env, "Unit Name :", file.unit_name);
    print_row(env, "File Version :", file.file_version);
  }
  ScannerRows rows;
  if (!args.serial.empty()) {
    SerialState serial;
    SerialIo io{ui, env.serial, timer, PortList{0, {args.serial}}};
    rows = ReadScannerInfoSerial(serial, io);
  } else {
    ScsiState scsi;
    ScsiIo io{ui, *access.loader, timer};
    rows = read_scanner_info_scsi(scsi, io);
  }
  // The rows as the About dialog labels them.
  print_row(env, "Vendor ID :", rows.vendor);
  print_row(env, "Products ID :", rows.product);
  for (int i = 0; i < 4; ++i) print_row(env, rows.version_label[i], rows.version_value[i]);
  print_row(env, rows.host_label.value_or("Current SCSI Host ID :"), rows.host);
  print_row(env, rows.target_label.value_or("Current SCSI Target ID :"), rows.target);
  std::fflush(env.out);
  return rows.vendor == kNoDeviceText ? kExitFailure : kExitOk;
}

// Finds a scanner the Command dialog serves and waits until it is ready, as the dialog does
// before it opens. Returns -1 when the command may go on, else the exit status.
int prepare_service(ScsiState& scsi, ScsiIo& io) {
  if (find_scanner(scsi, io) == 0) return kExitFailure;
  if (!serves_command_dialog(scsi.scanner_product.view())) {
    release_aspi(scsi);
    io.ui.message_box("Scanner Error", "No Target Device !!");
    return kExitFailure;
  }
  switch (wait_until_ready(scsi, io)) {
    case Readiness::Ready:
      return -1;
    case Readiness::Condition:
      // The dialog closes without a word here; the console says what the scanner reports.
      show_scanner_message(io.ui, scsi.sense_key, scsi.sense_asc, scsi.sense_ascq);
      return kExitFailure;
    case Readiness::NotReady:
      return kExitFailure;
  }
  return kExitFailure;
}

int set_default(const CliArgs& args, CliEnv& env) {
  ScsiAccess access;
  if (const int status = scsi_access(args, env, access); status >= 0) return status;
  ConsoleUi ui(env.err, env.err_is_terminal);
  TimerState timer;
  ScsiState scsi;
  ScsiIo io{ui, *access.loader, timer};
  if (const int status = prepare_service(scsi, io); status >= 0) return status;
  const Region region = args.region == "us"       ? Region::Us
                        : args.region == "europe" ? Region::Europe
                                                  : Region::Japan;
  if (set_regional_defaults(scsi, io, region) != 0) {
    show_scanner_message(ui, scsi.sense_key, scsi.sense_asc, scsi.sense_ascq);
    return kExitFailure;
  }
  std::fprintf(env.out, "Regional defaults set: %s\n", args.region.c_str());
  return std::fflush(env.out) == 0 ? kExitOk : kExitFailure;
}

int serial_number(const CliArgs& args, CliEnv& env) {
  ScsiAccess access;
  if (const int status = scsi_access(args, env, access); status >= 0) return status;
  ConsoleUi ui(env.err, env.err_is_terminal);
  if (args.serial_number.size() > kSerialNumberLength) {
    ui.message_box("Write S/N", "Length Error", true);
    return kExitFailure;
  }
  TimerState timer;
  ScsiState scsi;
  ScsiIo io{ui, *access.loader, timer};
  if (const int status = prepare_service(scsi, io); status >= 0) return status;
  const auto capability = read_capability(scsi, io);
  if ((scsi.scanner_model_class != 3 && scsi.scanner_model_class != 4) ||
      !serial_number_supported(capability)) {
    std::fprintf(env.err, "fwload-cli: this scanner keeps no serial number\n");
    return kExitFailure;
  }
  if (!args.serial_number.empty() && write_serial_number(scsi, io, args.serial_number) != 0) {
    show_scanner_message(ui, scsi.sense_key, scsi.sense_asc, scsi.sense_ascq);
  }
  std::string serial;
  if (read_serial_number(scsi, io, serial) != 0) {
    show_scanner_message(ui, scsi.sense_key, scsi.sense_asc, scsi.sense_ascq);
    return kExitFailure;
  }
  std::fprintf(env.out, "Serial Number : \"%s\"\n", serial.c_str());
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
    case CliArgs::Command::Transfer:
      return transfer(parsed.args, env);
    case CliArgs::Command::Info:
      return info(parsed.args, env);
    case CliArgs::Command::SetDefault:
      return set_default(parsed.args, env);
    case CliArgs::Command::SerialNumber:
      return serial_number(parsed.args, env);
  }
  return kExitUsage;
}

}  // namespace fwload
