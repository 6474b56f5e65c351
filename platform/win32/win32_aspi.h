// The Windows SCSI managers: an ASPI manager loaded by name (WNASPI32.DLL), exactly as the
// program has always bound to it, and only when none can be loaded the built-in layer over
// the SCSI pass-through.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "platform/aspi_loader.h"
#include "platform/win32/spti_aspi.h"

namespace fwload {

class Win32AspiLoader : public AspiLoader {
 public:
  // `notice` receives, once each, why no manager could be loaded (both routes, each with its
  // reason) and the devices Windows drivers have claimed; `spti` is the pass-through's system.
  Win32AspiLoader(AspiNotice notice, std::shared_ptr<SptiSystem> spti);
  std::unique_ptr<AspiModule> load(std::string_view name) override;
  bool choose_route(AspiRoute route) override {
    route_ = route;
    return true;
  }

 private:
  AspiNotice notice_;  // tells each line once, for every manager this loader loads
  std::shared_ptr<SptiSystem> spti_;
  AspiRoute route_ = AspiRoute::FirstThatWorks;
};

}  // namespace fwload
