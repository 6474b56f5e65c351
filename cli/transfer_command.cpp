// transfer: opens FILE, makes one job per scanner named, runs them (several at once, each on
// its own thread over one SCSI manager), records each in the transfer history, and says what
// became of each.
#include <algorithm>
#include <cstdio>
#include <memory>
#include <thread>
#include <vector>

#include "cli/access.h"
#include "cli/commands.h"
#include "cli/gang_board.h"
#include "cli/history.h"
#include "cli/json.h"
#include "cli/support.h"
#include "cli/transfer_jobs.h"
#include "platform/history_file.h"
#include "platform/shared_aspi.h"
#include "res/string_table.h"
#include "scsi/discovery.h"

namespace fwload {
namespace {

bool fails(const JobOutcome& o, bool verify) {
  return o.result == JobResult::Failed || o.result == JobResult::Refused ||
         (verify && o.result == JobResult::Transferred);
}

int exit_status(const std::vector<JobOutcome>& outcomes, bool verify) {
  if (std::any_of(outcomes.begin(), outcomes.end(),
                  [](const JobOutcome& o) { return o.result == JobResult::Interrupted; })) {
    return kExitInterrupted;
  }
  if (std::any_of(outcomes.begin(), outcomes.end(),
                  [&](const JobOutcome& o) { return fails(o, verify); })) {
    return kExitFailure;
  }
  return kExitOk;
}

// Whether a job loaded its scanner, or would have (a dry run).
bool took_file(const JobOutcome& o) {
  return o.result == JobResult::Verified || o.result == JobResult::Transferred ||
         o.result == JobResult::DryRun;
}

std::string result_text(const JobOutcome& o) {
  switch (o.result) {
    case JobResult::Transferred:
      return "transferred, not verified";
    case JobResult::Skipped:
    case JobResult::Failed:
    case JobResult::Refused:
    case JobResult::Interrupted:
      return std::string(result_name(o.result)) + (o.message.empty() ? "" : ": " + o.message);
    default:
      return result_name(o.result);
  }
}

Json summary_json(const std::vector<JobOutcome>& outcomes, const FileFacts& file) {
  Json jobs = Json::array();
  for (const JobOutcome& o : outcomes) {
    Json job = transfer_record(o, file);
    job["version_before"] = o.unit_before.empty() ? Json(nullptr) : Json(json_text(o.unit_before));
    job["version_after"] = o.unit_after.empty() ? Json(nullptr) : Json(json_text(o.unit_after));
    job["verdict"] = o.verdict.empty() ? Json(nullptr) : Json(json_text(o.verdict));
    jobs.push_back(job);
  }
  return {{"file", json_text(file.path)},
          {"file_version", json_text(file.state->file_version)},
          {"jobs", jobs}};
}

void print_summary(CliEnv& env, const std::vector<JobOutcome>& outcomes) {
  std::fprintf(env.out, "%-12s  %-16s  %-16s  %-14s  %s\n", "SCANNER", "PRODUCT", "SERIAL NUMBER",
               "VERSION", "RESULT");
  for (const JobOutcome& o : outcomes) {
    const std::string version =
        o.unit_after.empty()
            ? "-"
            : (o.unit_before.empty() ? "?" : o.unit_before) + " -> " + o.unit_after;
    std::fprintf(env.out, "%-12s  %-16s  %-16s  %-14s  %s\n", o.address.c_str(),
                 o.product.empty() ? "-" : o.product.c_str(),
                 o.serial_number ? o.serial_number->c_str() : "-", version.c_str(),
                 result_text(o).c_str());
  }
  for (const JobOutcome& o : outcomes) {
    if (o.result == JobResult::DryRun || o.result == JobResult::Transferred) {
      std::fprintf(env.out, "%s: %s\n", o.address.c_str(), o.verdict.c_str());
    }
  }
}

// One job, as fwload-cli has always shown a transfer, with the verdict after the versions.
int report_single(CliEnv& env, ConsoleUi& ui, const JobOutcome& o, const FirmwareState& file,
                  bool verify) {
  ui.end_progress_line();
  switch (o.result) {
    case JobResult::DryRun:
      std::fprintf(env.out, "%s\n", o.verdict.c_str());
      break;
    case JobResult::Interrupted:
      std::fprintf(env.err, "%s\n", o.message.c_str());
      break;
    case JobResult::Verified:
    case JobResult::Transferred:
      if (o.after.empty()) {
        std::fprintf(env.out, "The scanner did not report its versions after the transfer.\n");
      } else {
        std::fprintf(env.out, "The scanner now reports:\n");
        for (std::size_t i = 0; i < o.after_rows.version_label.size(); ++i) {
          if (!o.after_rows.version_label[i].empty()) {
            std::fprintf(env.out, "  %s %s\n", o.after_rows.version_label[i].c_str(),
                         o.after_rows.version_value[i].c_str());
          }
        }
        std::fprintf(env.out, "File Version : %s\n", file.file_version.c_str());
      }
      std::fprintf(env.out, "%s\n", o.verdict.c_str());
      break;
    default:
      break;
  }
  std::fflush(env.err);
  if (std::fflush(env.out) != 0) return kExitFailure;
  return exit_status({o}, verify);
}

}  // namespace

int transfer(const CliArgs& args, CliEnv& env) {
  std::string log;
  ScsiAccess access;
  if (const int status = begin_loading(args, env, log, access); status >= 0) return status;
  ConsoleUi ui(env.err, env.err_is_terminal);
  if (env.catch_interrupts != nullptr) ui.set_interrupts(&env.catch_interrupts());
  FirmwareIo io{ui, env.profile, env.fs};
  FirmwareState state;
  FileFacts facts;
  facts.path = absolute_path(args.file);
  facts.state = &state;
  if (!open_for_cli(state, io, ui, facts.path, &facts.sha256)) return kExitFailure;
  ui.end_progress_line();
  ui.set_activity("Trans File");

  // One manager for every SCSI job of the run.
  SharedAspiLoader scsi(*access.loader);
  std::vector<JobSpec> jobs = named_jobs(args, /*first_found_when_none=*/true);
  if (args.all && !add_every_scanner(jobs, scsi, ui)) {
    return ui.stopped() ? kExitInterrupted : kExitFailure;
  }
  if (jobs.empty()) {
    std::fprintf(env.err, "fwload-cli: no supported scanner on the SCSI bus\n");
    return kExitFailure;
  }
  // One job shown as text reports as fwload-cli always has; --json prints only its document.
  JobContext context{
      args, env, state, &scsi, !args.emulate.empty(), jobs.size() == 1 && !args.json, nullptr};
  // Every transfer is on record before its first block or frame, and again with its outcome.
  context.starting = [&](const JobOutcome& o) {
    append_record(env, log, started_record(o, facts));
  };
  auto record = [&](const JobOutcome& o) {
    if (o.started || (o.found && o.result != JobResult::DryRun && o.result != JobResult::Skipped)) {
      append_record(env, log, transfer_record(o, facts));
    }
  };

  if (context.single) {
    const JobOutcome outcome = run_job(jobs[0], context, ui);
    record(outcome);
    return report_single(env, ui, outcome, state, args.verify);
  }

  GangBoard board(env.err, env.err_is_terminal && !args.json);
  std::vector<std::unique_ptr<JobUi>> consoles;
  for (const JobSpec& j : jobs) {
    const std::string label = j.route == JobSpec::Route::Serial ? j.port
                              : j.address ? address_text(j.address->first, j.address->second)
                                          : "scsi";
    consoles.push_back(std::make_unique<JobUi>(board, board.add(label), env.err));
    consoles.back()->set_activity("Trans File");
    if (env.catch_interrupts != nullptr) consoles.back()->set_interrupts(&env.catch_interrupts());
  }
  std::vector<JobOutcome> outcomes(jobs.size());
  std::vector<std::thread> threads;
  for (std::size_t i = 0; i < jobs.size(); ++i) {
    threads.emplace_back([&, i] {
      outcomes[i] = run_job(jobs[i], context, *consoles[i]);
      record(outcomes[i]);
      board.set_label(i, outcomes[i].address, outcomes[i].product);
      board.phase(i, std::string("done: ") + result_name(outcomes[i].result));
    });
  }
  for (std::thread& t : threads) t.join();
  board.finish();
  if (args.json) {
    if (!print_json(env.out, summary_json(outcomes, facts))) return kExitFailure;
  } else {
    print_summary(env, outcomes);
  }
  if (std::fflush(env.out) != 0) return kExitFailure;
  const int status = exit_status(outcomes, args.verify);
  // --all that loaded no scanner: a script must not take it for a file that went in.
  if (args.all && status == kExitOk && std::none_of(outcomes.begin(), outcomes.end(), took_file)) {
    std::fprintf(env.err, "fwload-cli: --all: no scanner took %s (%zu found, none it suits)\n",
                 args.file.c_str(), outcomes.size());
    return kExitFailure;
  }
  return status;
}

}  // namespace fwload
