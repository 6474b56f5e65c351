#include "platform/win32/win32_profile.h"

#include <windows.h>

#include <vector>

#include "platform/ini_profile.h"

namespace fwload {

std::string Win32Profile::read(std::string_view section, std::string_view key,
                               std::string_view default_value, std::size_t size) {
  if (size == 0) return {};
  const std::string s(section), k(key), d(default_value);
  std::vector<char> buffer(size, '\0');
  const DWORD length = GetPrivateProfileStringA(s.c_str(), k.c_str(), d.c_str(), buffer.data(),
                                                static_cast<DWORD>(size), file_.c_str());
  return std::string(buffer.data(), length < size ? length : size - 1);
}

bool Win32Profile::write(std::string_view section, std::string_view key, std::string_view value) {
  for (std::string_view part : {section, key, value}) {
    if (part.find_first_of("\r\n") != std::string_view::npos) return false;
  }
  const std::string s(section), k(key), v(value);
  return WritePrivateProfileStringA(s.c_str(), k.c_str(), v.c_str(), file_.c_str()) != 0;
}

std::unique_ptr<Profile> make_platform_profile() {
  return std::make_unique<Win32Profile>();
}

}  // namespace fwload
