#include <signal.h>

#include <thread>

#include "platform/request_thread.h"

namespace fwload {

void start_request_thread(std::function<void()> work) {
  // A new thread inherits the mask of the thread that creates it.
  sigset_t interrupts;
  sigset_t before;
  sigemptyset(&interrupts);
  sigaddset(&interrupts, SIGINT);
  sigaddset(&interrupts, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &interrupts, &before);
  try {
    std::thread(std::move(work)).detach();
  } catch (...) {
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
    throw;
  }
  pthread_sigmask(SIG_SETMASK, &before, nullptr);
}

}  // namespace fwload
