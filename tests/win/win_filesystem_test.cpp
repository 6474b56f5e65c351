// The Windows file system seam, run under Wine.
#include <gtest/gtest.h>
#include <windows.h>

#include "platform/filesystem.h"

namespace fwload {
namespace {

TEST(Win32FileSystem, TemporaryNameHasThePrefixInTheTemporaryFolder) {
  auto fs = make_platform_filesystem();
  const std::string name = fs->temp_file_name("fwl", 1);
  char dir[MAX_PATH + 1] = {};
  ASSERT_GT(GetTempPathA(sizeof dir, dir), 0u);
  ASSERT_EQ(name.rfind(dir, 0), 0u) << name;
  const std::string base = name.substr(std::string(dir).size());
  EXPECT_EQ(base.substr(0, 4), "fwl1");
  EXPECT_EQ(fs->path_separator(), '\\');
  EXPECT_FALSE(fs->system_directory().empty());
}

TEST(Win32FileSystem, WrittenFileReadsBackAndRemovesOnlyRegularFiles) {
  auto fs = make_platform_filesystem();
  const std::string path = fs->temp_file_name("fwt", 7);
  {
    auto out = fs->create(path);
    ASSERT_TRUE(out);
    const std::uint8_t data[] = {1, 2, 3, 0x1A, 0x0A, 0x0D};
    ASSERT_TRUE(out->write(data));
    ASSERT_TRUE(out->close());
  }
  auto in = fs->open_read(path);
  ASSERT_TRUE(in);
  EXPECT_EQ(in->size(), 6u);
  std::uint8_t back[16] = {};
  EXPECT_EQ(in->read(back), 6u);  // binary: no text-mode translation
  EXPECT_EQ(back[4], 0x0A);
  in.reset();
  fs->remove_partial(path);
  EXPECT_EQ(GetFileAttributesA(path.c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_FALSE(fs->open_read("C:\\no\\such\\file.mot"));
  EXPECT_FALSE(fs->create("C:\\no\\such\\dir\\file.sum"));
}

}  // namespace
}  // namespace fwload
