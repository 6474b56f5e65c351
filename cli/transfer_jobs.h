// transfer: one job per scanner named (--target, --serial, --all; else the first scanner
// found), each on its own thread with its own state and console, over one SCSI manager. Each
// job reads the scanner's versions (and its serial number where it keeps one) before the
// transfer and again after it, and says whether the scanner now reports the file's version.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "cli/args.h"
#include "cli/console_ui.h"
#include "cli/run_cli.h"
#include "core/scanner_rows.h"
#include "firmware/firmware_state.h"
#include "platform/aspi.h"

namespace fwload {

struct JobSpec {
  enum class Route { Scsi, Serial };
  Route route = Route::Scsi;
  std::optional<std::pair<std::uint8_t, std::uint8_t>> address;  // none: the first found
  std::string port;                                              // the serial line
  bool skip_unsuitable = false;  // found by --all: a scanner the file does not suit is skipped
};

// A SCSI scanner's address as the command line names it: "A:T".
std::string address_text(std::uint8_t adapter, std::uint8_t target);

enum class JobResult { Verified, Transferred, Skipped, Refused, Failed, Interrupted, DryRun };
// "verified", "transferred", ... as the history and the summary name them.
const char* result_name(JobResult result);

// A scanner's version rows by key ("mecha_control", "pre_imprinter", ...), in its order.
using VersionRows = std::vector<std::pair<std::string, std::string>>;
VersionRows version_rows_of(const ScannerRows& rows);

// The keys of the row that tells a file's unit (model code) over SCSI, the imprinter side as
// `post` chooses, or over the serial line; the first one the scanner reports counts. Empty:
// no row tells it.
std::vector<std::string> unit_row_keys(std::uint8_t model_code, bool serial, bool post);

struct JobOutcome {
  JobResult result = JobResult::Failed;
  bool found = false;   // the scanner answered (a record is kept)
  std::string address;  // "A:T" or the port
  std::string route;    // "scsi", "serial" or "emulated"
  std::string vendor, product;
  std::optional<std::string> serial_number;
  VersionRows before, after;
  ScannerRows after_rows;  // what the scanner reported after the transfer, as info shows it
  std::string unit_before, unit_after;  // the file's unit row, before and after ("" if none)
  std::string message;  // "Caption: Text" of the failure, or why the job was skipped
  std::string verdict;  // what the verification found, one line
  std::string time;     // when the job started, UTC, ISO 8601
  double seconds = 0;
};

// What every job of one transfer shares.
struct JobContext {
  const CliArgs& args;
  CliEnv& env;
  const FirmwareState& file;
  AspiLoader* scsi;  // one manager for every SCSI job
  bool emulated = false;
  bool single = false;  // one job: the output is the console's, as without jobs
};

// Runs one job on the calling thread with `ui` as its console.
JobOutcome run_job(const JobSpec& spec, const JobContext& context, ConsoleUi& ui);

}  // namespace fwload
