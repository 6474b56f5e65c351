// The settings file through the Windows private profile calls, run under Wine.
#include <windows.h>

#include <fstream>

#include "platform/win32/win32_profile.h"
#include "tests/common/profile_conformance.h"

namespace fwload::test {

namespace {
std::string temp_folder() {
  char dir[MAX_PATH + 1] = {};
  GetTempPathA(sizeof dir, dir);
  return dir;
}
int conformance_count = 0;
}  // namespace

std::unique_ptr<Profile> make_conformance_profile(std::string_view initial) {
  const std::string path = temp_folder() + "fwload-conf-" + std::to_string(GetCurrentProcessId()) +
                           "-" + std::to_string(conformance_count++) + ".ini";
  DeleteFileA(path.c_str());
  if (!initial.empty()) std::ofstream(path, std::ios::binary) << initial;
  return std::make_unique<Win32Profile>(path);
}

namespace {

TEST(Win32Profile, BareNameLivesInTheWindowsFolder) {
  Win32Profile p;
  ASSERT_TRUE(p.write("Inifile", "Name", "FWLOAD.INI"));
  char windows[MAX_PATH + 1] = {};
  ASSERT_GT(GetWindowsDirectoryA(windows, sizeof windows), 0u);
  const std::string file = std::string(windows) + "\\FWLOAD.INI";
  EXPECT_NE(GetFileAttributesA(file.c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(p.read("Inifile", "Name", "None", 256), "FWLOAD.INI");
}

}  // namespace
}  // namespace fwload::test
