#include "cli/args.h"
#include "cli/json.h"
#include "cli/run_cli.h"
#include "cli/support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <vector>

#include "emulator/emulated_aspi.h"
#include "platform/sha256.h"
#include "tests/unit/test_support.h"
#include "tools/fwgen/generator.h"

namespace fwload {
namespace {

CliParse parse(std::vector<std::string_view> args) {
  return parse_cli_args(args);
}

TEST(CliArgs, CommandsAndTheirOperands) {
  CliParse p = parse({"identify", "fw.mot"});
  ASSERT_TRUE(p.error.empty());
  EXPECT_EQ(p.args.command, CliArgs::Command::Identify);
  EXPECT_EQ(p.args.file, "fw.mot");

  p = parse({"convert", "fw.mot", "-o", "out.sum"});
  ASSERT_TRUE(p.error.empty());
  EXPECT_EQ(p.args.command, CliArgs::Command::Convert);
  EXPECT_EQ(p.args.output, "out.sum");
  p = parse({"convert", "--output=o.sum", "fw.mot"});
  EXPECT_EQ(p.args.output, "o.sum");
  EXPECT_EQ(p.args.file, "fw.mot");
  // After "--" a name that starts with "-" is a file.
  p = parse({"identify", "--", "-odd.mot"});
  ASSERT_TRUE(p.error.empty());
  EXPECT_EQ(p.args.file, "-odd.mot");
}

TEST(CliArgs, HelpAndVersionWinOverEverythingElse) {
  EXPECT_EQ(parse({"--help"}).args.command, CliArgs::Command::Help);
  EXPECT_EQ(parse({"identify", "-h"}).args.command, CliArgs::Command::Help);
  EXPECT_EQ(parse({"--version"}).args.command, CliArgs::Command::Version);
  EXPECT_TRUE(parse({"--bogus", "--help"}).error.empty() == false);
}

TEST(CliArgs, EmulateHelpNeedsNoCommand) {
  const CliParse p = parse({"--emulate", "help"});
  ASSERT_TRUE(p.error.empty()) << p.error;
  EXPECT_EQ(p.args.command, CliArgs::Command::Info);
  EXPECT_EQ(p.args.emulate, std::vector<std::string>{"help"});
  EXPECT_FALSE(parse({"--emulate", "hvs3600"}).error.empty());
  // Several scanners, and the one address to ask.
  const CliParse two = parse({"transfer", "a.mot", "--emulate", "hvs3600", "--emulate",
                              "hvs2600:adapter=1", "--target", "1:3"});
  ASSERT_TRUE(two.error.empty()) << two.error;
  EXPECT_EQ(two.args.emulate.size(), 2u);
  EXPECT_EQ(two.args.target(), std::make_pair(std::uint8_t{1}, std::uint8_t{3}));
  // The Windows manager to use, for the commands that go over SCSI.
  EXPECT_EQ(parse({"scan", "--spti", "--spti"}).args.route, AspiRoute::PassThrough);
  EXPECT_EQ(parse({"transfer", "a.mot", "--aspi"}).args.route, AspiRoute::AspiManager);
  EXPECT_EQ(parse({"info"}).args.route, AspiRoute::FirstThatWorks);
  // A transfer's jobs: each address and port once, SCSI and serial mixed.
  const CliParse gang =
      parse({"transfer", "a.mot", "--target", "0:3", "--serial", "COM1", "--target", "1:5",
             "--target", "0:3", "--serial", "COM1", "--emulate", "hvs3600", "--all", "--post"});
  ASSERT_TRUE(gang.error.empty()) << gang.error;
  EXPECT_EQ(gang.args.targets.size(), 2u);
  EXPECT_EQ(gang.args.serials, std::vector<std::string>{"COM1"});
  EXPECT_TRUE(gang.args.all);
}

TEST(CliArgs, UsageErrors) {
  for (const auto& args : std::vector<std::vector<std::string_view>>{
           {},
           {"identify"},
           {"identify", "a.mot", "b.mot"},
           {"convert", "a.mot", "-o"},
           {"convert", "a.mot", "--output="},
           {"identify", "a.mot", "-o", "x.sum"},
           {"frobnicate", "a.mot"},
           {"identify", "a.mot", "--bogus"},
           {"transfer", "a.mot", "--target", "1"},
           {"transfer", "a.mot", "--target", "1:256"},
           {"identify", "a.mot", "--target", "0:3"},
           {"scan", "a.mot"},
           {"info", "--aspi", "--spti"},
           {"identify", "a.mot", "--spti"},
           {"info", "--aspi", "--emulate", "hvs3600"},
           {"transfer", "a.mot", "--spti", "--serial", "COM1"},
           {"info", "--target", "0:3", "--target", "1:3"},
           {"info", "--serial", "a", "--emulate", "hvs3600"},
           {"identify", "a.mot", "--all"},
           {"info", "--log", "h.jsonl"},
           {"history", "--emulate", "hvs3600"},
           {"history", "--last", "0"},
           {"transfer", "a.mot", "--serial", "a", "--post"},
           // found by fuzz_command_line
           {"identify", ""},
           {"transfer", "", "--emulate", "hvs3600"}}) {
    EXPECT_FALSE(parse(args).error.empty()) << (args.empty() ? "" : args[0]);
  }
}

TEST(CliJson, StringsAreValidJsonForAnyBytes) {
  auto dumped = [](std::string_view text) { return Json(json_text(text)).dump(); };
  EXPECT_EQ(dumped("a\"b\\c\nd\x01"), "\"a\\\"b\\\\c\\nd\\u0001\"");
  // A UTF-8 path stays as it is; bytes that are not UTF-8 are Latin-1.
  EXPECT_EQ(dumped("/home/j\xC3\xBCrgen/\xE2\x82\xAC.mot"),
            "\"/home/j\xC3\xBCrgen/\xE2\x82\xAC.mot\"");
  EXPECT_EQ(json_text("\xFC\x7F"), "\xC3\xBC\x7F");
  // Cut, overlong and surrogate sequences are not UTF-8.
  EXPECT_EQ(json_text("\xC3"), "\xC3\x83");
  EXPECT_EQ(json_text("\xC0\xAF"), "\xC3\x80\xC2\xAF");
  EXPECT_EQ(json_text("\xED\xA0\x80"), "\xC3\xAD\xC2\xA0\xC2\x80");
  // Whatever the bytes, the library takes the text (it refuses invalid UTF-8).
  for (int b = 0; b < 256; ++b) {
    const std::string text = {static_cast<char>(b), 'x', static_cast<char>(255 - b)};
    EXPECT_NO_THROW(dumped(text)) << b;
  }
}

// A file that changes on disk while it is used: the digest identify prints and a transfer
// records is the one of the bytes that were read and loaded, not of a second read.
class ChangingFileSystem : public test::MemoryFileSystem {
 public:
  std::unique_ptr<InputFile> open_read(const std::string& path) override {
    auto file = MemoryFileSystem::open_read(path);
    if (file) files[path].back() ^= 0x01;  // the next reader sees other bytes
    return file;
  }
};

TEST(CliDigest, IsOfTheBytesLoaded) {
  fwgen::FirmwareSpec spec;
  spec.model = 5;
  fwgen::Firmware firmware = fwgen::build_firmware(spec);
  const std::string text = fwgen::emit_srecords(firmware, {});
  ChangingFileSystem fs;
  fs.put("/fw/f.mot", text);
  test::MemoryProfile profile;
  std::string error;
  auto scanner =
      std::make_shared<emulator::Scanner>(*emulator::parse_emulator_config("hvs3600", &error));
  emulator::EmulatedAspiLoader aspi(scanner);
  auto serial = make_platform_serial_devices();
  std::FILE* out = std::tmpfile();
  std::FILE* err = std::tmpfile();
  ASSERT_TRUE(out != nullptr && err != nullptr);
  CliEnv env{out, err, false, profile, fs, aspi, *serial};
  const std::vector<std::string_view> args = {"identify", "/fw/f.mot", "--json"};
  ASSERT_EQ(run_cli(args, env), 0);
  std::rewind(out);
  std::string printed;
  for (int c; (c = std::fgetc(out)) != EOF;) printed += static_cast<char>(c);
  std::fclose(out);
  std::fclose(err);
  const auto bytes = std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
  EXPECT_EQ(Json::parse(printed)["sha256"], sha256_hex(bytes)) << printed;
}

}  // namespace
}  // namespace fwload
