// The console the command-line tool runs in.
#pragma once

#include <atomic>

namespace fwload {

// Whether standard error is a terminal (a progress bar is drawn only there).
bool stderr_is_terminal();

// From now on Ctrl-C (SIGINT and SIGTERM; on Windows the console's control events) no longer
// ends the program but counts here; the program decides what each one means.
const std::atomic<int>& catch_interrupts();

}  // namespace fwload
