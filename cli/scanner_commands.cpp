// info, scan, set-default and serial-number: the commands that ask a scanner or change its
// settings.
#include <cstdio>
#include <string>
#include <vector>

#include "app/about_dialog.h"
#include "cli/access.h"
#include "cli/commands.h"
#include "cli/json.h"
#include "cli/support.h"
#include "scsi/discovery.h"
#include "scsi/download.h"
#include "scsi/info.h"
#include "scsi/sense.h"
#include "scsi/service.h"
#include "serial/serial.h"

namespace fwload {
namespace {

// What every scanner command sets up: the SCSI access (the platform's manager or --emulate),
// the console with the one-second tick and Ctrl-C counted, and the SCSI state with the
// command's choices.
struct ScannerSession {
  ScannerSession(const CliArgs& args, CliEnv& env)
      : ui(env.err, env.err_is_terminal), status(scsi_access(args, env, access)) {
    ui.set_timer(&timer);
    if (env.catch_interrupts != nullptr) ui.set_interrupts(&env.catch_interrupts());
    prepare_scsi_state(scsi, args);
  }
  ScsiIo io() { return ScsiIo{ui, *access.loader, timer}; }

  ScsiAccess access;
  ConsoleUi ui;
  TimerState timer;
  ScsiState scsi;
  int status;  // -1: the command goes on; else its exit status
};

// Ends a command the user interrupted: `text` on standard error, exit status 130.
int interrupted(CliEnv& env, ConsoleUi& ui, const char* text) {
  ui.end_progress_line();
  std::fprintf(env.err, "%s\n", text);
  std::fflush(env.err);
  return kExitInterrupted;
}

constexpr char kInterrupted[] = "Interrupted.";
constexpr char kInterruptedBeforeChange[] =
    "Interrupted before anything was sent to the scanner; it is unchanged.";
constexpr char kInterruptedAfterChange[] =
    "Interrupted; the change had already been sent to the scanner and was seen through.";

}  // namespace

int info(const CliArgs& args, CliEnv& env) {
  ScannerSession session(args, env);
  if (session.status >= 0) return session.status;
  ConsoleUi& ui = session.ui;
  TimerState& timer = session.timer;
  // The About dialog's groups, top to bottom: program, opened file, scanner, host.
  std::vector<std::pair<std::string, std::string>> program_rows;
  if (!args.file.empty()) {
    FirmwareIo io{ui, env.profile, env.fs};
    FirmwareState state;
    if (!open_for_cli(state, io, ui, absolute_path(args.file))) return kExitFailure;
    ui.end_progress_line();
    program_rows = about_program_rows(state);
  }
  ScannerRows rows;
  std::string manager;  // which SCSI manager answered, when one did
  if (!args.serials.empty()) {
    SerialState serial;
    SerialIo io{ui, env.serial, timer, PortList{0, {args.serial()}}};
    rows = ReadScannerInfoSerial(serial, io);
  } else {
    ScsiIo io = session.io();
    rows = read_scanner_info_scsi(session.scsi, io);
    if (session.scsi.aspi_module) manager = session.scsi.aspi_module->manager_name();
  }
  if (ui.stopped()) return interrupted(env, ui, kInterrupted);
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
      Json out = Json::array();
      for (const auto& [label, value] : list) {
        if (!label.empty())
          out.push_back({{"label", json_text(label)}, {"value", json_text(value)}});
      }
      return out;
    };
    Json out = Json::object();
    if (!program_rows.empty()) out["program_and_file"] = rows_json(program_rows);
    out["scanner"] = rows_json(scanner_rows);
    out["host"] = rows_json({host, target});
    if (!manager.empty()) out["manager"] = manager;
    out["found"] = rows.vendor != kNoDeviceText;
    if (!print_json(env.out, out)) return kExitFailure;
  } else {
    for (const auto& [label, value] : program_rows) print_row(env, label, value);
    for (const auto& [label, value] : scanner_rows) print_row(env, label, value);
    print_row(env, host.first, host.second);
    print_row(env, target.first, target.second);
    if (!manager.empty()) print_row(env, "SCSI Manager :", manager);
  }
  std::fflush(env.out);
  return rows.vendor == kNoDeviceText ? kExitFailure : kExitOk;
}

// The Command dialog's set-up. Returns -1 when the command may go on, else the exit status.
int prepare_service(ScsiState& scsi, ScsiIo& io) {
  switch (start_service(scsi, io)) {
    case ServiceStart::Ready:
      return -1;
    case ServiceStart::Condition:
      // The dialog closes without a word here; the console says what the scanner reports.
      show_scanner_message(io.ui, scsi.sense_key, scsi.sense_asc, scsi.sense_ascq);
      return kExitFailure;
    case ServiceStart::NotFound:
    case ServiceStart::NotReady:
      break;
  }
  return kExitFailure;
}

int set_default(const CliArgs& args, CliEnv& env) {
  ScannerSession session(args, env);
  if (session.status >= 0) return session.status;
  ConsoleUi& ui = session.ui;
  ScsiState& scsi = session.scsi;
  ScsiIo io = session.io();
  const int ready = prepare_service(scsi, io);
  if (ui.stopped()) return interrupted(env, ui, kInterruptedBeforeChange);
  if (ready >= 0) return ready;
  const Region region = args.region == "us"       ? Region::Us
                        : args.region == "europe" ? Region::Europe
                                                  : Region::Japan;
  // Once sent, the change is seen through; a Ctrl-C meanwhile is heard afterwards.
  ui.hold_interrupts(true);
  const std::uint16_t result = set_regional_defaults(scsi, io, region);
  ui.hold_interrupts(false);
  if (result != 0) {
    show_scanner_message(ui, scsi.sense_key, scsi.sense_asc, scsi.sense_ascq);
  } else {
    std::fprintf(env.out, "Regional defaults set: %s\n", args.region.c_str());
  }
  if (ui.interrupted()) return interrupted(env, ui, kInterruptedAfterChange);
  if (result != 0) return kExitFailure;
  return std::fflush(env.out) == 0 ? kExitOk : kExitFailure;
}

int serial_number(const CliArgs& args, CliEnv& env) {
  ScannerSession session(args, env);
  if (session.status >= 0) return session.status;
  ConsoleUi& ui = session.ui;
  if (!serial_number_fits(args.serial_number, ui)) return kExitFailure;
  ScsiState& scsi = session.scsi;
  ScsiIo io = session.io();
  const int ready = prepare_service(scsi, io);
  if (ui.stopped()) return interrupted(env, ui, kInterruptedBeforeChange);
  if (ready >= 0) return ready;
  const auto capability = read_capability(scsi, io);
  if (ui.stopped()) return interrupted(env, ui, kInterruptedBeforeChange);
  if (!keeps_serial_number(scsi, capability)) {
    std::fprintf(env.err, "fwload-cli: this scanner keeps no serial number\n");
    return kExitFailure;
  }
  if (!args.serial_number.empty()) {
    // Once sent, the new number is seen through; a Ctrl-C meanwhile is heard afterwards.
    ui.hold_interrupts(true);
    const std::uint16_t result = write_serial_number(scsi, io, args.serial_number);
    ui.hold_interrupts(false);
    if (result != 0) show_scanner_message(ui, scsi.sense_key, scsi.sense_asc, scsi.sense_ascq);
    if (ui.interrupted()) return interrupted(env, ui, kInterruptedAfterChange);
  }
  std::string serial;
  const std::uint16_t read = read_serial_number(scsi, io, serial);
  if (ui.stopped()) return interrupted(env, ui, kInterrupted);
  if (read != 0) {
    show_scanner_message(ui, scsi.sense_key, scsi.sense_asc, scsi.sense_ascq);
    return kExitFailure;
  }
  std::fprintf(env.out, "Serial Number : \"%s\"\n", serial.c_str());
  return std::fflush(env.out) == 0 ? kExitOk : kExitFailure;
}

int scan(const CliArgs& args, CliEnv& env) {
  ScannerSession session(args, env);
  if (session.status >= 0) return session.status;
  ScsiState& scsi = session.scsi;
  ScsiIo io = session.io();
  const auto devices = scan_bus(scsi, io);
  if (session.ui.stopped()) return interrupted(env, session.ui, kInterrupted);
  if (!devices) return kExitFailure;
  const std::string manager = scsi.aspi_module->manager_name();
  if (args.json) {
    Json list = Json::array();
    for (const ScsiDevice& d : *devices) {
      Json row = {{"adapter", d.adapter}, {"target", d.target}};
      if (d.problem.empty()) {
        row["type"] = d.type;
        row["vendor"] = json_text(trimmed(d.vendor));
        row["product"] = json_text(trimmed(d.product));
        row["revision"] = json_text(trimmed(d.revision));
        row["scanner"] = d.scanner;
      } else {
        row["problem"] = json_text(d.problem);
      }
      if (!d.path.empty()) row["device"] = json_text(d.path);
      list.push_back(row);
    }
    return print_json(env.out, {{"manager", manager}, {"devices", list}}) ? kExitOk : kExitFailure;
  }
  std::fprintf(env.out, "SCSI through the %s\n", manager.c_str());
  if (devices->empty()) std::fprintf(env.out, "no SCSI device answers\n");
  for (const ScsiDevice& d : *devices) {
    std::fprintf(env.out, "%u:%u", static_cast<unsigned>(d.adapter),
                 static_cast<unsigned>(d.target));
    if (d.problem.empty()) {
      std::fprintf(env.out, "  type %u  %-8s  %-16s  %-4s  %s", static_cast<unsigned>(d.type),
                   trimmed(d.vendor).c_str(), trimmed(d.product).c_str(),
                   trimmed(d.revision).c_str(), d.scanner ? "supported scanner" : "-");
    } else {
      std::fprintf(env.out, "  %s", d.problem.c_str());
    }
    if (!d.path.empty()) std::fprintf(env.out, "  %s", d.path.c_str());
    std::fprintf(env.out, "\n");
  }
  return std::fflush(env.out) == 0 ? kExitOk : kExitFailure;
}

}  // namespace fwload
