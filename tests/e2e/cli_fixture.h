// The fixture of the fwload-cli end-to-end tests: a folder and settings of their own, the
// synthetic firmware generator, and the checksums computed from their definition.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "tests/e2e/process.h"

namespace fwload::e2e {

namespace fs = std::filesystem;

inline const std::string kCli = FWLOAD_CLI_PATH;
inline const std::string kFwgen = FWGEN_PATH;
inline const std::string kFwscanner = FWSCANNER_PATH;

// Whether the programs under test were built with a sanitizer (as this test is).
#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
inline constexpr bool kSanitized = true;
#else
inline constexpr bool kSanitized = false;
#endif
#else
inline constexpr bool kSanitized = false;
#endif

class Cli : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("fwload-cli-" + std::to_string(::getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_ / "config");
    fs::create_directories(dir_ / "tmp");
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string path(const std::string& name) const { return (dir_ / name).string(); }
  std::map<std::string, std::string> env() const {
    return {{"XDG_CONFIG_HOME", path("config")},
            {"XDG_STATE_HOME", path("state")},
            {"TMPDIR", path("tmp")}};
  }
  RunResult cli(std::vector<std::string> args) {
    args.insert(args.begin(), kCli);
    return run(args, env());
  }
  // Generates firmware; returns the image a loader must end with (before the checksum step).
  std::vector<std::uint8_t> generate(const std::string& name, std::vector<std::string> args) {
    const std::string image = path(name + ".img");
    args.insert(args.begin(), {kFwgen, "-o", path(name), "--image", image});
    const RunResult r = run(args);
    EXPECT_EQ(r.exit_code, 0) << r.err;
    const std::string bytes = read_file(image);
    return std::vector<std::uint8_t>(bytes.begin(), bytes.end());
  }
  std::string ini() const { return read_file(path("config/fwload/FWLOAD.INI")); }

  fs::path dir_;
};

// Checksum of image[first .. last] with the checksum byte at `last` counted as blank: computed
// here from the definition, independently of the program.
inline std::uint8_t block_sum(const std::vector<std::uint8_t>& image, std::uint32_t first,
                              std::uint32_t last) {
  std::uint32_t sum = 0xFF;
  for (std::uint32_t a = first; a < last; ++a) sum += image[a];
  return static_cast<std::uint8_t>(sum);
}

// The image with the model's checksums filled in.
inline std::vector<std::uint8_t> with_checksums(std::vector<std::uint8_t> image, int model,
                                                bool reaches_block3) {
  if (model == 1) {
    image[0x3FFF] = block_sum(image, 0, 0x3FFF);
    image[0x1BFFF] = block_sum(image, 0x4000, 0x1BFFF);
    if (reaches_block3) image[0x1FFFF] = block_sum(image, 0x1C000, 0x1FFFF);
  } else if (model == 5 || model == 7) {
    image[0x6FFFF] = block_sum(image, 0, 0x6FFFF);
  } else {
    image[0x1FFFF] = block_sum(image, 0, 0x1FFFF);
  }
  return image;
}

// fwscanner on a pseudo-terminal of its own, for the serial tests.
class SerialCli : public Cli {
 protected:
  std::unique_ptr<Background> scanner;
  void start(std::vector<std::string> extra = {}) {
    scanner.reset();
    std::filesystem::remove(path("line"));
    std::vector<std::string> argv = {kFwscanner,         "--serial",          path("line"),
                                     "--image-out",      path("scanner.img"), "--log",
                                     path("scanner.log")};
    argv.insert(argv.end(), extra.begin(), extra.end());
    scanner = std::make_unique<Background>(argv);
    ASSERT_TRUE(scanner->wait_for_file(path("line")));
  }
};

}  // namespace fwload::e2e
