// The transfer history: one JSON object a line for every transfer job whose scanner was found,
// appended whole and flushed to disk before the job is reported done; and fwload-cli history,
// which prints it.
#pragma once

#include <string>

#include "cli/args.h"
#include "cli/json.h"
#include "cli/run_cli.h"
#include "cli/transfer_jobs.h"
#include "firmware/firmware_state.h"

namespace fwload {

// What a record says of the file sent.
struct FileFacts {
  std::string path;  // absolute
  std::string sha256;
  const FirmwareState* state = nullptr;
};

// --log FILE, else the platform's place ("" when there is none).
std::string history_path(const CliArgs& args);

// The record of one job (the keys are listed in the README), with the job's id.
Json transfer_record(const JobOutcome& job, const FileFacts& file);
// The record a job appends before its first block or frame: its outcome record later has the
// same id; a history whose "started" record has no outcome shows the transfer as unfinished.
Json started_record(const JobOutcome& job, const FileFacts& file);

// Appends the record; on failure a warning on standard error, and the transfer's result stays.
// A record longer than the history's line bound has its longest texts cut, listed in "cut",
// with a warning.
void append_record(CliEnv& env, const std::string& path, Json record);

// fwload-cli history.
int history(const CliArgs& args, CliEnv& env);

}  // namespace fwload
