// State of the dialog program's main window and its status display.
#pragma once

#include <cstdint>
#include <string>

#include "core/timer_state.h"

namespace fwload {

struct AppState {
  // The program's command line, kept when it is not empty (at most kCommandLineMax characters);
  // the open flow reads the switches and the file name from it and clears it.
  std::string CommandLineFile;
  int PreviousOpenResult = 0;
  int OptionMode = 0;     // 1: "Write File..." and "Command..." take part in enabling
  int SerialMode = 0;     // 0 SCSI, 1 serial
  int ImprinterSide = 0;  // 0 Pre, 1 Post
  // Unattended open: 1 after initialisation, 2 after the first paint, 3 once it is posted.
  std::uint8_t AutoStartState = 0;
  unsigned TimerId = 0;

  // The one-second timer's countdowns.
  TimerState timer;
};

}  // namespace fwload
