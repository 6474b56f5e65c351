// The ASPI manager as the SCSI code binds to it: a module loaded by name with two entry points.
// Win32: LoadLibraryA / GetProcAddress / FreeLibrary on WNASPI32.DLL. Linux: the same calls
// over the SCSI generic driver. Tests and --emulate: the emulated scanner in process.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/srb.h"

namespace fwload {

class AspiModule {
 public:
  // Unloading the module (FreeLibrary).
  virtual ~AspiModule() = default;
  // Whether the module exports `entry` (GetProcAddress gives a non-null address).
  virtual bool has_entry(std::string_view entry) = 0;
  // GetASPI32SupportInfo: bits 8-15 the ASPI status (1 = completed), bits 0-7 the number of
  // host adapters.
  virtual std::uint32_t get_support_info() = 0;
  // SendASPI32Command with an execute-SCSI-command block; the manager completes it by writing
  // its results and the status byte, possibly later and from another thread.
  virtual void send_command(ScsiRequestBlock& srb) = 0;
  // Asks the manager to abandon a request that has not completed (an abort request). A
  // manager that accepts the abort but does not give the block back (its status stays
  // pending) may still write into it later.
  virtual void abort(ScsiRequestBlock& srb) = 0;

  // Where the device at an address is reached, for a listing ("/dev/sg2"; "" when the
  // manager does not say).
  virtual std::string device_path(std::uint8_t adapter, std::uint8_t target) {
    static_cast<void>(adapter);
    static_cast<void>(target);
    return {};
  }
  // Why a device the manager knows at an address cannot be used ("" when it can, or when
  // nothing is there).
  virtual std::string device_problem(std::uint8_t adapter, std::uint8_t target) {
    static_cast<void>(adapter);
    static_cast<void>(target);
    return {};
  }
  // The manager's name for a listing.
  virtual std::string manager_name() { return "ASPI manager WNASPI32.DLL"; }

  // Takes a block the manager has not given back after an abort: it is never reused, and it
  // stays valid as long as the manager may write into it.
  void keep_abandoned(std::unique_ptr<ScsiRequestBlock> block) {
    abandoned_.push_back(std::move(block));
  }

 protected:
  // Whether a kept block is still pending: the manager still holds a request.
  bool holds_abandoned_request() {
    for (auto& block : abandoned_) {
      if (load_status(*block) == kSsPending) return true;
    }
    return false;
  }
  // Leaves the kept blocks to the process: the manager that may still write into them stays
  // loaded until the process ends.
  void leave_abandoned_to_process() {
    for (auto& block : abandoned_) static_cast<void>(block.release());
    abandoned_.clear();
  }

 private:
  std::vector<std::unique_ptr<ScsiRequestBlock>> abandoned_;
};

// Which manager a Windows program loads: the first that works (an ASPI manager, else the
// built-in layer over the Windows SCSI pass-through), or only the one named.
enum class AspiRoute { FirstThatWorks, AspiManager, PassThrough };

class AspiLoader {
 public:
  virtual ~AspiLoader() = default;
  // LoadLibraryA(name): null when the module cannot be loaded.
  virtual std::unique_ptr<AspiModule> load(std::string_view name) = 0;
  // Takes the route for the next loads; false when this loader has no such choice (only
  // Windows has two managers).
  virtual bool choose_route(AspiRoute route) { return route == AspiRoute::FirstThatWorks; }
};

}  // namespace fwload
