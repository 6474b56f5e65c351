// One SCSI manager for the jobs of several scanners at once, as one WNASPI32.DLL is one
// manager per process: the first load loads it, every load hands out a handle to it, and
// releasing a handle (the SCSI code does so between searches) leaves it loaded.
#pragma once

#include <memory>
#include <mutex>

#include "platform/aspi.h"

namespace fwload {

class SharedAspiLoader : public AspiLoader {
 public:
  explicit SharedAspiLoader(AspiLoader& loader) : loader_(loader) {}
  // A handle to the one manager, loading it through the loader given when it is not loaded
  // yet; null while it cannot be loaded.
  std::unique_ptr<AspiModule> load(std::string_view name) override;
  bool choose_route(AspiRoute route) override { return loader_.choose_route(route); }

 private:
  std::mutex mutex_;
  AspiLoader& loader_;
  std::shared_ptr<AspiModule> manager_;
};

}  // namespace fwload
