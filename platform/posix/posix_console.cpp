#include <signal.h>
#include <time.h>
#include <unistd.h>

#include "platform/console.h"

namespace fwload {
namespace {

// A signal handler can reach only what is global; lock-free atomics are safe to touch there.
std::atomic<int> g_interrupts{0};
std::atomic<long long> g_last_press_ms{-kSamePressMs};
static_assert(std::atomic<int>::is_always_lock_free);
static_assert(std::atomic<long long>::is_always_lock_free);

extern "C" void count_interrupt(int) {
  // One key press can arrive as two signals (a wrapper such as timeout passes SIGINT on to its
  // child and to the process group): signals close behind a counted one are the same press.
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);  // async-signal-safe
  const long long ms = static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
  if (ms - g_last_press_ms.load(std::memory_order_relaxed) < kSamePressMs) return;
  g_last_press_ms.store(ms, std::memory_order_relaxed);
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
