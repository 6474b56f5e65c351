#include <thread>

#include "platform/request_thread.h"

namespace fwload {

// Console control events arrive on a thread the system starts for them: nothing to block.
void start_request_thread(std::function<void()> work) {
  std::thread(std::move(work)).detach();
}

}  // namespace fwload
