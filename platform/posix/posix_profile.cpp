#include <cstdlib>
#include <string>

#include "platform/ini_profile.h"

namespace fwload {

std::unique_ptr<Profile> make_platform_profile() {
  // $XDG_CONFIG_HOME counts only when it is an absolute path (a relative one is ignored, as
  // the XDG base directory rules ask).
  const char* config = std::getenv("XDG_CONFIG_HOME");
  std::string dir;
  if (config != nullptr && config[0] == '/') {
    dir = config;
  } else if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/') {
    dir = std::string(home) + "/.config";
  } else {
    return std::make_unique<NullProfile>();
  }
  // The tool's commands set several keys each; the file is rewritten once, when the command
  // ends.
  return std::make_unique<IniFileProfile>(dir + "/fwload/" + std::string(kProfileFileName),
                                          /*deferred=*/true);
}

}  // namespace fwload
