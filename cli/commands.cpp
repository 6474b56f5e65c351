#include "cli/commands.h"

#include <cstdlib>
#include <filesystem>
#include <limits>
#include <string>
#include <system_error>

#include "app/about_dialog.h"
#include "cli/args.h"
#include "cli/console_ui.h"
#include "cli/json.h"
#include "emulator/emulated_aspi.h"
#include "firmware/firmware_state.h"
#include "firmware/hex.h"
#include "firmware/messages.h"
#include "firmware/open_file.h"
#include "firmware/write_file.h"
#include "res/string_table.h"
#include "scsi/commands.h"
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

std::string& emulator_log_path() {
  static std::string path;
  return path;
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
  // FWLOAD_EMULATOR_LOG names a file that receives what the emulated scanner is sent.
  if (const char* log = std::getenv("FWLOAD_EMULATOR_LOG"); log != nullptr && log[0] != '\0') {
    emulator_log_path() = log;
    access.scanner->set_log_sink([](const std::string& line) {
      if (std::FILE* f = std::fopen(emulator_log_path().c_str(), "a")) {
        std::fprintf(f, "%s\n", line.c_str());
        std::fclose(f);
      }
    });
  }
  access.emulated = std::make_unique<emulator::EmulatedAspiLoader>(access.scanner);
  access.loader = access.emulated.get();
  return -1;
}

// A test setting, as for the dialog program: the longest one SCSI request may stay pending.
void apply_test_settings(ScsiState& scsi) {
  apply_request_bound_setting(scsi, std::getenv("FWLOAD_REQUEST_BOUND_MS"));
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
  if (args.json) {
    std::fprintf(
        env.out,
        "{\"file\": %s, \"scanner_name\": %s, \"unit_name\": %s, \"file_version\": %s, "
        "\"model_code\": %u, \"download_target_code\": %u, \"sum_value\": \"%s\", "
        "\"sum_address\": \"%s\", \"start_address\": \"%s\", \"end_address\": \"%s\"}\n",
        json_string(absolute_path(args.file)).c_str(), json_string(state.scanner_name).c_str(),
        json_string(state.unit_name).c_str(), json_string(state.file_version).c_str(),
        static_cast<unsigned>(state.FirmwareTargetCode),
        static_cast<unsigned>(state.download_target_code), hex_digits(state.sum_value, 2).c_str(),
        hex_digits(state.sum_address, 6).c_str(), hex_digits(state.start_address, 6).c_str(),
        hex_digits(state.end_address, 6).c_str());
    return std::fflush(env.out) == 0 ? kExitOk : kExitFailure;
  }
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

void print_row(CliEnv& env, const std::string& label, const std::string& value) {
  if (label.empty()) return;
  std::fprintf(env.out, "%s %s\n", label.c_str(), value.c_str());
}

// After a transfer: what the scanner now reports, beside the file's own version.
void print_versions_after(CliEnv& env, const ScannerRows& rows, const FirmwareState& file) {
  if (rows.vendor == kNoDeviceText) {
    std::fprintf(env.out, "The scanner did not report its versions after the transfer.\n");
    return;
  }
  std::fprintf(env.out, "The scanner now reports:\n");
  for (int i = 0; i < 4; ++i) {
    if (!rows.version_label[i].empty()) {
      std::fprintf(env.out, "  %s %s\n", rows.version_label[i].c_str(),
                   rows.version_value[i].c_str());
    }
  }
  std::fprintf(env.out, "File Version : %s\n", file.file_version.c_str());
}

// The product name from the INQUIRY reply without its blank padding.
std::string product_name(const ScsiState& scsi) {
  std::string product(scsi.scanner_product.view());
  product.erase(product.find_last_not_of(' ') + 1);
  return product;
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
    SerialIo serial_io{ui, env.serial, timer, PortList{0, {args.serial}}};
    if (args.dry_run) {
      if (plan_serial_download(serial, serial_io) != 1) return kExitFailure;
      std::fprintf(env.out,
                   "Dry run: serial line %s (19200 baud, 8E1, RTS/CTS), unit code %u: %u bytes in "
                   "%u frames of %u, between a start and an end frame. Nothing was written to the "
                   "scanner.\n",
                   args.serial.c_str(), static_cast<unsigned>(state.download_target_code),
                   static_cast<unsigned>(kSerialImageSize),
                   static_cast<unsigned>(kSerialImageSize / kSerialBlock),
                   static_cast<unsigned>(kSerialBlock));
      return std::fflush(env.out) == 0 ? kExitOk : kExitFailure;
    }
    const int sent = SerialDownload(serial, serial_io, state);
    ui.end_progress_line();
    if (sent != 1) return kExitFailure;
    std::fprintf(env.out, "Transferred %s over %s, unit code %u, %u bytes.\n", args.file.c_str(),
                 args.serial.c_str(), static_cast<unsigned>(state.download_target_code),
                 static_cast<unsigned>(kSerialImageSize));
    print_versions_after(env, ReadScannerInfoSerial(serial, serial_io), state);
    return std::fflush(env.out) == 0 ? kExitOk : kExitFailure;
  }
  ScsiState scsi;
  apply_test_settings(scsi);
  ScsiIo scsi_io{ui, *access.loader, timer};
  if (args.dry_run) {
    const int buffer = plan_download_over_scsi(scsi, scsi_io, state, args.post ? 1 : 0);
    if (buffer < 0) return kExitFailure;
    const std::uint32_t bytes = state.end_address + 1;
    std::fprintf(env.out,
                 "Dry run: SCSI adapter #%u target #%u (%s), buffer id %d: %u bytes in %u WRITE "
                 "BUFFER blocks of %u, then the commit with about %d s of writing. Nothing was "
                 "written to the scanner.\n",
                 static_cast<unsigned>(scsi.host_adapter_id), static_cast<unsigned>(scsi.target_id),
                 product_name(scsi).c_str(), buffer, static_cast<unsigned>(bytes),
                 static_cast<unsigned>((bytes + kDownloadBlock - 1) / kDownloadBlock),
                 static_cast<unsigned>(kDownloadBlock),
                 writing_seconds_for(state.FirmwareTargetCode));
    return std::fflush(env.out) == 0 ? kExitOk : kExitFailure;
  }
  const int sent = download_over_scsi(scsi, scsi_io, state, args.post ? 1 : 0);
  ui.end_progress_line();
  if (sent != 1) return kExitFailure;
  std::fprintf(env.out, "Transferred %s to %s (target #%u), buffer %u, %u bytes.\n",
               args.file.c_str(), product_name(scsi).c_str(), static_cast<unsigned>(scsi.target_id),
               static_cast<unsigned>(state.download_target_code),
               static_cast<unsigned>(state.end_address + 1));
  print_versions_after(env, read_scanner_info_scsi(scsi, scsi_io), state);
  return std::fflush(env.out) == 0 ? kExitOk : kExitFailure;
}

int info(const CliArgs& args, CliEnv& env) {
  ScsiAccess access;
  if (const int status = scsi_access(args, env, access); status >= 0) return status;
  ConsoleUi ui(env.err, env.err_is_terminal);
  TimerState timer;
  ui.set_timer(&timer);
  // The About dialog's groups, top to bottom: program, opened file, scanner, host.
  std::vector<std::pair<std::string, std::string>> program_rows;
  if (!args.file.empty()) {
    FirmwareIo io{ui, env.profile, env.fs};
    FirmwareState state;
    if (!open_for_cli(state, io, ui, absolute_path(args.file))) return kExitFailure;
    ui.end_progress_line();
    const AboutFileRows file = about_file_rows(state);
    program_rows = {{"Version Number :", std::string(table_string(kStrVersionMajor)) + "." +
                                             std::string(table_string(kStrVersionMinor))},
                    {"Version Information :", std::string(table_string(kStrVersionDate))},
                    {"Scanner Name :", file.scanner_name},
                    {"Unit Name :", file.unit_name},
                    {"File Version :", file.file_version}};
  }
  ScannerRows rows;
  if (!args.serial.empty()) {
    SerialState serial;
    SerialIo io{ui, env.serial, timer, PortList{0, {args.serial}}};
    rows = ReadScannerInfoSerial(serial, io);
  } else {
    ScsiState scsi;
    apply_test_settings(scsi);
    apply_test_settings(scsi);
    ScsiIo io{ui, *access.loader, timer};
    rows = read_scanner_info_scsi(scsi, io);
  }
  std::vector<std::pair<std::string, std::string>> scanner_rows = {{"Vendor ID :", rows.vendor},
                                                                   {"Products ID :", rows.product}};
  for (int i = 0; i < 4; ++i)
    scanner_rows.emplace_back(rows.version_label[i], rows.version_value[i]);
  const std::pair<std::string, std::string> host{rows.host_label.value_or("Current SCSI Host ID :"),
                                                 rows.host};
  const std::pair<std::string, std::string> target{
      rows.target_label.value_or("Current SCSI Target ID :"), rows.target};
  if (args.json) {
    auto rows_json = [](const std::vector<std::pair<std::string, std::string>>& list) {
      std::string out = "[";
      for (const auto& [label, value] : list) {
        if (label.empty()) continue;
        if (out.size() > 1) out += ", ";
        out += "{\"label\": " + json_string(label) + ", \"value\": " + json_string(value) + "}";
      }
      return out + "]";
    };
    std::string out = "{";
    if (!program_rows.empty()) out += "\"program_and_file\": " + rows_json(program_rows) + ", ";
    out += "\"scanner\": " + rows_json(scanner_rows) + ", \"host\": " + rows_json({host, target});
    out += ", \"found\": " + std::string(rows.vendor == kNoDeviceText ? "false" : "true") + "}\n";
    std::fputs(out.c_str(), env.out);
  } else {
    for (const auto& [label, value] : program_rows) print_row(env, label, value);
    for (const auto& [label, value] : scanner_rows) print_row(env, label, value);
    print_row(env, host.first, host.second);
    print_row(env, target.first, target.second);
  }
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
  apply_test_settings(scsi);
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
  apply_test_settings(scsi);
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
