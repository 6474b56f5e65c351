// The commands of fwload-cli, one function each; run_cli (cli/run_cli.h) chooses one.
#pragma once

#include "cli/args.h"
#include "cli/run_cli.h"

namespace fwload {

// Firmware files (cli/firmware_commands.cpp).
int identify(const CliArgs& args, CliEnv& env);
int convert(const CliArgs& args, CliEnv& env);
// Loading firmware (cli/transfer_command.cpp) and the history of it (cli/history.cpp).
int transfer(const CliArgs& args, CliEnv& env);
int history(const CliArgs& args, CliEnv& env);
// Bringing a bench up to date from a folder of firmware (cli/update_command.cpp).
int update(const CliArgs& args, CliEnv& env);
// The scanner (cli/scanner_commands.cpp).
int info(const CliArgs& args, CliEnv& env);
int set_default(const CliArgs& args, CliEnv& env);
int serial_number(const CliArgs& args, CliEnv& env);
int scan(const CliArgs& args, CliEnv& env);

}  // namespace fwload
