// The console the command-line tool runs in.
#pragma once

#include <atomic>

namespace fwload {

// Whether standard error is a terminal (a progress bar is drawn only there).
bool stderr_is_terminal();

// Interrupts that arrive within this many milliseconds of a counted one are the same key press.
inline constexpr long long kSamePressMs = 200;

// From now on Ctrl-C (SIGINT and SIGTERM; on Windows the console's control events) no longer
// ends the program but counts here, once per key press; the program decides what each one
// means.
const std::atomic<int>& catch_interrupts();

}  // namespace fwload
