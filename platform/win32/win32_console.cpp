#include <io.h>

#include <cstdio>

#include "platform/console.h"

namespace fwload {

bool stderr_is_terminal() {
  return _isatty(_fileno(stderr)) != 0;
}

}  // namespace fwload
