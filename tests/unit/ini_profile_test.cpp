#include "platform/ini_profile.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "tests/common/profile_conformance.h"
#include "tests/unit/test_support.h"

namespace fwload::test {

namespace {
TempDir& conformance_dir() {
  static TempDir dir;
  return dir;
}
int conformance_count = 0;

std::string file_text(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}
}  // namespace

std::unique_ptr<Profile> make_conformance_profile(std::string_view initial) {
  const std::string path =
      conformance_dir().file("c" + std::to_string(conformance_count++) + "/FWLOAD.INI");
  if (!initial.empty()) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << initial;
  }
  return std::make_unique<IniFileProfile>(path);
}

namespace {

TEST(IniFileProfile, CreatesItsFolderAndKeepsOtherLinesWhenWriting) {
  TempDir dir;
  const std::string path = dir.file("cfg/fwload/FWLOAD.INI");
  IniFileProfile p(path);
  ASSERT_TRUE(p.write("Open File", "Directory", "/home/t/fw"));
  ASSERT_TRUE(p.write("Inifile", "Name", "FWLOAD.INI"));
  ASSERT_TRUE(p.write("Open File", "File Name", "a.mot"));
  EXPECT_EQ(file_text(path),
            "[Open File]\nDirectory=/home/t/fw\nFile Name=a.mot\n\n[Inifile]\nName=FWLOAD.INI\n");
  std::ofstream(path, std::ios::app) << "; a comment\n[Option]\nSW=OFF\n";
  ASSERT_TRUE(p.write("Option", "SW", "ON"));
  EXPECT_NE(file_text(path).find("; a comment\n[Option]\nSW=ON\n"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(path + ".new"));
}

TEST(IniFileProfile, LineBreaksCannotForgeEntries) {
  TempDir dir;
  IniFileProfile p(dir.file("FWLOAD.INI"));
  EXPECT_FALSE(p.write("Open File", "File Name", "a.mot\n[Option]\nTemp=ON"));
  EXPECT_EQ(p.read("Option", "Temp", "OFF", 32), "OFF");
  EXPECT_FALSE(std::filesystem::exists(dir.file("FWLOAD.INI")));
}

TEST(IniFileProfile, UnwritableFolderIsReportedAndReadsGiveDefaults) {
  IniFileProfile p("/proc/fwload-no-such-dir/FWLOAD.INI");
  EXPECT_FALSE(p.write("Option", "SW", "ON"));
  EXPECT_EQ(p.read("Option", "SW", "OFF", 32), "OFF");
}

TEST(IniFileProfile, DeferredWritesReachTheFileOnFlush) {
  TempDir dir;
  const std::string path = dir.file("FWLOAD.INI");
  {
    IniFileProfile p(path, /*deferred=*/true);
    ASSERT_TRUE(p.write("Open File", "Directory", "/a"));
    ASSERT_TRUE(p.write("Open File", "File Name", "b.mot"));
    EXPECT_EQ(p.read("Open File", "File Name", "None", 256), "b.mot");
    EXPECT_FALSE(std::filesystem::exists(path));
    ASSERT_TRUE(p.flush());
    EXPECT_EQ(file_text(path), "[Open File]\nDirectory=/a\nFile Name=b.mot\n");
    ASSERT_TRUE(p.write("Inifile", "Name", "FWLOAD.INI"));
  }
  // What is left is written when the profile ends.
  EXPECT_NE(file_text(path).find("[Inifile]\nName=FWLOAD.INI\n"), std::string::npos);
}

TEST(IniFileProfile, SettingTheSameValuesLeavesTheFileAlone) {
  TempDir dir;
  const std::string path = dir.file("FWLOAD.INI");
  {
    IniFileProfile p(path, /*deferred=*/true);
    p.write("Open File", "Directory", "/a");
  }
  const auto written = std::filesystem::last_write_time(path);
  {
    IniFileProfile p(path, /*deferred=*/true);
    p.write("Open File", "Directory", "/a");
  }
  EXPECT_EQ(std::filesystem::last_write_time(path), written);
  {
    IniFileProfile p(path);
    ASSERT_TRUE(p.write("Open File", "Directory", "/b"));
  }
  EXPECT_NE(std::filesystem::last_write_time(path), written);
}

TEST(NullProfile, GivesDefaultsAndDropsWrites) {
  NullProfile p;
  EXPECT_FALSE(p.write("Option", "SW", "ON"));
  EXPECT_EQ(p.read("Option", "SW", "OFF", 3), "OF");
}

}  // namespace
}  // namespace fwload::test
