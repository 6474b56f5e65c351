// WNASPI32.DLL for tests: the emulated scanner behind the two ASPI entry points, so that
// fwload.exe can be driven end to end under Wine. FWLOAD_EMULATE chooses the model and its
// faults ("hvs3600:door,latency=5"); FWLOAD_EMULATOR_LOG names a file that receives one line
// per command the scanner receives.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>

#include "emulator/emulated_aspi.h"

namespace {

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

HMODULE g_module = nullptr;

// The manager of this library's life in the process: made on first use from the environment,
// ended when the library is unloaded (its scanner starts afresh on the next load, as after a
// bus reset).
std::unique_ptr<fwload::emulator::EmulatedAspi>& manager_slot() {
  static std::unique_ptr<fwload::emulator::EmulatedAspi> instance;
  return instance;
}

fwload::emulator::EmulatedAspi* manager() {
  auto& instance = manager_slot();
  if (!instance) {
    std::string spec = environment("FWLOAD_EMULATE");
    if (spec.empty()) spec = "hvs3600";
    std::string error;
    auto config = fwload::emulator::parse_emulator_config(spec, &error);
    if (!config) {
      write_log("bad FWLOAD_EMULATE: " + error);
      config = fwload::emulator::parse_emulator_config("hvs3600:noscanner", nullptr);
    }
    auto scanner = std::make_shared<fwload::emulator::Scanner>(*config);
    scanner->set_log_sink(write_log);
    instance = std::make_unique<fwload::emulator::EmulatedAspi>(scanner, /*own_thread=*/false);
  }
  return instance.get();
}

// Each request completes on a thread of its own that holds a reference to this library, so
// that a FreeLibrary by the program never unmaps code a request thread still runs.
DWORD WINAPI complete_request(void* request) {
  manager()->complete(*static_cast<fwload::ScsiRequestBlock*>(request));
  FreeLibraryAndExitThread(g_module, 0);
}

}  // namespace

// The variants built for the missing-entry faults export one of the two under another name, so
// that the program's lookup of it fails as with a damaged manager.
#ifndef FWLOAD_SUPPORT_INFO_EXPORT
#define FWLOAD_SUPPORT_INFO_EXPORT GetASPI32SupportInfo
#endif
#ifndef FWLOAD_SEND_COMMAND_EXPORT
#define FWLOAD_SEND_COMMAND_EXPORT SendASPI32Command
#endif

extern "C" {

__declspec(dllexport) DWORD __cdecl FWLOAD_SUPPORT_INFO_EXPORT(void) {
  return manager()->get_support_info();
}

__declspec(dllexport) DWORD __cdecl FWLOAD_SEND_COMMAND_EXPORT(void* request) {
  auto* bytes = static_cast<std::uint8_t*>(request);
  if (bytes[0] == fwload::kScExecScsiCmd) {
    auto& srb = *static_cast<fwload::ScsiRequestBlock*>(request);
    manager()->send_command(srb);
    HMODULE reference = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                       reinterpret_cast<LPCSTR>(&complete_request), &reference);
    HANDLE thread = CreateThread(nullptr, 0, complete_request, request, 0, nullptr);
    if (thread == nullptr) {
      FreeLibrary(reference);
      srb.host_status = 0x0E;
      fwload::store_status(srb, fwload::kSsErr);
      return fwload::kSsErr;
    }
    CloseHandle(thread);
    return fwload::kSsPending;
  }
  if (bytes[0] == fwload::kScAbortSrb) {
    auto* abort = static_cast<fwload::AbortRequestBlock*>(request);
    manager()->abort(*static_cast<fwload::ScsiRequestBlock*>(abort->to_abort));
    abort->status = fwload::kSsComp;
    return fwload::kSsComp;
  }
  bytes[1] = fwload::kSsInvalidSrb;
  return fwload::kSsInvalidSrb;
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, void* reserved) {
  if (reason == DLL_PROCESS_ATTACH) {
    g_module = instance;
    g_log_path = environment("FWLOAD_EMULATOR_LOG");
    write_log("manager loaded");
  } else if (reason == DLL_PROCESS_DETACH) {
    // Unloaded by FreeLibrary (not at the process's exit) while a request is still pending:
    // a real manager's code for that request would be gone from under it.
    const bool at_exit = reserved != nullptr;
    if (!at_exit && manager_slot() && manager_slot()->holds_hung_request()) {
      write_log("manager unloaded while a request was pending");
    }
    write_log("manager unloaded");
    manager_slot().reset();
  }
  return TRUE;
}

}  // extern "C"
