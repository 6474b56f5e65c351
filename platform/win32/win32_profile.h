// The settings file through the Windows private profile calls.
#pragma once

#include <string>

#include "platform/profile.h"

namespace fwload {

class Win32Profile : public Profile {
 public:
  // `file` is given to the profile calls as it is; a bare name means the Windows folder.
  explicit Win32Profile(std::string file = std::string(kProfileFileName))
      : file_(std::move(file)) {}
  std::string read(std::string_view section, std::string_view key, std::string_view default_value,
                   std::size_t size) override;
  bool write(std::string_view section, std::string_view key, std::string_view value) override;

 private:
  std::string file_;
};

}  // namespace fwload
