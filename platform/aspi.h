// The ASPI manager as the SCSI code binds to it: a module loaded by name with two entry points.
// Win32: LoadLibraryA / GetProcAddress / FreeLibrary on WNASPI32.DLL. Linux: the same calls
// over the SCSI generic driver. Tests and --emulate: the emulated scanner in process.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

#include "scsi/srb.h"

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
  // Asks the manager to abandon a request that has not completed (an abort request); after it
  // returns the manager no longer writes into `srb`.
  virtual void abort(ScsiRequestBlock& srb) = 0;
};

class AspiLoader {
 public:
  virtual ~AspiLoader() = default;
  // LoadLibraryA(name): null when the module cannot be loaded.
  virtual std::unique_ptr<AspiModule> load(std::string_view name) = 0;
};

}  // namespace fwload
