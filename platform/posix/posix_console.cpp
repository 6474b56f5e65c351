#include <signal.h>
#include <unistd.h>

#include "platform/console.h"

namespace fwload {
namespace {

// A signal handler can reach only what is global; a lock-free counter is safe to touch there.
std::atomic<int> g_interrupts{0};
static_assert(std::atomic<int>::is_always_lock_free);

extern "C" void count_interrupt(int) {
  g_interrupts.fetch_add(1, std::memory_order_relaxed);
}

}  // namespace

const std::atomic<int>& catch_interrupts() {
  struct sigaction action {};
  action.sa_handler = count_interrupt;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  return g_interrupts;
}

bool stderr_is_terminal() {
  return isatty(STDERR_FILENO) == 1;
}

}  // namespace fwload
