#include "cli/transfer_jobs.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>

#include "cli/history.h"
#include "cli/support.h"
#include "platform/history_file.h"
#include "res/string_table.h"
#include "scsi/commands.h"
#include "scsi/discovery.h"
#include "scsi/download.h"
#include "scsi/info.h"
#include "scsi/models.h"
#include "scsi/service.h"
#include "serial/serial.h"

namespace fwload {

const char kInterruptedBeforeSave[] =
    "Transfer interrupted before the scanner was told to save it; it keeps its old firmware.";
const char kSavedNotRead[] = "The firmware was saved; its versions were not read.";

std::string new_transfer_id() {
  // 64 random bits from the system, and a count that keeps ids of one run apart.
  static std::atomic<unsigned> count{0};
  std::random_device random;
  const std::uint64_t bits = (static_cast<std::uint64_t>(random()) << 32) ^ random();
  char text[32];
  std::snprintf(text, sizeof text, "%016llx-%u", static_cast<unsigned long long>(bits),
                count.fetch_add(1));
  return text;
}

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

namespace {

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

// Bytes of the version reply by its layout.
int reply_bytes(int level) {
  return level == 1 ? 12 : level == 2 ? 20 : level == 3 ? 24 : 0;
}

// The verdict on what the scanner reported after the transfer.
JobOutcome judged(JobOutcome out, ConsoleUi& ui, const ScannerReading& after,
                  const std::string& problem, const FirmwareState& file, bool serial, bool post) {
  if (ui.stopped()) return interrupted_job(out, kSavedNotRead);
  out.after = after.versions;
  out.after_rows = after.rows;
  const UnitVerdict v = judge_unit(out.before, after, problem, file, serial, post);
  out.result = v.result;
  out.unit_before = v.before;
  out.unit_after = v.after;
  out.verdict = v.text;
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
  ScannerReading before;
  if (buffer >= 0 || unsuitable) {
    before = read_scsi_scanner(scsi, io);
    out.before = before.versions;
    out.serial_number = before.serial_number;
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
  out.started = true;
  if (c.starting) c.starting(out);
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
  std::string problem;
  const ScannerReading after = read_scsi_scanner_again(scsi, io, before, problem);
  return judged(std::move(out), ui, after, problem, file, false, c.args.post);
}

JobOutcome run_serial_job(const JobSpec& spec, const JobContext& c, ConsoleUi& ui,
                          TimerState& timer, FirmwareState& file, JobOutcome out) {
  out.route = "serial";
  out.address = spec.port;
  SerialState serial;
  SerialIo io{ui, c.env.serial, timer, PortList{0, {spec.port}}};
  // A file for another scanner: nothing is asked of the line.
  if (!serial_file_suits(file)) {
    refuse_serial_file(ui);
    out.message = ui.last_message();
    out.result = JobResult::Refused;
    return out;
  }
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
  const ScannerReading before = read_serial_scanner(serial, io, /*quiet=*/true);
  if (ui.stopped()) return interrupted_job(out, kInterruptedBeforeSave);
  if (before.answered) {
    out.found = true;
    out.vendor = before.vendor;
    out.product = before.product;
    ui.set_scanner(out.address, out.product);
    out.before = before.versions;
  }
  out.started = true;
  if (c.starting) c.starting(out);
  ui.set_phase("sending");
  const int sent = SerialDownload(serial, io, file);
  ui.end_progress_line();
  // A download that sent anything is on record, whatever the scanner told before.
  out.found = out.found || serial.frames_sent > 0;
  if (sent != 1) {
    if (ui.stopped()) return interrupted_job(out, kInterruptedBeforeSave);
    out.message = ui.last_message();
    return out;
  }
  if (c.single) {
    std::fprintf(c.env.out, "Transferred %s over %s, unit code %u, %u bytes.\n",
                 c.args.file.c_str(), spec.port.c_str(),
                 static_cast<unsigned>(file.download_target_code),
                 static_cast<unsigned>(kSerialImageSize));
    std::fflush(c.env.out);
  }
  ui.set_phase("reading versions");
  const ScannerReading after = read_serial_scanner(serial, io, /*quiet=*/false);
  std::string problem;
  if (after.answered && before.answered && after.product != before.product) {
    problem = "Transferred, not verified: the scanner on " + spec.port + " now reports itself as " +
              after.product + ", not the " + before.product + " that was loaded.";
  }
  return judged(std::move(out), ui, after, problem, file, true, false);
}

}  // namespace

namespace {

// The selected scanner's reading from its version reply, and its serial number where it keeps
// one.
ScannerReading reading_of(ScsiState& scsi, ScsiIo& io, const VersionReading& versions) {
  ScannerReading out;
  out.answered = true;
  out.vendor = trimmed(scsi.scanner_vendor.view());
  out.product = trimmed(scsi.scanner_product.view());
  out.rows = versions.rows;
  out.versions = version_rows_of(versions.rows);
  out.level = versions.level;
  if (serves_command_dialog(scsi.scanner_product.view())) {
    const auto capability = read_capability(scsi, io);
    std::string serial;
    if (keeps_serial_number(scsi, capability) && read_serial_number(scsi, io, serial) == 0) {
      out.serial_number = trimmed(serial);
    }
  }
  return out;
}

}  // namespace

ScannerReading read_scsi_scanner(ScsiState& scsi, ScsiIo& io) {
  return reading_of(scsi, io, read_version_rows(scsi, io));
}

ScannerReading read_scsi_scanner_again(ScsiState& scsi, ScsiIo& io, const ScannerReading& before,
                                       std::string& problem) {
  const std::string address = address_text(scsi.host_adapter_id, scsi.target_id);
  const VersionReading again = read_versions_again(scsi, io, before.level);
  ScannerReading out;
  problem.clear();
  if (again.rows.vendor == kNoDeviceText) {
    out.rows = again.rows;
    problem = "Transferred, not verified: the scanner at " + address +
              " did not report its versions after the transfer.";
    return out;
  }
  out = reading_of(scsi, io, again);
  if (out.product != before.product) {
    problem = "Transferred, not verified: the scanner at " + address + " now reports itself as " +
              out.product + ", not the " + before.product + " that was loaded.";
  } else if (out.serial_number != before.serial_number) {
    problem = "Transferred, not verified: the scanner at " + address + " reports " +
              (out.serial_number ? "serial number " + *out.serial_number : "no serial number") +
              ", not the " + (before.serial_number ? *before.serial_number : std::string("none")) +
              " it reported before the transfer.";
  } else if (out.level != before.level) {
    problem = "Transferred, not verified: the scanner at " + address + " did not give the " +
              std::to_string(reply_bytes(before.level)) +
              "-byte version reply it gave before the transfer.";
  }
  return out;
}

ScannerReading read_serial_scanner(SerialState& serial, SerialIo& io, bool quiet) {
  MutedUi muted(io.ui);
  SerialIo quiet_io{muted, io.devices, io.timer, io.ports};
  const ScannerRows rows = ReadScannerInfoSerial(serial, quiet ? quiet_io : io);
  ScannerReading out;
  out.rows = rows;
  if (rows.vendor == kNoDeviceText) return out;
  out.answered = true;
  out.vendor = trimmed(rows.vendor);
  out.product = trimmed(rows.product);
  out.versions = version_rows_of(rows);
  return out;
}

UnitVerdict judge_unit(const VersionRows& before, const ScannerReading& after,
                       const std::string& problem, const FirmwareState& file, bool serial,
                       bool post) {
  UnitVerdict v;
  const std::string key = unit_row_in(after.versions, file.FirmwareTargetCode, serial, post);
  if (!key.empty()) {
    const std::string* old = row_value(before, key);
    v.before = old != nullptr ? *old : std::string();
    v.after = *row_value(after.versions, key);
  }
  if (!after.answered && problem.empty()) {
    v.text =
        "Transferred, not verified: the scanner did not report its versions after the "
        "transfer.";
    return v;
  }
  if (!problem.empty()) {
    v.text = problem;
    return v;
  }
  if (key.empty()) {
    v.text = "Transferred, not verified: the scanner reports no version row for the file's unit (" +
             trimmed(file.unit_name) + ").";
    return v;
  }
  const std::string shown = version_row_name(key);
  if (compare_versions(v.after, file.file_version) == VersionOrder::Equal) {
    v.result = JobResult::Verified;
    v.text = "Verified: the scanner reports " + shown + " " + v.after + ", the file's version.";
  } else {
    v.text = "Transferred, not verified: the scanner reports " + shown + " " + v.after +
             ", not the file's " + file.file_version +
             "; a scanner may need switching off and on before it reports its new "
             "firmware (fwload-cli info then checks).";
  }
  return v;
}

std::vector<JobSpec> named_jobs(const CliArgs& args, bool first_found_when_none) {
  std::vector<JobSpec> jobs;
  for (const auto& address : args.targets) {
    JobSpec j;
    j.address = address;
    jobs.push_back(j);
  }
  std::vector<std::string> ports;  // by canonical name: one line named twice is one job
  for (const std::string& port : args.serials) {
    const std::string canonical = canonical_port_name(port);
    if (std::find(ports.begin(), ports.end(), canonical) != ports.end()) continue;
    ports.push_back(canonical);
    JobSpec j;
    j.route = JobSpec::Route::Serial;
    j.port = port;
    jobs.push_back(j);
  }
  if (jobs.empty() && !args.all && first_found_when_none) jobs.emplace_back();
  return jobs;
}

bool add_every_scanner(std::vector<JobSpec>& jobs, AspiLoader& loader, ConsoleUi& ui) {
  TimerState timer;
  ScsiState scsi;
  ScsiIo io{ui, loader, timer};
  const auto devices = scan_bus(scsi, io);
  if (!devices) return false;
  for (const ScsiDevice& d : *devices) {
    if (!d.scanner) continue;
    const auto address = std::make_pair(d.adapter, d.target);
    const bool named = std::any_of(jobs.begin(), jobs.end(),
                                   [&](const JobSpec& j) { return j.address == address; });
    if (named) continue;
    JobSpec j;
    j.address = address;
    j.skip_unsuitable = true;
    jobs.push_back(j);
  }
  return true;
}

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

int begin_loading(const CliArgs& args, CliEnv& env, std::string& log, ScsiAccess& access) {
  log = history_path(args);
  if (!args.log.empty()) {
    std::string error;
    if (!can_append(log, &error)) return usage_error(env, "--log: " + error);
  }
  return scsi_access(args, env, access);
}

JobOutcome run_job(const JobSpec& spec, const JobContext& c, ConsoleUi& ui) {
  JobOutcome out;
  out.time = utc_now();
  out.id = new_transfer_id();
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
