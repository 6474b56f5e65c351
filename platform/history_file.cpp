#include "platform/history_file.h"

#include <filesystem>
#include <system_error>

namespace fwload {

bool make_folder_of(const std::string& path, std::string* error) {
  const std::filesystem::path folder = std::filesystem::path(path).parent_path();
  if (folder.empty()) return true;
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  if (!ec) return true;
  if (error != nullptr) *error = folder.string() + ": " + ec.message();
  return false;
}

}  // namespace fwload
