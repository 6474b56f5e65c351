#include "platform/win32/win32_aspi.h"

#include <mutex>
#include <set>
#include <string>

#include "platform/aspi_loader.h"

namespace fwload {
namespace {

using SupportInfoFn = DWORD(__cdecl*)();
using SendCommandFn = DWORD(__cdecl*)(void*);

template <typename Fn>
Fn entry_point(HMODULE module, const char* name) {
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

class Win32AspiModule : public AspiModule {
 public:
  Win32AspiModule(HMODULE module, std::string name) : module_(module), name_(std::move(name)) {
    support_info_ = entry_point<SupportInfoFn>(module_, "GetASPI32SupportInfo");
    send_ = entry_point<SendCommandFn>(module_, "SendASPI32Command");
  }
  ~Win32AspiModule() override {
    // A manager that still holds an abandoned request may yet run its own code for it and
    // write into the block: it stays loaded (the process's exit unloads it) and the block
    // stays allocated.
    if (holds_abandoned_request()) {
      leave_abandoned_to_process();
      return;
    }
    FreeLibrary(module_);
  }

  bool has_entry(std::string_view entry) override {
    const std::string name(entry);
    return GetProcAddress(module_, name.c_str()) != nullptr;
  }
  std::uint32_t get_support_info() override {
    return support_info_ != nullptr ? support_info_() : 0;
  }
  void send_command(ScsiRequestBlock& srb) override {
    if (send_ != nullptr) send_(&srb);
  }
  void abort(ScsiRequestBlock& srb) override {
    if (send_ == nullptr) return;
    AbortRequestBlock request{kScAbortSrb, 0, srb.host_adapter, 0, 0, &srb};
    send_(&request);
    // The manager ends the request as aborted; give it a moment to say so.
    for (int i = 0; i < 200 && load_status(srb) == kSsPending; ++i) Sleep(10);
  }
  std::string manager_name() override { return "ASPI manager " + name_; }

 private:
  HMODULE module_;
  std::string name_;
  SupportInfoFn support_info_ = nullptr;
  SendCommandFn send_ = nullptr;
};

}  // namespace

Win32AspiLoader::Win32AspiLoader(AspiNotice notice, std::shared_ptr<SptiSystem> spti)
    : spti_(std::move(spti)) {
  if (!notice) return;
  // The managers may outlive the loader: the lines told so far go with the notice, which
  // several scanners' jobs may call at once.
  struct Told {
    std::mutex mutex;
    std::set<std::string> lines;
  };
  auto told = std::make_shared<Told>();
  notice_ = [notice = std::move(notice), told](std::string_view line) {
    std::lock_guard<std::mutex> lock(told->mutex);
    if (told->lines.insert(std::string(line)).second) notice(line);
  };
}

std::unique_ptr<AspiModule> Win32AspiLoader::load(std::string_view name) {
  const std::string file(name);
  std::string manager_failure;
  if (route_ != AspiRoute::PassThrough) {
    HMODULE module = LoadLibraryA(file.c_str());
    // Values below 32 are the old error codes of a failed load.
    if (reinterpret_cast<UINT_PTR>(module) >= 32) {
      return std::make_unique<Win32AspiModule>(module, file);
    }
    manager_failure = "ASPI manager " + file + ": " + system_error_text(GetLastError());
    if (route_ == AspiRoute::AspiManager) {
      if (notice_) notice_(manager_failure);
      return nullptr;
    }
  }
  std::string why_not;
  std::unique_ptr<AspiModule> module = load_spti_module(spti_, notice_, &why_not);
  if (module) return module;
  const std::string pass_through_failure = std::string(kSptiManagerName) + ": " + why_not;
  if (notice_) {
    notice_(route_ == AspiRoute::PassThrough
                ? pass_through_failure
                : "no SCSI manager can be used: " + manager_failure + "; " + pass_through_failure);
  }
  return nullptr;
}

std::unique_ptr<AspiLoader> make_platform_aspi_loader(AspiNotice notice) {
  return std::make_unique<Win32AspiLoader>(std::move(notice), make_windows_spti_system());
}

}  // namespace fwload
