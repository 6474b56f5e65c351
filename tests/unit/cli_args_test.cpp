#include "cli/args.h"
#include "cli/json.h"

#include <gtest/gtest.h>

#include <vector>

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
  EXPECT_EQ(p.args.emulate, "help");
  EXPECT_FALSE(parse({"--emulate", "hvs3600"}).error.empty());
}

TEST(CliArgs, UsageErrors) {
  for (const auto& args :
       std::vector<std::vector<std::string_view>>{{},
                                                  {"identify"},
                                                  {"identify", "a.mot", "b.mot"},
                                                  {"convert", "a.mot", "-o"},
                                                  {"convert", "a.mot", "--output="},
                                                  {"identify", "a.mot", "-o", "x.sum"},
                                                  {"frobnicate", "a.mot"},
                                                  {"identify", "a.mot", "--bogus"},
                                                  // found by fuzz_command_line
                                                  {"identify", ""},
                                                  {"transfer", "", "--emulate", "hvs3600"}}) {
    EXPECT_FALSE(parse(args).error.empty()) << (args.empty() ? "" : args[0]);
  }
}

TEST(CliJson, StringsAreValidJsonForAnyBytes) {
  EXPECT_EQ(json_string("a\"b\\c\nd\x01"), "\"a\\\"b\\\\c\\nd\\u0001\"");
  // A UTF-8 path stays as it is; bytes that are not UTF-8 are Latin-1.
  EXPECT_EQ(json_string("/home/j\xC3\xBCrgen/\xE2\x82\xAC.mot"),
            "\"/home/j\xC3\xBCrgen/\xE2\x82\xAC.mot\"");
  EXPECT_EQ(json_string("\xFC\x7F"), "\"\\u00fc\\u007f\"");
  // Cut, overlong and surrogate sequences are not UTF-8.
  EXPECT_EQ(json_string("\xC3"), "\"\\u00c3\"");
  EXPECT_EQ(json_string("\xC0\xAF"), "\"\\u00c0\\u00af\"");
  EXPECT_EQ(json_string("\xED\xA0\x80"), "\"\\u00ed\\u00a0\\u0080\"");
}

}  // namespace
}  // namespace fwload
