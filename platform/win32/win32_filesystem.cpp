#include <windows.h>

#include <string>

#include "platform/filesystem.h"

namespace fwload {
namespace {

class Win32FileSystem : public StdFileSystem {
 public:
  std::string temp_file_name(std::string_view prefix, unsigned unique) override {
    char dir[MAX_PATH + 1] = {};
    const DWORD length = GetTempPathA(sizeof dir, dir);
    if (length == 0 || length >= sizeof dir) return {};
    char name[MAX_PATH + 1] = {};
    const std::string pre(prefix);
    // A non-zero unique number only forms the name; the caller creates the file.
    if (GetTempFileNameA(dir, pre.c_str(), unique, name) == 0) return {};
    return name;
  }
  std::string system_directory() override {
    char dir[MAX_PATH + 1] = {};
    const UINT length = GetSystemDirectoryA(dir, sizeof dir);
    if (length == 0 || length >= sizeof dir) return {};
    return dir;
  }
  char path_separator() const override { return '\\'; }
};

}  // namespace

std::unique_ptr<FileSystem> make_platform_filesystem() {
  return std::make_unique<Win32FileSystem>();
}

}  // namespace fwload
