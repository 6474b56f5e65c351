#include <io.h>
#include <windows.h>

#include <cstdio>

#include "platform/console.h"

namespace fwload {
namespace {

std::atomic<int> g_interrupts{0};

// Runs on a thread of its own that the system starts for the event; TRUE keeps the process.
BOOL WINAPI count_interrupt(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
      g_interrupts.fetch_add(1, std::memory_order_relaxed);
      return TRUE;
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
