#include "cli/access.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#include "cli/support.h"
#include "emulator/emulated_aspi.h"
#include "scsi/commands.h"

namespace fwload {
namespace {

std::string& emulator_log_path() {
  static std::string path;
  return path;
}

}  // namespace

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

}  // namespace fwload
