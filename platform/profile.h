// Private profile strings with the semantics of the settings file "FWLOAD.INI".
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace fwload {

inline constexpr std::string_view kProfileFileName = "FWLOAD.INI";

class Profile {
 public:
  virtual ~Profile() = default;

  // Value of `key` in `section`, or `default_value` when absent, as a buffer of `size` bytes
  // would hold it: at most size - 1 characters. Section and key names match in any case.
  virtual std::string read(std::string_view section, std::string_view key,
                           std::string_view default_value, std::size_t size) = 0;
  // Sets `key` in `section` to `value`, creating both as needed. Returns false when the
  // settings file could not be written.
  virtual bool write(std::string_view section, std::string_view key, std::string_view value) = 0;
};

}  // namespace fwload
