// transfer: one job per scanner named (--target, --serial, --all; else the first scanner
// found), each on its own thread with its own state and console, over one SCSI manager. Each
// job reads the scanner's versions (and its serial number where it keeps one) before the
// transfer and again after it, from the same address, and says whether that scanner now
// reports the file's version.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "cli/access.h"
#include "cli/args.h"
#include "cli/console_ui.h"
#include "cli/run_cli.h"
#include "core/scanner_rows.h"
#include "core/unit_versions.h"
#include "firmware/firmware_state.h"
#include "platform/aspi.h"
#include "scsi/scsi_state.h"
#include "serial/serial_state.h"

namespace fwload {

struct JobSpec {
  enum class Route { Scsi, Serial };
  Route route = Route::Scsi;
  std::optional<std::pair<std::uint8_t, std::uint8_t>> address;  // none: the first found
  std::string port;                                              // the serial line
  bool skip_unsuitable = false;  // found by --all: a scanner the file does not suit is skipped
};

// The jobs the command line names (--target, --serial; one serial port by two names is one
// job); none named and no --all: the first scanner found when `first_found_when_none`.
std::vector<JobSpec> named_jobs(const CliArgs& args, bool first_found_when_none);
// --all: every supported scanner on the bus not named already, skipped when the file does not
// suit it. False after the message when the bus cannot be searched.
bool add_every_scanner(std::vector<JobSpec>& jobs, AspiLoader& loader, ConsoleUi& ui);

// A SCSI scanner's address as the command line names it: "A:T".
std::string address_text(std::uint8_t adapter, std::uint8_t target);

enum class JobResult { Verified, Transferred, Skipped, Refused, Failed, Interrupted, DryRun };
// "verified", "transferred", ... as the history and the summary name them.
const char* result_name(JobResult result);

// What one reading of a scanner found: its identity, its version rows and, over SCSI, the
// layout of the version reply (1-3; 0 none) and the serial number where it keeps one.
struct ScannerReading {
  bool answered = false;
  std::string vendor, product;  // trimmed
  ScannerRows rows;             // as info shows them
  VersionRows versions;
  int level = 0;
  std::optional<std::string> serial_number;
};

// The selected SCSI scanner, found and ready: its versions and serial number.
ScannerReading read_scsi_scanner(ScsiState& scsi, ScsiIo& io);
// The same scanner after a transfer: only its address is asked, its reply decoded with the
// layout of `before` only (read once more when it answers in another), its serial number read
// again. `problem` says why what answered cannot confirm the transfer ("" when it can).
ScannerReading read_scsi_scanner_again(ScsiState& scsi, ScsiIo& io, const ScannerReading& before,
                                       std::string& problem);
// The serial scanner's identity and versions (its messages held back: the download that
// follows says what is wrong).
ScannerReading read_serial_scanner(SerialState& serial, SerialIo& io, bool quiet);

// The verdict on a unit after its transfer: whether `after` reports the file's version in the
// file's unit row (the side `post` chose; over the serial line when `serial`).
struct UnitVerdict {
  JobResult result = JobResult::Transferred;  // Verified or Transferred
  std::string before, after;                  // the unit row's values ("" when none)
  std::string text;                           // one line
};
UnitVerdict judge_unit(const VersionRows& before, const ScannerReading& after,
                       const std::string& problem, const FirmwareState& file, bool serial,
                       bool post);

struct JobOutcome {
  JobResult result = JobResult::Failed;
  bool found = false;    // the scanner answered or was sent something (a record is kept)
  bool started = false;  // the job was about to send its first block or frame
  std::string id;        // the transfer's id in the history (its "started" and outcome records)
  std::string address;   // "A:T" or the port
  std::string route;     // "scsi", "serial" or "emulated"
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
  bool single = false;  // one job shown as text: the output is the console's, as without jobs
  // Called once a job is about to send its first block or frame, with what it knows then
  // (null: nothing is called).
  std::function<void(const JobOutcome&)> starting;
};

// What transfer and update do first: the history's path (a --log FILE checked to take
// appends) and the way to the SCSI scanners. -1 when the command may go on, else its exit
// status.
int begin_loading(const CliArgs& args, CliEnv& env, std::string& log, ScsiAccess& access);

// Runs one job on the calling thread with `ui` as its console.
JobOutcome run_job(const JobSpec& spec, const JobContext& context, ConsoleUi& ui);

// A new id for a transfer's records, unique among the runs that write one history.
std::string new_transfer_id();
// UTC now as 2026-12-09T10:27:10Z.
std::string utc_now();

// The message a job ends with when Ctrl-C stopped it before the scanner was told to save.
extern const char kInterruptedBeforeSave[];
// ... and after it saved, before its versions were read.
extern const char kSavedNotRead[];

}  // namespace fwload
