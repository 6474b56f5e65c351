// WNASPI32.DLL for tests: the emulated scanner behind the two ASPI entry points, so that
// fwload.exe can be driven end to end under Wine. FWLOAD_EMULATE chooses the model and its
// faults ("hvs3600:door,latency=5"); FWLOAD_EMULATOR_LOG names a file that receives one line
// per command the scanner receives.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>

#include "emulator/emulated_aspi.h"

namespace {

constexpr std::uint8_t kScAbortSrb = 3;

// The SRB that asks the manager to abort another one.
struct AbortRequestBlock {
  std::uint8_t command;
  std::uint8_t status;
  std::uint8_t host_adapter;
  std::uint8_t flags;
  std::uint32_t reserved;
  void* to_abort;
};

std::string environment(const char* name) {
  char value[1024] = {};
  const DWORD n = GetEnvironmentVariableA(name, value, sizeof value);
  return n > 0 && n < sizeof value ? std::string(value, n) : std::string();
}

std::mutex g_log_mutex;
std::string g_log_path;

void write_log(const std::string& line) {
  std::lock_guard<std::mutex> lock(g_log_mutex);
  if (g_log_path.empty()) return;
  if (std::FILE* f = std::fopen(g_log_path.c_str(), "a")) {
    std::fprintf(f, "%s\n", line.c_str());
    std::fclose(f);
  }
}

// The manager of this process, made on first use from the environment. It completes requests
// on a thread of its own, so the library stays loaded once used (a FreeLibrary must not unmap
// the code that thread runs), and the scanner keeps its state across loads, as hardware would.
fwload::emulator::EmulatedAspi* manager() {
  static fwload::emulator::EmulatedAspi* const instance = [] {
    HMODULE self = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                       reinterpret_cast<LPCSTR>(&write_log), &self);
    std::string spec = environment("FWLOAD_EMULATE");
    if (spec.empty()) spec = "hvs3600";
    std::string error;
    auto config = fwload::emulator::parse_emulator_config(spec, &error);
    if (!config) {
      write_log("bad FWLOAD_EMULATE: " + error);
      config = fwload::emulator::parse_emulator_config("hvs3600:noscanner", nullptr);
    }
    g_log_path = environment("FWLOAD_EMULATOR_LOG");
    auto scanner = std::make_shared<fwload::emulator::Scanner>(*config);
    scanner->set_log_sink(write_log);
    return new fwload::emulator::EmulatedAspi(scanner);
  }();
  return instance;
}

}  // namespace

extern "C" {

__declspec(dllexport) DWORD __cdecl GetASPI32SupportInfo(void) {
  return manager()->get_support_info();
}

__declspec(dllexport) DWORD __cdecl SendASPI32Command(void* request) {
  auto* bytes = static_cast<std::uint8_t*>(request);
  if (bytes[0] == fwload::kScExecScsiCmd) {
    manager()->send_command(*static_cast<fwload::ScsiRequestBlock*>(request));
    return fwload::kSsPending;
  }
  if (bytes[0] == kScAbortSrb) {
    auto* abort = static_cast<AbortRequestBlock*>(request);
    manager()->abort(*static_cast<fwload::ScsiRequestBlock*>(abort->to_abort));
    abort->status = fwload::kSsComp;
    return fwload::kSsComp;
  }
  bytes[1] = fwload::kSsInvalidSrb;
  return fwload::kSsInvalidSrb;
}

}  // extern "C"
