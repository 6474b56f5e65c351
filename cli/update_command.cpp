// update: brings every scanner of a bench up to the newest firmware among the files given.
// The files are opened and catalogued first (a folder's SHA256SUMS checked), then each scanner
// is found and its versions read, the plan printed, and the units that need it loaded: the
// scanners at once, within one scanner one unit after the other, mecha-control first, each
// verified by the versions the scanner reports afterwards and recorded in the history before
// its first block and with its outcome.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <system_error>
#include <thread>
#include <vector>

#include "cli/access.h"
#include "cli/commands.h"
#include "cli/gang_board.h"
#include "cli/history.h"
#include "cli/json.h"
#include "cli/support.h"
#include "cli/transfer_jobs.h"
#include "cli/update_plan.h"
#include "firmware/hex.h"
#include "platform/history_file.h"
#include "platform/shared_aspi.h"
#include "scsi/commands.h"
#include "scsi/discovery.h"
#include "scsi/download.h"
#include "serial/serial.h"

namespace fwload {
namespace {

namespace fs = std::filesystem;

// A console that keeps its messages (the open message of a damaged file goes into the
// catalogue, not onto the terminal).
class KeptUi : public ConsoleUi {
 public:
  KeptUi() : ConsoleUi(stderr, false) {}
  void message_box(std::string_view caption, std::string_view text, bool) override {
    remember_message(caption, text);
  }
};

bool firmware_name(const fs::path& p) {
  const std::string name = p.filename().string();
  return ends_with_any_case(name, ".mot") || ends_with_any_case(name, ".sum");
}

// SHA256SUMS of a folder (the format of sha256sum: 64 hex digits, a blank, a blank or "*", the
// name): digests by name. Null when the folder has none; at most 1 MiB of it is read.
std::unique_ptr<std::map<std::string, std::string>> read_sums(const fs::path& folder) {
  std::ifstream in(folder / "SHA256SUMS", std::ios::binary);
  if (!in) return nullptr;
  auto sums = std::make_unique<std::map<std::string, std::string>>();
  std::string line;
  std::size_t read = 0;
  while (read < (1u << 20) && std::getline(in, line)) {
    read += line.size() + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.size() < 67 || (line[65] != ' ' && line[65] != '*') || line[64] != ' ') continue;
    std::string digest = line.substr(0, 64);
    for (char& c : digest) c = static_cast<char>(c >= 'A' && c <= 'F' ? c - 'A' + 'a' : c);
    (*sums)[line.substr(66)] = digest;
  }
  return sums;
}

// The files PATH names: itself, or a folder's .mot and .sum files (not its subfolders'), in
// name order.
std::vector<fs::path> files_of(const std::vector<std::string>& paths) {
  std::vector<fs::path> out;
  for (const std::string& given : paths) {
    const fs::path p = absolute_path(given);
    std::error_code ec;
    if (!fs::is_directory(p, ec)) {
      out.push_back(p);
      continue;
    }
    std::vector<fs::path> in_folder;
    for (const fs::directory_entry& e : fs::directory_iterator(p, ec)) {
      if (e.is_regular_file(ec) && firmware_name(e.path())) in_folder.push_back(e.path());
    }
    std::sort(in_folder.begin(), in_folder.end());
    out.insert(out.end(), in_folder.begin(), in_folder.end());
  }
  return out;
}

Catalogue catalogue_of(const std::vector<std::string>& paths, CliEnv& env) {
  std::vector<CatalogueFile> files;
  std::map<fs::path, std::shared_ptr<std::map<std::string, std::string>>> sums;
  for (const fs::path& p : files_of(paths)) {
    CatalogueFile f;
    f.path = p.string();
    if (std::any_of(files.begin(), files.end(), [&](const auto& g) { return g.path == f.path; })) {
      continue;  // named twice
    }
    KeptUi ui;
    FirmwareIo io{ui, env.profile, env.fs};
    f.opened = open_for_cli(f.state, io, ui, f.path, &f.sha256);
    if (!f.opened) {
      f.status = "damaged: " + ui.last_message();
    } else {
      auto& list = sums[p.parent_path()];
      if (list == nullptr) list = read_sums(p.parent_path());
      if (list != nullptr) {
        const auto it = list->find(p.filename().string());
        f.listed_sha256 = it != list->end() ? it->second : std::string();
      }
    }
    files.push_back(std::move(f));
  }
  return build_catalogue(std::move(files));
}

std::string unit_text(const std::string& key) {
  std::string text = key;
  std::replace(text.begin(), text.end(), '_', '-');
  return text;
}

std::string action_text(const UnitPlan& u) {
  std::string text = action_name(u.action);
  if (u.send && u.action != UnitAction::Update) {
    text += u.action == UnitAction::Current ? ", reinstalled" : ", loaded all the same";
  }
  return text;
}

// One unit as it was loaded.
struct UnitResult {
  std::string unit;
  std::string before, after;
  JobResult result = JobResult::Failed;
  std::string message;  // the failure, or the verdict when not verified
  double seconds = 0;
};

// One scanner of the bench: found, read, planned, then loaded unit by unit.
struct ScannerJob {
  JobSpec spec;
  std::unique_ptr<JobUi> ui;
  TimerState timer;
  ScsiState scsi;
  SerialState serial;
  JobOutcome base;  // the scanner: address, route, identity, the versions as last read
  ScannerReading reading;
  std::vector<UnitPlan> plan;
  std::string failure;       // why the scanner could not be planned ("" when it was)
  bool unsupported = false;  // found, but of no family update loads
  bool interrupted = false;
  std::vector<UnitResult> results;
};

struct Bench {
  const CliArgs& args;
  CliEnv& env;
  AspiLoader& scsi;
  const Catalogue& catalogue;
  std::string log;
  bool emulated = false;
};

// Finds the scanner and reads it; plans its units.
void read_and_plan(ScannerJob& j, const Bench& b) {
  ConsoleUi& ui = *j.ui;
  ui.set_timer(&j.timer);
  ui.set_phase("reading versions");
  std::vector<std::string> fitted;
  std::optional<ScannerFamily> family;
  if (j.spec.route == JobSpec::Route::Serial) {
    j.base.route = "serial";
    j.base.address = j.spec.port;
    SerialIo io{ui, b.env.serial, j.timer, PortList{0, {j.spec.port}}};
    if (plan_serial_download(j.serial, io) != 1) {
      j.failure = ui.last_message();
    } else {
      j.reading = read_serial_scanner(j.serial, io, /*quiet=*/false);
      if (!j.reading.answered) j.failure = ui.last_message();
    }
    family = serial_family();
  } else {
    j.base.route = b.emulated ? "emulated" : "scsi";
    apply_request_bound_setting(j.scsi, std::getenv("FWLOAD_REQUEST_BOUND_MS"));
    j.scsi.search_only = j.spec.address;
    ScsiIo io{ui, b.scsi, j.timer};
    if (find_scanner(j.scsi, io) == 0) {
      j.failure = ui.last_message();
    } else {
      j.base.address = address_text(j.scsi.host_adapter_id, j.scsi.target_id);
      for (int attempt = 0; attempt < kReadinessTries; ++attempt) {
        if (ui.stop_requested() || test_unit_ready(j.scsi, io, j.scsi.target_id) == 0) break;
      }
      j.reading = read_scsi_scanner(j.scsi, io);
      family = scsi_family(j.scsi.scanner_model_class);
      fitted.push_back("mecha_control");
      if (j.scsi.pre_imprinter_fitted != 0) fitted.push_back("pre_imprinter");
      if (j.scsi.post_imprinter_fitted != 0) fitted.push_back("post_imprinter");
    }
  }
  if (ui.stopped()) {
    j.interrupted = true;
    return;
  }
  if (!j.failure.empty()) return;
  j.base.found = true;
  j.base.vendor = j.reading.vendor;
  j.base.product = j.reading.product;
  j.base.serial_number = j.reading.serial_number;
  j.base.before = j.reading.versions;
  ui.set_scanner(j.base.address, j.base.product);
  if (!family) {
    j.unsupported = true;
    return;
  }
  const UpdateOptions options{b.args.allow_older, b.args.allow_reinstall};
  j.plan = plan_units(j.reading.versions, fitted, *family, b.catalogue, options);
}

// Loads one unit; false when the scanner's later units must wait (it was not verified).
bool load_unit(ScannerJob& j, const UnitPlan& u, const Bench& b) {
  ConsoleUi& ui = *j.ui;
  const CatalogueFile& entry = b.catalogue.files[*u.file];
  FirmwareState file = entry.state;  // the download notes its buffer in its own copy
  const FileFacts facts{entry.path, entry.sha256, &file};
  JobOutcome o = j.base;
  o.id = new_transfer_id();
  o.time = utc_now();
  o.before = j.reading.versions;
  const auto start = std::chrono::steady_clock::now();
  UnitResult r;
  r.unit = u.unit;
  r.before = u.now;
  const bool serial = j.spec.route == JobSpec::Route::Serial;
  const std::string phase = unit_text(u.unit) + ": ";
  ScannerReading after;
  std::string problem;
  bool sent = false;
  if (serial) {
    SerialIo io{ui, b.env.serial, j.timer, PortList{0, {j.spec.port}}};
    o.started = true;
    append_record(b.env, b.log, started_record(o, facts));
    ui.set_phase(phase + "sending");
    sent = SerialDownload(j.serial, io, file) == 1;
    ui.end_progress_line();
    if (sent && !ui.stopped()) {
      ui.set_phase(phase + "reading versions");
      after = read_serial_scanner(j.serial, io, /*quiet=*/false);
      if (after.answered && after.product != j.reading.product) {
        problem = "Transferred, not verified: the scanner on " + j.spec.port +
                  " now reports itself as " + after.product + ".";
      }
    }
  } else {
    ScsiIo io{ui, b.scsi, j.timer};
    bool unsuitable = false;
    ui.set_phase(phase + "ready check");
    const int buffer = check_ready_and_suitable(j.scsi, io, file, u.post ? 1 : 0, &unsuitable);
    if (buffer >= 0) {
      o.started = true;
      append_record(b.env, b.log, started_record(o, facts));
      ui.set_phase(phase + "sending");
      sent = send_download_over_scsi(j.scsi, io, file, static_cast<std::uint8_t>(buffer)) == 1;
      ui.end_progress_line();
      if (sent && !ui.stopped()) {
        ui.set_phase(phase + "reading versions");
        after = read_scsi_scanner_again(j.scsi, io, j.reading, problem);
      }
    } else if (unsuitable) {
      r.result = JobResult::Refused;
    }
  }
  if (ui.stopped()) {
    r.result = JobResult::Interrupted;
    r.message = sent ? kSavedNotRead : kInterruptedBeforeSave;
    j.interrupted = true;
  } else if (!sent) {
    r.message = ui.last_message();
  } else {
    const UnitVerdict v = judge_unit(j.reading.versions, after, problem, file, serial, u.post);
    r.result = v.result;
    r.after = v.after;
    r.before = v.before.empty() ? u.now : v.before;
    if (v.result != JobResult::Verified) r.message = v.text;
    o.after = after.versions;
    if (after.answered) j.reading = after;
  }
  r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  o.result = r.result;
  o.message = r.message;
  o.seconds = r.seconds;
  append_record(b.env, b.log, transfer_record(o, facts));
  j.results.push_back(r);
  return r.result == JobResult::Verified;
}

void run_plan(ScannerJob& j, const Bench& b) {
  for (const UnitPlan& u : j.plan) {
    if (!u.send) continue;
    if (j.ui->stopped() || !load_unit(j, u, b)) break;
  }
  j.ui->set_phase("done");
  j.ui->set_timer(nullptr);
}

std::string dash(const std::string& text) {
  return text.empty() ? "-" : text;
}

std::string result_text(const UnitResult& r) {
  const std::string name =
      r.result == JobResult::Transferred ? "not verified" : result_name(r.result);
  return r.message.empty() ? name : name + ": " + r.message;
}

void print_catalogue(std::FILE* out, const Catalogue& c) {
  std::fprintf(out, "%-5s  %-9s  %-13s  %-7s  %-40s  %s\n", "MODEL", "SCANNER", "UNIT", "VERSION",
               "FILE", "STATUS");
  for (const CatalogueFile& f : c.files) {
    const bool opened = f.opened;
    std::fprintf(out, "%-5s  %-9s  %-13s  %-7s  %-40s  %s\n",
                 opened ? std::to_string(f.state.FirmwareTargetCode).c_str() : "-",
                 opened ? trimmed(f.state.scanner_name).c_str() : "-",
                 opened ? trimmed(f.state.unit_name).c_str() : "-",
                 opened ? trimmed(f.state.file_version).c_str() : "-", f.path.c_str(),
                 f.status.c_str());
  }
}

void print_plan(std::FILE* out, const std::vector<std::unique_ptr<ScannerJob>>& jobs,
                const Catalogue& c) {
  std::fprintf(out, "%-12s  %-16s  %-16s  %-14s  %-4s  %-12s  %-30s  %s\n", "SCANNER", "PRODUCT",
               "SERIAL NUMBER", "UNIT", "NOW", "FILE VERSION", "ACTION", "FILE");
  for (const auto& j : jobs) {
    const std::string address = dash(j->base.address.empty() ? j->spec.port : j->base.address);
    if (!j->failure.empty() || j->unsupported) {
      std::fprintf(out, "%-12s  %-16s  %-16s  %-14s  %-4s  %-12s  %s\n", address.c_str(),
                   dash(j->base.product).c_str(), dash(j->base.serial_number.value_or("")).c_str(),
                   "-", "-", "-",
                   j->unsupported ? "no unit update loads (use transfer)" : j->failure.c_str());
      continue;
    }
    for (const UnitPlan& u : j->plan) {
      const CatalogueFile* f = u.file ? &c.files[*u.file] : nullptr;
      std::fprintf(out, "%-12s  %-16s  %-16s  %-14s  %-4s  %-12s  %-30s  %s\n", address.c_str(),
                   dash(j->base.product).c_str(), dash(j->base.serial_number.value_or("")).c_str(),
                   unit_text(u.unit).c_str(), dash(u.now).c_str(),
                   f != nullptr ? trimmed(f->state.file_version).c_str() : "-",
                   action_text(u).c_str(), f != nullptr ? f->path.c_str() : "-");
    }
  }
}

void print_results(std::FILE* out, const std::vector<std::unique_ptr<ScannerJob>>& jobs) {
  std::fprintf(out, "%-12s  %-16s  %-14s  %-14s  %s\n", "SCANNER", "SERIAL NUMBER", "UNIT",
               "BEFORE -> AFTER", "RESULT");
  for (const auto& j : jobs) {
    for (const UnitResult& r : j->results) {
      const std::string versions = dash(r.before) + " -> " + dash(r.after);
      std::fprintf(out, "%-12s  %-16s  %-14s  %-14s  %s\n", j->base.address.c_str(),
                   dash(j->base.serial_number.value_or("")).c_str(), unit_text(r.unit).c_str(),
                   versions.c_str(), result_text(r).c_str());
    }
  }
}

Json document(const std::vector<std::unique_ptr<ScannerJob>>& jobs, const Catalogue& c,
              bool results) {
  auto text_or_null = [](const std::string& t) {
    return t.empty() ? Json(nullptr) : Json(json_text(t));
  };
  Json catalogue = Json::array();
  for (const CatalogueFile& f : c.files) {
    catalogue.push_back(
        {{"file", json_text(f.path)},
         {"sha256", text_or_null(f.sha256)},
         {"model_code", f.opened ? Json(f.state.FirmwareTargetCode) : Json(nullptr)},
         {"scanner_name",
          f.opened ? Json(json_text(trimmed(f.state.scanner_name))) : Json(nullptr)},
         {"unit_name", f.opened ? Json(json_text(trimmed(f.state.unit_name))) : Json(nullptr)},
         {"version", f.opened ? Json(json_text(trimmed(f.state.file_version))) : Json(nullptr)},
         {"status", json_text(f.status)}});
  }
  Json plan = Json::array();
  Json done = Json::array();
  for (const auto& j : jobs) {
    const std::string address = j->base.address.empty() ? j->spec.port : j->base.address;
    auto scanner = [&] {
      return Json{{"address", json_text(address)},
                  {"product", text_or_null(j->base.product)},
                  {"serial_number", j->base.serial_number ? Json(json_text(*j->base.serial_number))
                                                          : Json(nullptr)}};
    };
    if (!j->failure.empty() || j->unsupported) {
      Json row = scanner();
      row["unit"] = nullptr;
      row["action"] = j->unsupported ? "no unit update loads (use transfer)" : "failed";
      row["message"] = text_or_null(j->failure);
      plan.push_back(row);
    }
    for (const UnitPlan& u : j->plan) {
      Json row = scanner();
      row["unit"] = u.unit;
      row["now"] = text_or_null(u.now);
      row["file_version"] =
          u.file ? Json(json_text(trimmed(c.files[*u.file].state.file_version))) : Json(nullptr);
      row["action"] = action_name(u.action);
      row["send"] = u.send;
      row["file"] = u.file ? Json(json_text(c.files[*u.file].path)) : Json(nullptr);
      plan.push_back(row);
    }
    for (const UnitResult& r : j->results) {
      done.push_back(
          {{"address", json_text(address)},
           {"unit", r.unit},
           {"result", r.result == JobResult::Transferred ? "not verified" : result_name(r.result)},
           {"before", text_or_null(r.before)},
           {"after", text_or_null(r.after)},
           {"message", text_or_null(r.message)},
           {"seconds", static_cast<double>(static_cast<long long>(r.seconds * 10 + 0.5)) / 10}});
    }
  }
  Json out = {{"catalogue", catalogue}, {"plan", plan}};
  if (results) out["results"] = done;
  return out;
}

// 130 when interrupted; 1 when a file was refused or damaged, a scanner could not be read, a
// unit is unknown and was not sent, or a unit failed or was not verified; else 0.
int exit_status(const std::vector<std::unique_ptr<ScannerJob>>& jobs, const Catalogue& c) {
  bool failed = c.refused;
  for (const auto& j : jobs) {
    if (j->interrupted) return kExitInterrupted;
    failed = failed || !j->failure.empty();
    for (const UnitPlan& u : j->plan)
      failed = failed || (u.action == UnitAction::Unknown && !u.send);
    for (const UnitResult& r : j->results) failed = failed || r.result != JobResult::Verified;
  }
  return failed ? kExitFailure : kExitOk;
}

}  // namespace

int update(const CliArgs& args, CliEnv& env) {
  std::string log;
  ScsiAccess access;
  if (const int status = begin_loading(args, env, log, access); status >= 0) return status;
  ConsoleUi ui(env.err, env.err_is_terminal);
  if (env.catch_interrupts != nullptr) ui.set_interrupts(&env.catch_interrupts());
  // The text goes to stdout, or with --json to stderr beside the document.
  std::FILE* text = args.json ? env.err : env.out;

  const Catalogue catalogue = catalogue_of(args.paths, env);
  print_catalogue(text, catalogue);
  std::fflush(text);

  SharedAspiLoader scsi(*access.loader);
  std::vector<JobSpec> specs = named_jobs(args, /*first_found_when_none=*/false);
  if ((specs.empty() || args.all) && !add_every_scanner(specs, scsi, ui)) {
    return ui.stopped() ? kExitInterrupted : kExitFailure;
  }
  if (specs.empty()) {
    std::fprintf(env.err, "fwload-cli: no supported scanner on the SCSI bus\n");
    return kExitFailure;
  }
  GangBoard board(env.err, env.err_is_terminal && !args.json);
  std::vector<std::unique_ptr<ScannerJob>> jobs;
  for (const JobSpec& s : specs) {
    auto j = std::make_unique<ScannerJob>();
    j->spec = s;
    const std::string label = s.route == JobSpec::Route::Serial ? s.port
                              : s.address ? address_text(s.address->first, s.address->second)
                                          : "scsi";
    j->ui = std::make_unique<JobUi>(board, board.add(label), env.err);
    j->ui->set_activity("Trans File");
    if (env.catch_interrupts != nullptr) j->ui->set_interrupts(&env.catch_interrupts());
    jobs.push_back(std::move(j));
  }
  const Bench bench{args, env, scsi, catalogue, log, !args.emulate.empty()};
  auto each = [&](void (*work)(ScannerJob&, const Bench&)) {
    std::vector<std::thread> threads;
    for (auto& j : jobs) threads.emplace_back([&, job = j.get()] { work(*job, bench); });
    for (std::thread& t : threads) t.join();
  };
  each(read_and_plan);
  const bool interrupted =
      std::any_of(jobs.begin(), jobs.end(), [](const auto& j) { return j->interrupted; });
  const bool anything = std::any_of(jobs.begin(), jobs.end(), [](const auto& j) {
    return std::any_of(j->plan.begin(), j->plan.end(), [](const UnitPlan& u) { return u.send; });
  });
  if (!interrupted && !args.dry_run && anything) {
    board.finish();
    print_plan(text, jobs, catalogue);
    std::fflush(text);
    each(run_plan);
  }
  board.finish();
  if (args.dry_run || !anything || interrupted) print_plan(text, jobs, catalogue);
  if (!anything && !interrupted) {
    std::fprintf(text, "Nothing to do: no unit is older than its newest file%s.\n",
                 args.dry_run ? "" : "; nothing was sent");
  } else if (args.dry_run) {
    std::fprintf(text, "Dry run: nothing was written to the scanners.\n");
  } else if (!interrupted) {
    print_results(text, jobs);
  }
  if (args.json && !print_json(env.out, document(jobs, catalogue, !args.dry_run))) {
    return kExitFailure;
  }
  if (std::fflush(env.out) != 0) return kExitFailure;
  std::fflush(env.err);
  return exit_status(jobs, catalogue);
}

}  // namespace fwload
