// The ASPI manager as the SCSI code binds to it: a module loaded by name with two entry points.
// Win32: LoadLibraryA / GetProcAddress / FreeLibrary on WNASPI32.DLL. Linux: the same calls
// over the SCSI generic driver. Tests and --emulate: the emulated scanner in process.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/srb.h"

namespace fwload {

// A request block with the data buffer a manager is given for it. A manager may touch both
// until the request ends, so they live and die together: a block kept after an abort keeps
// its buffer alive with it.
struct RequestSlot {
  ScsiRequestBlock block{};
  std::vector<std::uint8_t> data;
};

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
  // Whether the manager moves a request's data through a copy of its own: it reads outgoing
  // data while SendASPI32Command runs and writes incoming data only into a block still
  // waited for. Else (an ASPI manager) the data buffer must live as long as the block.
  virtual bool copies_data() const { return false; }

  // Takes a block the manager has not given back after an abort, with its data buffer: they
  // are never reused, and they stay valid as long as the manager may write into them.
  virtual void keep_abandoned(std::unique_ptr<RequestSlot> slot) {
    std::lock_guard<std::mutex> lock(abandoned_mutex_);
    abandoned_.push_back(std::move(slot));
  }

 protected:
  // Whether a kept block is still pending: the manager still holds a request.
  bool holds_abandoned_request() {
    std::lock_guard<std::mutex> lock(abandoned_mutex_);
    for (auto& slot : abandoned_) {
      if (load_status(slot->block) == kSsPending) return true;
    }
    return false;
  }
  // Leaves the kept blocks to the process: the manager that may still write into them stays
  // loaded until the process ends.
  void leave_abandoned_to_process() {
    std::lock_guard<std::mutex> lock(abandoned_mutex_);
    for (auto& slot : abandoned_) static_cast<void>(slot.release());
    abandoned_.clear();
  }

 private:
  std::mutex abandoned_mutex_;  // several scanners' jobs share one manager
  std::vector<std::unique_ptr<RequestSlot>> abandoned_;
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
