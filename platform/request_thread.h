// Starts the thread a request to a device runs on.
#pragma once

#include <functional>

namespace fwload {

// Runs `work` on a detached thread of its own. On POSIX systems the thread blocks SIGINT and
// SIGTERM, so that an interrupt only ever reaches the main thread: a signal handled inside a
// thread waiting in the SG_IO call would make the kernel restart it and send the command
// again. Throws std::system_error when no thread can be started.
void start_request_thread(std::function<void()> work);

}  // namespace fwload
