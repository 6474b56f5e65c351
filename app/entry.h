// The program's entry: the one-second timer around the main dialog.
#pragma once

#include <string_view>

#include "app/app_state.h"

namespace fwload {

class EntryPort {
 public:
  virtual ~EntryPort() = default;
  // Creates the 1000 ms timer with `id`; returns the timer's id, 0 when it failed.
  virtual unsigned create_timer(unsigned id) = 0;
  virtual void kill_timer(unsigned id) = 0;
  // A warning box without an owner (the main dialog does not exist yet).
  virtual void message_box(std::string_view caption, std::string_view text) = 0;
  virtual void run_main_dialog() = 0;
};

// Keeps the command line, runs the main dialog under the timer; returns the exit code (1 in
// both cases, as the program always has).
int program_main(AppState& app, EntryPort& port, std::string_view command_line);

}  // namespace fwload
