#include <unistd.h>

#include "platform/console.h"

namespace fwload {

bool stderr_is_terminal() {
  return isatty(STDERR_FILENO) == 1;
}

}  // namespace fwload
