// An operation that serves the window while it runs (a SCSI request, a discovery) must not be
// started again, nor its dialog closed, by a message the pump dispatches meanwhile. This holds a
// dialog's buttons disabled for the operation's time and gives them back the states they had.
#pragma once

#include <initializer_list>
#include <utility>
#include <vector>

#include "app/main_window.h"

namespace fwload {

class HeldControls {
 public:
  HeldControls(DialogControls& dialog, std::initializer_list<int> ids) : dialog_(dialog) {
    for (int id : ids) {
      saved_.emplace_back(id, dialog_.is_enabled(id));
      dialog_.enable(id, false);
    }
  }
  ~HeldControls() {
    for (const auto& [id, enabled] : saved_) dialog_.enable(id, enabled);
  }
  HeldControls(const HeldControls&) = delete;
  HeldControls& operator=(const HeldControls&) = delete;

 private:
  DialogControls& dialog_;
  std::vector<std::pair<int, bool>> saved_;
};

}  // namespace fwload
