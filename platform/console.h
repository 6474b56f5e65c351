// The console the command-line tool runs in.
#pragma once

namespace fwload {

// Whether standard error is a terminal (a progress bar is drawn only there).
bool stderr_is_terminal();

}  // namespace fwload
