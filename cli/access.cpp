#include "cli/access.h"

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>

#include "cli/support.h"
#include "emulator/emulated_aspi.h"
#include "scsi/commands.h"

namespace fwload {
namespace {

// The file FWLOAD_EMULATOR_LOG names; the emulated scanners write to it from their own
// threads, one line at a time.
struct EmulatorLog {
  std::string path;
  std::mutex mutex;
  void write(const std::string& line) {
    std::lock_guard<std::mutex> lock(mutex);
    if (std::FILE* f = std::fopen(path.c_str(), "a")) {
      std::fprintf(f, "%s\n", line.c_str());
      std::fclose(f);
    }
  }
};

}  // namespace

// Sets up `access`; returns -1 when the command may go on, else the exit status.
int scsi_access(const CliArgs& args, CliEnv& env, ScsiAccess& access) {
  if (args.emulate.empty()) {
    if (!env.aspi.choose_route(args.route)) {
      return usage_error(env,
                         "--aspi and --spti choose between the two SCSI managers of "
                         "Windows; this system has one");
    }
    access.loader = &env.aspi;
    return -1;
  }
  if (args.emulate.size() == 1 && args.emulate[0] == "help") {
    std::fprintf(env.out, "--emulate %s\n", emulator::emulator_help().c_str());
    return kExitOk;
  }
  // FWLOAD_EMULATOR_LOG names a file that receives what the emulated scanners are sent; with
  // several, each line starts with the scanner's address.
  const char* log_path = std::getenv("FWLOAD_EMULATOR_LOG");
  std::shared_ptr<EmulatorLog> log;
  if (log_path != nullptr && log_path[0] != '\0') {
    log = std::make_shared<EmulatorLog>();
    log->path = log_path;
  }
  for (const std::string& spec : args.emulate) {
    std::string error;
    const auto config = emulator::parse_emulator_config(spec, &error);
    if (!config) return usage_error(env, error + " (--emulate help lists the models and faults)");
    auto scanner = std::make_shared<emulator::Scanner>(*config);
    if (log) {
      const std::string prefix = args.emulate.size() > 1
                                     ? std::to_string(config->faults.adapter) + ":" +
                                           std::to_string(config->faults.target) + " "
                                     : std::string();
      scanner->set_log_sink([prefix, log](const std::string& line) { log->write(prefix + line); });
    }
    access.scanners.push_back(std::move(scanner));
  }
  access.emulated = std::make_unique<emulator::EmulatedAspiLoader>(access.scanners);
  access.loader = access.emulated.get();
  return -1;
}

void prepare_scsi_state(ScsiState& scsi, const CliArgs& args) {
  apply_request_bound_setting(scsi, std::getenv("FWLOAD_REQUEST_BOUND_MS"));
  scsi.search_only = args.target();
}

}  // namespace fwload
