#include "cli/transfer_jobs.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "cli/support.h"
#include "res/string_table.h"
#include "scsi/commands.h"
#include "scsi/discovery.h"
#include "scsi/download.h"
#include "scsi/info.h"
#include "scsi/models.h"
#include "scsi/service.h"
#include "serial/serial.h"

namespace fwload {
namespace {

// The version rows a scanner can report (info), and their keys in the history.
struct VersionKey {
  StringId label;
  const char* key;
};
constexpr VersionKey kVersionKeys[] = {
    {kStrMechaControlVersion, "mecha_control"},
    {kStrPreImprinterVersion, "pre_imprinter"},
    {kStrPostImprinterVersion, "post_imprinter"},
    {kStrImprinterVersion, "imprinter"},
    {kStrScsiUnitVersion, "scsi_unit"},
    {kStrBootVersion, "boot"},
    {kStrProgramVersion, "program"},
    {kStrImageTableVersion, "image_table"},
};

// Which version row tells the unit a file is for, by its model code: over SCSI (an imprinter
// unit file by the side it went to; a scanner whose reply has one imprinter row reports it
// there) and over the serial line (Mecha-Control and Imprinter rows only).
struct UnitRow {
  std::uint8_t model_code;
  std::vector<std::string> scsi_pre, scsi_post, serial;
};
const std::vector<UnitRow>& unit_rows() {
  static const std::vector<UnitRow> rows = {
      {1, {}, {}, {}},  // TR-MM40 firmware: its scanner reports boot, program and table only
      {2, {"scsi_unit"}, {"scsi_unit"}, {}},                         // TR-MM730, another unit
      {3, {"imprinter"}, {"imprinter"}, {"imprinter"}},              // TR-MM730 NUMBERING
      {4, {"mecha_control"}, {"mecha_control"}, {"mecha_control"}},  // TR-MM730 MECHA-CONTROL
      {5, {"mecha_control"}, {"mecha_control"}, {"mecha_control"}},  // 3160 / 3600
      {6, {"pre_imprinter", "imprinter"}, {"post_imprinter", "imprinter"}, {"imprinter"}},
      {7, {"mecha_control"}, {"mecha_control"}, {"mecha_control"}},  // 7180 / 5170 / 2600
      {8, {"pre_imprinter", "imprinter"}, {"post_imprinter", "imprinter"}, {"imprinter"}},
  };
  return rows;
}

std::string label_of(const std::string& key) {
  for (const VersionKey& k : kVersionKeys) {
    if (key == k.key) return std::string(table_string(k.label));
  }
  return key;
}

// UTC as 2026-12-09T10:27:10Z, without the C library's shared time buffer.
std::string utc_now() {
  using namespace std::chrono;
  const auto now = floor<seconds>(system_clock::now());
  const auto today = floor<days>(now);
  const year_month_day date{today};
  const hh_mm_ss time{now - today};
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02dZ", static_cast<int>(date.year()),
                static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                static_cast<int>(time.hours().count()), static_cast<int>(time.minutes().count()),
                static_cast<int>(time.seconds().count()));
  return text;
}

// Compares the file's unit row after the transfer with the file's version.
void verify(JobOutcome& out, const FirmwareState& file, bool serial, bool post) {
  // The first of the unit's rows that the scanner reports.
  std::string key;
  for (const std::string& k : unit_row_keys(file.FirmwareTargetCode, serial, post)) {
    if (std::any_of(out.after.begin(), out.after.end(), [&](const auto& r) { return r.first == k; })) {
      key = k;
      break;
    }
  }
  auto value_of = [&](const VersionRows& rows) {
    for (const auto& [row, value] : rows) {
      if (row == key) return value;
    }
    return std::string();
  };
  if (key.empty()) {
    out.result = JobResult::Transferred;
    out.verdict =
        "Transferred, not verified: the scanner reports no version row for the "
        "file's unit (" +
        trimmed(file.unit_name) + ").";
    return;
  }
  out.unit_before = value_of(out.before);
  out.unit_after = value_of(out.after);
  const std::string label = label_of(key);
  const std::string shown = label.substr(0, label.size() - 2);  // without " :"
  if (out.unit_after == file.file_version) {
    out.result = JobResult::Verified;
    out.verdict =
        "Verified: the scanner reports " + shown + " " + out.unit_after + ", the file's version.";
  } else {
    out.result = JobResult::Transferred;
    out.verdict = "Transferred, not verified: the scanner reports " + shown + " " + out.unit_after +
                  ", not the file's " + file.file_version +
                  "; a scanner may need switching off and on before it reports its new "
                  "firmware (fwload-cli info then checks).";
  }
}

// A job's console with its message boxes kept back: for a read whose failure is no failure of
// the job (the versions before a serial transfer; the transfer then says what is wrong).
class MutedUi : public Ui {
 public:
  explicit MutedUi(Ui& ui) : ui_(ui) {}
  void message_box(std::string_view, std::string_view, bool) override {}
  void progress(int percent) override { ui_.progress(percent); }
  void show_file_name(std::string_view name) override { ui_.show_file_name(name); }
  void writing_countdown(int seconds_left) override { ui_.writing_countdown(seconds_left); }
  void pump_one() override { ui_.pump_one(); }
  void idle(int ms) override { ui_.idle(ms); }
  void wait_cursor() override {}
  void arrow_cursor() override {}
  FileDialogResult file_dialog(const FileDialogRequest& request) override {
    return ui_.file_dialog(request);
  }
  bool stop_requested() override { return ui_.stop_requested(); }
  bool interrupted() override { return ui_.interrupted(); }
  void scanner_saving(bool saving) override { ui_.scanner_saving(saving); }

 private:
  Ui& ui_;
};

JobOutcome interrupted_job(JobOutcome out, const std::string& message) {
  out.result = JobResult::Interrupted;
  out.message = message;
  return out;
}

constexpr char kInterruptedBeforeSave[] =
    "Transfer interrupted before the scanner was told to save it; it keeps its old firmware.";
constexpr char kSavedNotRead[] = "The firmware was saved; its versions were not read.";

// What the scanner reported after the transfer (`rows`), and whether it is the file's version.
JobOutcome judged(JobOutcome out, ConsoleUi& ui, const ScannerRows& rows, const FirmwareState& file,
                  bool serial, bool post) {
  if (ui.stopped()) return interrupted_job(out, kSavedNotRead);
  out.after = version_rows_of(rows);
  out.after_rows = rows;
  if (rows.vendor == kNoDeviceText) {
    out.result = JobResult::Transferred;
    out.verdict =
        "Transferred, not verified: the scanner did not report its versions after the "
        "transfer.";
    return out;
  }
  verify(out, file, serial, post);
  return out;
}

JobOutcome run_scsi_job(const JobSpec& spec, const JobContext& c, ConsoleUi& ui, TimerState& timer,
                        FirmwareState& file, JobOutcome out) {
  out.route = c.emulated ? "emulated" : "scsi";
  ScsiState scsi;
  apply_request_bound_setting(scsi, std::getenv("FWLOAD_REQUEST_BOUND_MS"));
  scsi.search_only = spec.address;
  ScsiIo io{ui, *c.scsi, timer};
  const int side = c.args.post ? 1 : 0;
  if (find_scanner(scsi, io) == 0) {
    if (ui.stopped()) return interrupted_job(out, kInterruptedBeforeSave);
    out.message = ui.last_message();
    return out;
  }
  out.found = true;
  out.address = address_text(scsi.host_adapter_id, scsi.target_id);
  out.vendor = trimmed(scsi.scanner_vendor.view());
  out.product = trimmed(scsi.scanner_product.view());
  ui.set_scanner(out.address, out.product);
  bool unsuitable = false;
  const int buffer = check_ready_and_suitable(scsi, io, file, side, &unsuitable);
  if (ui.stopped()) return interrupted_job(out, kInterruptedBeforeSave);
  if (unsuitable && spec.skip_unsuitable) {
    // Nothing was asked of it: a row in the summary, no record.
    out.result = JobResult::Skipped;
    out.found = false;
    out.message = ui.last_message();
    return out;
  }
  if (buffer >= 0 || unsuitable) {
    out.before = version_rows_of(read_version_rows(scsi, io));
    if (serves_command_dialog(scsi.scanner_product.view())) {
      const auto capability = read_capability(scsi, io);
      std::string serial;
      if (keeps_serial_number(scsi, capability) && read_serial_number(scsi, io, serial) == 0) {
        out.serial_number = trimmed(serial);
      }
    }
    if (ui.stopped()) return interrupted_job(out, kInterruptedBeforeSave);
  }
  if (buffer < 0) {
    out.message = ui.last_message();
    out.result = unsuitable ? JobResult::Refused : JobResult::Failed;
    return out;
  }
  if (c.args.dry_run) {
    const std::uint32_t bytes = file.end_address + 1;
    char text[512];
    std::snprintf(
        text, sizeof text,
        "Dry run: SCSI adapter #%u target #%u (%s), buffer id %d: %u bytes in %u WRITE "
        "BUFFER blocks of %u, then the commit with about %d s of writing. Nothing was "
        "written to the scanner.",
        static_cast<unsigned>(scsi.host_adapter_id), static_cast<unsigned>(scsi.target_id),
        out.product.c_str(), buffer, static_cast<unsigned>(bytes),
        static_cast<unsigned>((bytes + kDownloadBlock - 1) / kDownloadBlock),
        static_cast<unsigned>(kDownloadBlock), writing_seconds_for(file.FirmwareTargetCode));
    out.result = JobResult::DryRun;
    out.found = false;
    out.verdict = text;
    return out;
  }
  ui.set_phase("sending");
  const int sent = send_download_over_scsi(scsi, io, file, static_cast<std::uint8_t>(buffer));
  ui.end_progress_line();
  if (sent != 1) {
    if (ui.stopped()) return interrupted_job(out, kInterruptedBeforeSave);
    out.message = ui.last_message();
    out.result = JobResult::Failed;
    return out;
  }
  if (c.single) {
    std::fprintf(c.env.out, "Transferred %s to %s (target #%u), buffer %u, %u bytes.\n",
                 c.args.file.c_str(), out.product.c_str(), static_cast<unsigned>(scsi.target_id),
                 static_cast<unsigned>(file.download_target_code),
                 static_cast<unsigned>(file.end_address + 1));
    std::fflush(c.env.out);
  }
  ui.set_phase("reading versions");
  return judged(std::move(out), ui, read_scanner_info_scsi(scsi, io), file, false, c.args.post);
}

JobOutcome run_serial_job(const JobSpec& spec, const JobContext& c, ConsoleUi& ui,
                          TimerState& timer, FirmwareState& file, JobOutcome out) {
  out.route = "serial";
  out.address = spec.port;
  SerialState serial;
  SerialIo io{ui, c.env.serial, timer, PortList{0, {spec.port}}};
  if (c.args.dry_run) {
    if (plan_serial_download(serial, io) != 1) {
      if (ui.stopped()) return interrupted_job(out, kInterruptedBeforeSave);
      out.message = ui.last_message();
      return out;
    }
    char text[512];
    std::snprintf(text, sizeof text,
                  "Dry run: serial line %s (19200 baud, 8E1, RTS/CTS), unit code %u: %u bytes in "
                  "%u frames of %u, between a start and an end frame. Nothing was written to the "
                  "scanner.",
                  spec.port.c_str(), static_cast<unsigned>(file.download_target_code),
                  static_cast<unsigned>(kSerialImageSize),
                  static_cast<unsigned>(kSerialImageSize / kSerialBlock),
                  static_cast<unsigned>(kSerialBlock));
    out.result = JobResult::DryRun;
    out.verdict = text;
    return out;
  }
  // Is a scanner there? The transfer's own check, with its message.
  if (plan_serial_download(serial, io) != 1) {
    if (ui.stopped()) return interrupted_job(out, kInterruptedBeforeSave);
    out.message = ui.last_message();
    return out;
  }
  // The versions before: a scanner that does not tell them is still loaded.
  MutedUi muted(ui);
  SerialIo quiet{muted, c.env.serial, timer, PortList{0, {spec.port}}};
  const ScannerRows before = ReadScannerInfoSerial(serial, quiet);
  if (ui.stopped()) return interrupted_job(out, kInterruptedBeforeSave);
  if (before.vendor != kNoDeviceText) {
    out.found = true;
    out.vendor = trimmed(before.vendor);
    out.product = trimmed(before.product);
    ui.set_scanner(out.address, out.product);
    out.before = version_rows_of(before);
  }
  ui.set_phase("sending");
  const int sent = SerialDownload(serial, io, file);
  ui.end_progress_line();
  if (sent != 1) {
    if (ui.stopped()) return interrupted_job(out, kInterruptedBeforeSave);
    out.message = ui.last_message();
    return out;
  }
  out.found = true;
  if (c.single) {
    std::fprintf(c.env.out, "Transferred %s over %s, unit code %u, %u bytes.\n",
                 c.args.file.c_str(), spec.port.c_str(),
                 static_cast<unsigned>(file.download_target_code),
                 static_cast<unsigned>(kSerialImageSize));
    std::fflush(c.env.out);
  }
  ui.set_phase("reading versions");
  return judged(std::move(out), ui, ReadScannerInfoSerial(serial, io), file, true, false);
}

}  // namespace

std::string address_text(std::uint8_t adapter, std::uint8_t target) {
  return std::to_string(adapter) + ":" + std::to_string(target);
}

const char* result_name(JobResult result) {
  switch (result) {
    case JobResult::Verified:
      return "verified";
    case JobResult::Transferred:
      return "transferred";
    case JobResult::Skipped:
      return "skipped";
    case JobResult::Refused:
      return "refused";
    case JobResult::Failed:
      return "failed";
    case JobResult::Interrupted:
      return "interrupted";
    case JobResult::DryRun:
      return "dry run";
  }
  return "failed";
}

VersionRows version_rows_of(const ScannerRows& rows) {
  VersionRows out;
  for (std::size_t i = 0; i < rows.version_label.size(); ++i) {
    for (const VersionKey& k : kVersionKeys) {
      if (rows.version_label[i] == table_string(k.label) &&
          rows.version_value[i] != kNoDeviceText) {
        out.emplace_back(k.key, rows.version_value[i]);
      }
    }
  }
  return out;
}

std::vector<std::string> unit_row_keys(std::uint8_t model_code, bool serial, bool post) {
  for (const UnitRow& row : unit_rows()) {
    if (row.model_code == model_code)
      return serial ? row.serial : post ? row.scsi_post : row.scsi_pre;
  }
  return {};
}

JobOutcome run_job(const JobSpec& spec, const JobContext& c, ConsoleUi& ui) {
  JobOutcome out;
  out.time = utc_now();
  if (spec.address) {
    out.address = address_text(spec.address->first, spec.address->second);
  }
  const auto start = std::chrono::steady_clock::now();
  // The download notes which buffer the image went to: each job has its own copy.
  FirmwareState file = c.file;
  TimerState timer;  // the job's own countdowns, ticked by its console
  ui.set_timer(&timer);
  ui.set_phase("ready check");
  out = spec.route == JobSpec::Route::Serial
            ? run_serial_job(spec, c, ui, timer, file, std::move(out))
            : run_scsi_job(spec, c, ui, timer, file, std::move(out));
  ui.set_timer(nullptr);
  out.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return out;
}

}  // namespace fwload
