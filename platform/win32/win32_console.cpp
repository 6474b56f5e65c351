#include <io.h>
#include <windows.h>

#include <cstdio>

#include "platform/console.h"

namespace fwload {
namespace {

std::atomic<int> g_interrupts{0};
std::atomic<DWORD> g_last_press_ms{0};
std::atomic<bool> g_pressed{false};

// Runs on a thread of its own that the system starts for the event. For Ctrl-C and Ctrl-Break,
// TRUE keeps the process running and the count tells the program. For the console window's
// close, Windows ends the process as soon as this returns (or after a few seconds) whatever it
// returns: the count cannot keep it alive, so a transfer is cut off there as by a power cut.
BOOL WINAPI count_interrupt(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT: {
      // Events close behind a counted one are the same key press.
      // (GetTickCount wraps after 49 days; the unsigned difference does not mind.)
      const DWORD now = GetTickCount();
      if (g_pressed.load() && now - g_last_press_ms.load() < static_cast<DWORD>(kSamePressMs)) {
        return TRUE;
      }
      g_last_press_ms.store(now);
      g_pressed.store(true);
      g_interrupts.fetch_add(1, std::memory_order_relaxed);
      return TRUE;
    }
    default:
      return FALSE;
  }
}

}  // namespace

bool stderr_is_terminal() {
  return _isatty(_fileno(stderr)) != 0;
}

const std::atomic<int>& catch_interrupts() {
  SetConsoleCtrlHandler(count_interrupt, TRUE);
  return g_interrupts;
}

}  // namespace fwload
