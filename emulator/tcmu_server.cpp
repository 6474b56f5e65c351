// fwscanner --scsi: the emulated scanners set up behind the kernel's SCSI target, each served on
// a thread of its own, until a signal ends them.
#include <pthread.h>
#include <signal.h>

#include <cstdio>
#include <memory>
#include <mutex>
#include <thread>

#include "emulator/tcmu_configfs.h"
#include "emulator/tcmu_scanner.h"

namespace fwload::emulator {
namespace {

// The faults of the in-process manager that a device behind the kernel cannot have.
constexpr std::string_view kManagerFaults[] = {"nomanager",   "noentry",   "badadapter",
                                               "supportinfo", "noscanner", "adapter"};

std::string manager_fault_in(std::string_view spec) {
  const std::size_t colon = spec.find(':');
  if (colon == std::string_view::npos) return {};
  std::string_view rest = spec.substr(colon + 1);
  while (!rest.empty()) {
    const std::size_t comma = rest.find(',');
    const std::string_view item = rest.substr(0, comma);
    const std::string_view key = item.substr(0, item.find('='));
    for (std::string_view f : kManagerFaults) {
      if (key == f) return std::string(item);
    }
    rest = comma == std::string_view::npos ? std::string_view{} : rest.substr(comma + 1);
  }
  return {};
}

struct Served {
  EmulatorConfig config;
  int target = 0;
  std::unique_ptr<TcmuScanner> scanner;
  std::thread thread;
};

}  // namespace

int run_tcmu_scanners(const std::vector<std::string>& specs, const std::string& log_path) {
  std::vector<Served> served;
  for (const std::string& spec : specs) {
    std::string error;
    auto config = parse_emulator_config(spec, &error);
    if (!config) {
      std::fprintf(stderr, "fwscanner: %s\n", error.c_str());
      return 2;
    }
    if (const std::string fault = manager_fault_in(spec); !fault.empty()) {
      std::fprintf(stderr,
                   "fwscanner: --scsi %s: '%s' is a fault of the in-process SCSI manager; behind "
                   "the kernel's target there is none\n",
                   spec.c_str(), fault.c_str());
      return 2;
    }
    for (const Served& s : served) {
      if (s.target == config->faults.target) {
        std::fprintf(stderr, "fwscanner: two scanners at target %d\n", s.target);
        return 2;
      }
    }
    served.push_back({*config, config->faults.target, nullptr, {}});
  }
  if (const std::string problem = target_problem(); !problem.empty()) {
    std::fprintf(stderr, "fwscanner: %s\n", problem.c_str());
    return 1;
  }
  // The signals wait for the main thread, which asks for them once everything is up: the
  // serving threads never take one.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);

  std::FILE* log = log_path.empty() ? nullptr : std::fopen(log_path.c_str(), "a");
  std::mutex log_mutex;
  std::atomic<bool> stop{false};
  remove_leftovers();
  std::vector<int> targets;
  int status = 0;
  auto end_all = [&] {
    for (Served& s : served) {
      if (s.scanner) s.scanner->release_held();
    }
    unexport(targets);
    stop = true;
    for (Served& s : served) {
      if (s.thread.joinable()) s.thread.join();
    }
    for (Served& s : served) s.scanner.reset();
    remove_backstores(targets);
  };
  for (Served& s : served) {
    std::string error;
    const auto backstore = create_backstore(s.target, s.config.model->name, &error);
    if (backstore) targets.push_back(s.target);
    tcmu_ring* ring = nullptr;
    if (backstore) {
      char text[256];
      ring = tcmu_ring_open(backstore->uio.c_str(), backstore->map_size, text, sizeof text);
      if (ring == nullptr) error = text;
    }
    if (ring == nullptr) {
      if (!backstore && targets.empty() && error.empty()) error = "the backstore could not be made";
      std::fprintf(stderr, "fwscanner: %s\n", error.c_str());
      status = 1;
      break;
    }
    const std::string prefix = std::to_string(s.target) + " ";
    s.scanner = std::make_unique<TcmuScanner>(s.config, ring, [&, prefix](const std::string& line) {
      if (log == nullptr) return;
      std::lock_guard<std::mutex> lock(log_mutex);
      std::fprintf(log, "%s%s\n", prefix.c_str(), line.c_str());
      std::fflush(log);
    });
    // The handler serves before the LUN is exported: exporting scans the unit.
    TcmuScanner* scanner = s.scanner.get();
    s.thread = std::thread([scanner, &stop] { scanner->serve(stop); });
    const auto attached = export_backstore(s.target, &error);
    if (!attached) {
      std::fprintf(stderr, "fwscanner: %s\n", error.c_str());
      status = 1;
      break;
    }
    scanner->attached();
    std::printf("%s %s %s\n", s.config.model->name.c_str(), attached->sg.c_str(),
                attached->hctl.c_str());
    std::fflush(stdout);
  }
  if (status == 0) {
    int signal_number = 0;
    sigwait(&signals, &signal_number);
  }
  end_all();
  if (log != nullptr) std::fclose(log);
  return status;
}

}  // namespace fwload::emulator
