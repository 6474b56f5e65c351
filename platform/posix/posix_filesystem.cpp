#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/filesystem.h"

namespace fwload {
namespace {

class PosixFileSystem : public StdFileSystem {
 public:
  std::string temp_file_name(std::string_view prefix, unsigned unique) override {
    const char* dir = std::getenv("TMPDIR");
    std::string path = (dir != nullptr && dir[0] != '\0') ? dir : "/tmp";
    if (path.back() != '/') path += '/';
    // The same form as the Windows temporary names: prefix, the unique number in hex, ".tmp".
    char number[16];
    std::snprintf(number, sizeof number, "%x", unique & 0xFFFFu);
    return path + std::string(prefix) + number + ".tmp";
  }
  std::string system_directory() override { return "/"; }
  char path_separator() const override { return '/'; }
};

}  // namespace

std::unique_ptr<FileSystem> make_platform_filesystem() {
  return std::make_unique<PosixFileSystem>();
}

}  // namespace fwload
