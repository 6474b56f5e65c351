// fwload-cli end to end: the real program on files made by fwgen, with srec_cat as a peer that
// reads our output.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "cli/json.h"
#include "tests/e2e/cli_fixture.h"

namespace fwload::e2e {
namespace {

std::string hex(std::uint32_t v, int digits) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%0*X", digits, v);
  return buffer;
}

struct ModelText {
  const char* scanner;
  const char* unit;
};
const ModelText kModelText[9] = {
    {},
    {"TR-MM40E2", "I don't know."},
    {"TR-MM730", "SCAN"},
    {"TR-MM730", "NUMBERING"},
    {"TR-MM730", "MECHA-CONTROL"},
    {"HVS 3600", "MECHA-CONTROL"},
    {"HVS 3600", "IMPRINTER"},
    {"HVS 2600", "MECHA-CONTROL"},
    {"HVS 2600", "IMPRINTER"},
};

struct Variant {
  std::vector<std::string> args;
  bool reaches_block3;  // model 1 data reaches the third checksum block
};

const std::vector<Variant> kVariants = {
    {{}, false},
    {{"--type", "3", "--record-bytes", "16", "--lower"}, false},
    {{"--type", "2", "--record-bytes", "251", "--gaps", "--overlap", "--beyond"}, false},
    {{"--type", "3", "--record-bytes", "7", "--non-hex", "--beyond", "--end", "0x1F000"}, true},
    {{"--type", "1", "--record-bytes", "16", "--end", "0xF000"}, false},
    {{"--keep-blank", "--no-header", "--version", "2.5b"}, false},
};

// The file's SHA-256 as a peer, coreutils' sha256sum, computes it.
std::string peer_sha256(const std::string& file) {
  const RunResult r = run({"sha256sum", file});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  return r.out.substr(0, 64);
}

TEST_F(Cli, IdentifyPrintsTheSevenLinesForEveryModelAndVariant) {
  for (int model = 1; model <= 8; ++model) {
    for (std::size_t v = 0; v < kVariants.size(); ++v) {
      std::vector<std::string> args = kVariants[v].args;
      args.insert(args.end(), {"--model", std::to_string(model), "--seed", std::to_string(v + 1)});
      const std::string name = "m" + std::to_string(model) + "v" + std::to_string(v) + ".mot";
      const auto image = with_checksums(generate(name, args), model, kVariants[v].reaches_block3);
      const std::uint32_t sum_address = (model == 5 || model == 7) ? 0x6FFFF : 0x1FFFF;
      const std::string version = v == 5 ? "2.5b" : "1.00";
      const std::string expected = std::string("Scanner Name : ") + kModelText[model].scanner +
                                   "\nUnit Name : " + kModelText[model].unit +
                                   "\nFile Version : " + version +
                                   "\nModel Code : " + std::to_string(model) +
                                   "\nSUM VALUE = " + hex(image[sum_address], 2) +
                                   " hex\nADDRESS    = " + hex(sum_address, 6) +
                                   " hex\nSHA-256 : " + peer_sha256(path(name)) + "\n";
      const RunResult r = cli({"identify", path(name)});
      EXPECT_EQ(r.exit_code, 0) << name << r.err;
      EXPECT_EQ(r.out, expected) << name;
      EXPECT_EQ(r.err, "") << name;
    }
  }
}

TEST_F(Cli, ConvertWritesASumFileThatAPeerReadsBackAsOurImage) {
  for (int model = 1; model <= 8; ++model) {
    const std::string name = "c" + std::to_string(model) + ".mot";
    const auto loaded = generate(name, {"--model", std::to_string(model), "--gaps"});
    // The peer reads the generated input as the generator says it should.
    ASSERT_EQ(run({"srec_cat", path(name), "-fill", "0xFF", "0", "0x70000", "-o",
                   path(name + ".peer"), "-binary"})
                  .exit_code,
              0);
    EXPECT_EQ(read_file(path(name + ".peer")), std::string(loaded.begin(), loaded.end()));

    const RunResult r = cli({"convert", path(name)});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    const std::string sum = path("c" + std::to_string(model) + ".sum");
    EXPECT_EQ(r.out, "Written: " + sum + "\n");
    const RunResult peer =
        run({"srec_cat", sum, "-fill", "0xFF", "0", "0x70000", "-o", path("back.bin"), "-binary"});
    ASSERT_EQ(peer.exit_code, 0) << peer.err;
    const std::string back = read_file(path("back.bin"));
    const auto expected = with_checksums(loaded, model, false);
    // Model 1 is written from its start address to the end of its last checksum block; the
    // others from 0 over their whole checksum range, and nothing outside it.
    const std::uint32_t first = 0;
    const std::uint32_t end = model == 1 ? 0x1C000 : (model == 5 || model == 7) ? 0x70000 : 0x20000;
    ASSERT_EQ(back.size(), 0x70000u);
    EXPECT_EQ(back.substr(first, end - first),
              std::string(expected.begin() + first, expected.begin() + end))
        << "model " << model;
    EXPECT_EQ(back.substr(end), std::string(0x70000 - end, '\xFF')) << "model " << model;
    EXPECT_EQ(read_file(sum).back(), '\x1A');
  }
}

TEST_F(Cli, ConvertedFileIdentifiesAsItsSource) {
  generate("a.mot", {"--model", "7"});
  const RunResult mot = cli({"identify", path("a.mot")});
  ASSERT_EQ(cli({"convert", path("a.mot"), "-o", path("b.SUM")}).exit_code, 0);
  const RunResult sum = cli({"identify", path("b.SUM")});
  EXPECT_EQ(sum.exit_code, 0);
  // All but the digest, which is the file's own.
  EXPECT_EQ(sum.out.substr(0, sum.out.find("SHA-256")), mot.out.substr(0, mot.out.find("SHA-256")));
  EXPECT_EQ(sum.out.substr(sum.out.find("SHA-256")),
            "SHA-256 : " + peer_sha256(path("b.SUM")) + "\n");
}

TEST_F(Cli, SettingsKeysAreRememberedInTheConfigFolder) {
  generate("s.mot", {"--model", "6"});
  ASSERT_EQ(cli({"convert", path("s.mot"), "-o", path("out/s2.sum")}).exit_code, 1);
  fs::create_directories(path("out"));
  ASSERT_EQ(cli({"convert", path("s.mot"), "-o", path("out/s2.sum")}).exit_code, 0);
  const std::string text = ini();
  EXPECT_NE(text.find("[Inifile]\nName=FWLOAD.INI\n"), std::string::npos) << text;
  EXPECT_NE(text.find("Directory=" + dir_.string() + "\n"), std::string::npos) << text;
  EXPECT_NE(text.find("File Name=s.mot\n"), std::string::npos) << text;
  EXPECT_NE(text.find("[Write File]\nDirectory=" + path("out") + "\nFile Name=s2.sum\n"),
            std::string::npos)
      << text;
}

TEST_F(Cli, TemporaryDumpWhenTheSettingsAskForIt) {
  fs::create_directories(path("config/fwload"));
  write_file(path("config/fwload/FWLOAD.INI"), "[Option]\nTemp=ON\n");
  const auto image = generate("t.mot", {"--model", "4"});
  ASSERT_EQ(cli({"identify", path("t.mot")}).exit_code, 0);
  EXPECT_EQ(read_file(path("tmp/fwl1.tmp")), std::string(image.begin(), image.end()));
}

TEST_F(Cli, FailuresPrintEachMessageAndExitOne) {
  struct Case {
    std::vector<std::string> fwgen;  // empty: write `text` instead
    std::string text;
    std::string name;
    std::string err;
  };
  const std::vector<Case> cases = {
      {{"--model", "5", "--bad-line", "first-char"},
       "",
       "b1.mot",
       "LineRead Error: First Char is not 'S'!\n"},
      {{"--model", "5", "--bad-line", "length"},
       "",
       "b2.mot",
       "LineRead Error: Length Code is bad value!\n"},
      {{"--model", "5", "--bad-line", "s5"},
       "",
       "b3.mot",
       "LineRead Error: Address Type Code is bad value!\n"},
      {{"--model", "5", "--no-terminator"},
       "",
       "b4.mot",
       "LineRead Error: First Char is not 'S'!\n"},
      {{},
       "S2140000000102030405060708090A0B0C0D0E0F1063\r\nS804000000FB\r\n",
       "b5.mot",
       "File_Open Error: Unknown firmware file !\n"},
      {{}, "", "empty.mot", "LineRead Error: First Char is not 'S'!\n"},
      {{},
       std::string("\x7F"
                   "ELF\x01\x02\x00\x00garbage\n",
                   16),
       "bin.sum",
       "LineRead Error: First Char is not 'S'!\n"},
      {{"--model", "2"}, "", "b6.txt", "File_Open Error: File Attribute is not .mot or .sum!!\n"},
  };
  for (const Case& c : cases) {
    if (c.fwgen.empty()) {
      write_file(path(c.name), c.text);
    } else {
      generate(c.name, c.fwgen);
    }
    const RunResult r = cli({"identify", path(c.name)});
    EXPECT_EQ(r.exit_code, 1) << c.name;
    EXPECT_EQ(r.err, c.err) << c.name;
    EXPECT_EQ(r.out, "") << c.name;
  }
  const RunResult missing = cli({"identify", path("nowhere.mot")});
  EXPECT_EQ(missing.exit_code, 1);
  EXPECT_EQ(missing.err, "File_Open Error: File Open failed!!\n");
  fs::create_directories(path("folder.mot"));
  const RunResult folder = cli({"identify", path("folder.mot")});
  EXPECT_EQ(folder.err, "File_Open Error: File Open failed!!\n");
  // A failed open remembers nothing.
  EXPECT_EQ(ini(), "");
}

TEST_F(Cli, ChecksumLocationWithDataIsRefusedForMotButReadForSum) {
  generate("full.mot", {"--model", "8"});
  // Put data into the checksum byte 0x1FFFF with one more record before the terminator.
  std::string text = read_file(path("full.mot"));
  text.insert(text.rfind("S8"), "S20501FFFF00FB\r\n");
  write_file(path("full.mot"), text);
  write_file(path("full.sum"), text);
  const RunResult mot = cli({"identify", path("full.mot")});
  EXPECT_EQ(mot.exit_code, 1);
  EXPECT_EQ(mot.err, "SumCalc Error: Valid code exists in SUM address !!\n");
  const RunResult sum = cli({"identify", path("full.sum")});
  EXPECT_EQ(sum.exit_code, 0) << sum.err;
  EXPECT_NE(sum.out.find("SUM VALUE = 00 hex\n"), std::string::npos) << sum.out;
}

TEST_F(Cli, ExtensionInAnyCaseAndUnidentifiedUnit) {
  generate("MiXeD.MoT", {"--model", "3"});
  EXPECT_EQ(cli({"identify", path("MiXeD.MoT")}).exit_code, 0);
  generate("nounit.mot", {"--model", "6", "--no-unit-mark"});
  const RunResult r = cli({"identify", path("nounit.mot")});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_NE(r.out.find("Unit Name : I don't know.\nFile Version : 1.00\nModel Code : 0\n"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("ADDRESS    = 000000 hex\n"), std::string::npos) << r.out;
  const RunResult c = cli({"convert", path("nounit.mot")});
  EXPECT_EQ(c.exit_code, 1);
  EXPECT_EQ(c.err, "File_Write Error: File write failed!!\n");
  EXPECT_FALSE(fs::exists(path("nounit.sum")));
}

TEST_F(Cli, ConvertRefusesToOverwriteItsInput) {
  generate("a.mot", {"--model", "2"});
  ASSERT_EQ(cli({"convert", path("a.mot")}).exit_code, 0);
  const std::string before = read_file(path("a.sum"));
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"convert", path("a.sum")},
        std::vector<std::string>{"convert", path("a.mot"), "-o", path("a.mot")},
        std::vector<std::string>{"convert", path("a.sum"), "-o", path("tmp/../a.sum")}}) {
    const RunResult r = cli(args);
    EXPECT_EQ(r.exit_code, 2) << args[1];
    EXPECT_NE(r.err.find("overwrite its input"), std::string::npos) << r.err;
  }
  EXPECT_EQ(read_file(path("a.sum")), before);
}

TEST_F(Cli, WriteFailuresAreReportedAndLeaveNoPartialFile) {
  generate("w.mot", {"--model", "5"});
  const RunResult no_dir = cli({"convert", path("w.mot"), "-o", path("no/such/w.sum")});
  EXPECT_EQ(no_dir.exit_code, 1);
  EXPECT_EQ(no_dir.err, "File_Write Error: File write failed!!\n");
  // A device that is always full: the failure is reported, and the device is left alone.
  const RunResult full = cli({"convert", path("w.mot"), "-o", "/dev/full"});
  EXPECT_EQ(full.exit_code, 1);
  EXPECT_EQ(full.err, "File_Write Error: File write failed!!\n");
  EXPECT_TRUE(fs::exists("/dev/full"));
  EXPECT_EQ(ini().find("[Write File]"), std::string::npos);
}

TEST_F(Cli, UsageHelpAndVersion) {
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{}, std::vector<std::string>{"identify"},
        std::vector<std::string>{"convert", "a.mot", "-o"},
        std::vector<std::string>{"flash", "a.mot"}}) {
    const RunResult r = cli(args);
    EXPECT_EQ(r.exit_code, 2);
    EXPECT_NE(r.err.find("usage: fwload-cli"), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");
  }
  const RunResult help = cli({"--help"});
  EXPECT_EQ(help.exit_code, 0);
  EXPECT_NE(help.out.find("identify FILE"), std::string::npos);
  const RunResult version = cli({"--version"});
  EXPECT_EQ(version.exit_code, 0);
  EXPECT_EQ(version.out.rfind("fwload-cli 5.00", 0), 0u) << version.out;
}

TEST_F(Cli, TransferToTheEmulatedScanner) {
  generate("five.mot", {"--model", "5"});
  const RunResult r = cli({"transfer", path("five.mot"), "--emulate", "hvs3600:commit-ms=2500"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_NE(r.out.find("Transferred " + path("five.mot") + " to HV Scanner 3600"),
            std::string::npos)
      << r.out;
  // Without a terminal the countdown is reported in whole lines.
  EXPECT_EQ(r.err, "Now Writing... 15 SEC\n");
  generate("unit.mot", {"--model", "6"});
  const RunResult post = cli({"transfer", path("unit.mot"), "--post", "--emulate=hvs3600"});
  EXPECT_EQ(post.exit_code, 0) << post.err;
  EXPECT_NE(post.out.find("buffer 2"), std::string::npos) << post.out;
  const RunResult pre = cli({"transfer", path("unit.mot"), "--emulate=hvs3600"});
  EXPECT_NE(pre.out.find("buffer 3"), std::string::npos) << pre.out;
  // A scanner on the second adapter, behind an invalid first one.
  EXPECT_EQ(cli({"transfer", path("five.mot"), "--emulate", "hvs3600:badadapter"}).exit_code, 0);
}

TEST_F(Cli, TransferFailuresSayWhatHappened) {
  generate("five.mot", {"--model", "5"});
  generate("unit.mot", {"--model", "8"});
  struct Case {
    std::string file, spec, err;
    std::vector<std::string> extra = {};
  };
  const std::vector<Case> cases = {
      {"five.mot", "hvs2600",
       "DownLoad Message: This file cannot use with the current scanner !\n"},
      {"unit.mot",
       "hvs3600-pre",
       "DownLoad Message: This file cannot use with the current scanner !\n",
       {"--post"}},
      {"five.mot", "hvs3600:notready=11", "Scanner Message: Scanner is not ready.\n"},
      {"five.mot", "hvs3600:busy=11", "Source Message: Scanner is busy.\n"},
      {"five.mot", "hvs3600:block=1@*", "Scanner Message: Image transfer error occured.\n"},
      {"five.mot", "hvs3600:commit", "Scanner Message: EEPROM write error occured in Scanner.\n"},
      {"five.mot", "hvs3600:noscanner", "Scanner Error: No Target Device !!\n"},
      {"five.mot", "hvs3600:nomanager", "Source Message: Load Library error !!\n"},
      {"five.mot", "hvs3600:noentry=info", "Source Message: GetSupportInfo Adress error !!\n"},
      {"five.mot", "hvs3600:noentry=send", "Source Message: GetASPICommand Adress error !!\n"},
      {"five.mot", "hvs3600:supportinfo=4",
       "Source Message: ASPI for Windows is not initialized !!\n"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = {"transfer", path(c.file), "--emulate", c.spec};
    args.insert(args.end(), c.extra.begin(), c.extra.end());
    const RunResult r = cli(args);
    EXPECT_EQ(r.exit_code, 1) << c.spec;
    EXPECT_EQ(r.err, c.err) << c.spec;
    EXPECT_EQ(r.out, "") << c.spec;
  }
}

TEST_F(Cli, InfoPrintsTheAboutRows) {
  RunResult r = cli({"info", "--emulate", "hvs3600"});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.out,
            "Vendor ID : ORVEL   \nProducts ID : HV Scanner 3600 \n"
            "Mecha-Control Unit Version : 1.00\nPre-Imprinter Unit Version : 2.10\n"
            "Post-Imprinter Unit Version : 2.00\nCurrent SCSI Host ID : #0\n"
            "Current SCSI Target ID : #3\nSCSI Manager : emulated ASPI manager\n");
  r = cli({"info", "--emulate", "m7180:target=6"});
  EXPECT_EQ(r.out,
            "Vendor ID : PELKO   \nProducts ID : TR-M7180        \nSCSI Unit Version : 2.00\n"
            "Mecha-Control Unit Version : 2.01\nImprinter Unit Version : None\n"
            "Current SCSI Host ID : #0\nCurrent SCSI Target ID : #6\n"
            "SCSI Manager : emulated ASPI manager\n");
  r = cli({"info", "--emulate", "mm730n"});
  EXPECT_NE(r.out.find("Boot Version : 1.10\nProgram Version : 3.02\nImage Table Version : 1.40\n"),
            std::string::npos)
      << r.out;
  r = cli({"info", "--emulate", "hvs3600:noscanner"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.out,
            "Vendor ID : No device !\nProducts ID : No device !\nProgram Version : No device !\n"
            "Current SCSI Host ID : No device !\nCurrent SCSI Target ID : No device !\n"
            "SCSI Manager : emulated ASPI manager\n");
  EXPECT_EQ(r.err, "");
  r = cli({"info", "--emulate", "hvs3600:nomanager"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.err, "Source Message: Load Library error !!\n");
  EXPECT_EQ(r.out.find("SCSI Manager"), std::string::npos);  // none answered
  // Only Windows has two managers to choose from.
  r = cli({"info", "--spti"});
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_NE(r.err.find("--aspi and --spti choose between the two SCSI managers of Windows"),
            std::string::npos)
      << r.err;
}

TEST_F(Cli, InfoWithAFileShowsTheProgramAndTheFileFirst) {
  generate("imp.mot", {"--model", "8", "--version", "4.56"});
  const RunResult r = cli({"info", "--file", path("imp.mot"), "--emulate", "hvs3600:noscanner"});
  EXPECT_EQ(r.out.substr(0, r.out.find("Vendor ID")),
            "Version Number : 5.00\nVersion Information : Dec.10.1999.\n"
            "Scanner Name : HVS 2600/3600\nUnit Name : Document Printer\nFile Version : 4.56\n");
  generate("five.mot", {"--model", "5"});
  const RunResult five = cli({"info", "--file", path("five.mot"), "--emulate", "hvs3600"});
  EXPECT_NE(five.out.find("Scanner Name : HVS 3600\nUnit Name : MECHA-CONTROL\n"),
            std::string::npos);
  const RunResult bad = cli({"info", "--file", path("nowhere.mot"), "--emulate", "hvs3600"});
  EXPECT_EQ(bad.exit_code, 1);
  EXPECT_EQ(bad.err, "File_Open Error: File Open failed!!\n");
}

TEST_F(Cli, SetDefaultAndSerialNumber) {
  RunResult r = cli({"set-default", "japan", "--emulate", "hvs3600"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, "Regional defaults set: japan\n");
  r = cli({"serial-number", "--emulate", "hvs2600"});
  EXPECT_EQ(r.out, "Serial Number : \"     SN-00012345\"\n");
  r = cli({"serial-number", "ABCDE", "--emulate", "hvs3600"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, "Serial Number : \"           ABCDE\"\n");
  r = cli({"serial-number", "12345678901234567", "--emulate", "hvs3600"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.err, "Write S/N: Length Error\n");
  r = cli({"serial-number", "--emulate", "hvs3600-plain"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.err, "fwload-cli: this scanner keeps no serial number\n");
  r = cli({"set-default", "us", "--emulate", "m3160fb"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.err, "Scanner Error: No Target Device !!\n");
  r = cli({"set-default", "europe", "--emulate", "hvs3600:notready=11"});
  EXPECT_EQ(r.err, "Scanner Message: Scanner is not ready.\n");
  r = cli({"set-default", "europe", "--emulate", "hvs3600:door"});
  EXPECT_EQ(r.err, "Scanner Message: Scanner Door is open! Please close the door.\n");
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"set-default"}, std::vector<std::string>{"set-default", "mars"},
        std::vector<std::string>{"serial-number", "A", "B"},
        std::vector<std::string>{"set-default", "us", "--serial", "/dev/null"}}) {
    EXPECT_EQ(cli(args).exit_code, 2) << args.back();
  }
}

TEST_F(Cli, DryRunSendsNothing) {
  generate("five.mot", {"--model", "5", "--end", "0x70000", "--keep-blank"});
  auto e = env();
  e["FWLOAD_EMULATOR_LOG"] = path("emulator.log");
  RunResult r = run({kCli, "transfer", path("five.mot"), "--dry-run", "--emulate", "hvs3600"}, e);
  EXPECT_EQ(r.exit_code, 0) << r.err;
  // The scanner was asked who it is and whether it is ready, and was sent nothing.
  const std::string log = read_file(path("emulator.log"));
  EXPECT_NE(log.find("INQUIRY"), std::string::npos) << log;
  EXPECT_NE(log.find("TEST UNIT READY"), std::string::npos) << log;
  EXPECT_EQ(log.find("WRITE BUFFER"), std::string::npos) << log;
  EXPECT_EQ(r.out,
            "Dry run: SCSI adapter #0 target #3 (HV Scanner 3600), buffer id 0: 458752 bytes in 56 "
            "WRITE BUFFER blocks of 8192, then the commit with about 16 s of writing. Nothing was "
            "written to the scanner.\n");
  generate("unit.mot", {"--model", "6"});
  r = cli({"transfer", path("unit.mot"), "--dry-run", "--post", "--emulate", "hvs3600"});
  EXPECT_NE(r.out.find("buffer id 2:"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("about 130 s"), std::string::npos) << r.out;
  // The checks before the first byte still refuse what they refuse.
  r = cli({"transfer", path("five.mot"), "--dry-run", "--emulate", "hvs2600"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.err, "DownLoad Message: This file cannot use with the current scanner !\n");
  r = cli({"transfer", path("five.mot"), "--dry-run", "--emulate", "hvs3600:notready=11"});
  EXPECT_EQ(r.err, "Scanner Message: Scanner is not ready.\n");
}

TEST_F(Cli, AfterATransferTheScannerReportsTheNewVersion) {
  generate("five.mot", {"--model", "5", "--version", "3.45"});
  const RunResult r = cli({"transfer", path("five.mot"), "--emulate", "hvs3600"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_NE(r.out.find("The scanner now reports:\n  Mecha-Control Unit Version : 3.45\n"
                       "  Pre-Imprinter Unit Version : 2.10\n  Post-Imprinter Unit Version : 2.00\n"
                       "File Version : 3.45\n"),
            std::string::npos)
      << r.out;
}

TEST_F(Cli, JsonOutput) {
  generate("five.mot", {"--model", "5"});
  RunResult r = cli({"identify", "--json", path("five.mot")});
  EXPECT_EQ(r.exit_code, 0);
  ASSERT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1) << r.out;  // one line
  const Json id = Json::parse(r.out);
  EXPECT_EQ(id, Json({{"file", path("five.mot")},
                      {"scanner_name", "HVS 3600"},
                      {"unit_name", "MECHA-CONTROL"},
                      {"file_version", "1.00"},
                      {"model_code", 5},
                      {"download_target_code", 0},
                      {"sum_value", id["sum_value"]},
                      {"sum_address", "06FFFF"},
                      {"start_address", "000000"},
                      {"end_address", id["end_address"]},
                      {"sha256", peer_sha256(path("five.mot"))}}))
      << r.out;
  r = cli({"info", "--json", "--emulate", "hvs3600:noscanner"});
  EXPECT_EQ(r.exit_code, 1);
  auto row = [](const char* label) { return Json{{"label", label}, {"value", "No device !"}}; };
  EXPECT_EQ(Json::parse(r.out),
            Json({{"scanner", {row("Vendor ID :"), row("Products ID :"), row("Program Version :")}},
                  {"host", {row("Current SCSI Host ID :"), row("Current SCSI Target ID :")}},
                  {"manager", "emulated ASPI manager"},
                  {"found", false}}))
      << r.out;
  // Bytes of the firmware's texts that are no plain characters are escaped.
  generate("odd.mot", {"--model", "6", "--unit", "I\x01\"\\RINTER"});
  r = cli({"identify", "--json", path("odd.mot")});
  EXPECT_NE(r.out.find("\"unit_name\":\"I\\u0001\\\"\\\\RINTE\""), std::string::npos) << r.out;
  EXPECT_EQ(Json::parse(r.out)["unit_name"], "I\x01\"\\RINTE");
}

// Ctrl-C during a transfer. Before the commit: the transfer stops, the scanner keeps its
// firmware, exit 130. While it saves: the first only warns and the transfer completes; a second
// ends the program at once.
TEST_F(Cli, InterruptedTransfer) {
  generate("five.mot", {"--model", "5"});
  auto e = env();
  e["FWLOAD_EMULATOR_LOG"] = path("emulator.log");
  auto transfer = [&](const std::string& spec, std::vector<SignalAt> signals) {
    fs::remove(path("emulator.log"));
    return run({kCli, "transfer", path("five.mot"), "--emulate", spec}, e, 60000, signals);
  };
  // A second in: the versions and serial number read (11 requests), blocks being sent.
  RunResult r = transfer("hvs3600:latency=40", {{"", 1000, SIGINT}});
  EXPECT_EQ(r.exit_code, 130);
  EXPECT_EQ(r.err,
            "Transfer interrupted before the scanner was told to save it; it keeps its old "
            "firmware.\n");
  std::string log = read_file(path("emulator.log"));
  EXPECT_NE(log.find("WRITE BUFFER"), std::string::npos);
  EXPECT_EQ(log.find("offset=0x06E000"), std::string::npos);  // not all 56 blocks
  EXPECT_EQ(log.find("COMMIT"), std::string::npos);

  r = transfer("hvs3600:commit-ms=3000", {{"Now Writing", 0, SIGTERM}});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_NE(r.err.find("The scanner is saving its firmware; do not switch it off. 1"),
            std::string::npos)
      << r.err;
  EXPECT_NE(read_file(path("emulator.log")).find("COMMIT id=0 "), std::string::npos);

  const auto start = std::chrono::steady_clock::now();
  r = transfer("hvs3600:commit-ms=3000",
               {{"Now Writing", 0, SIGINT}, {"do not switch it off", 250, SIGINT}});
  EXPECT_EQ(r.exit_code, 130) << r.err;
  EXPECT_NE(r.err.find("Interrupted while the scanner was saving its firmware."), std::string::npos)
      << r.err;
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2900));
  EXPECT_EQ(read_file(path("emulator.log")).find("COMMIT id=0 "), std::string::npos);

  // One press that arrives as two signals is one press: the warning, and the save completes.
  r = transfer("hvs3600:commit-ms=3000", {{"Now Writing", 0, SIGINT}, {"Now Writing", 1, SIGINT}});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_NE(r.err.find("do not switch it off"), std::string::npos) << r.err;

  // A request the scanner holds is given up at once, in the search as anywhere before the
  // commit; info, too, ends at once.
  for (const std::string command : {"transfer", "info"}) {
    const auto begin = std::chrono::steady_clock::now();
    std::vector<std::string> argv = {kCli, command, "--emulate", "hvs3600:latency=30000"};
    if (command == "transfer") argv.insert(argv.begin() + 2, path("five.mot"));
    r = run(argv, e, 60000, {{"", 500, SIGINT}});
    EXPECT_EQ(r.exit_code, 130) << command << r.err;
    EXPECT_EQ(r.err, command == "info" ? "Interrupted.\n"
                                       : "Transfer interrupted before the scanner was told to "
                                         "save it; it keeps its old firmware.\n");
    EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::milliseconds(1500));
  }

  // After the save, a Ctrl-C ends the version read at once.
  generate("six.mot", {"--model", "6"});  // an imprinter unit file: 16 blocks
  fs::remove(path("emulator.log"));
  r = run({kCli, "transfer", path("six.mot"), "--emulate", "hvs3600:latency=100"}, e, 60000,
          {{"Transferred", 150, SIGINT, true}});
  EXPECT_EQ(r.exit_code, 130) << r.err;
  EXPECT_NE(r.err.find("The firmware was saved; its versions were not read.\n"), std::string::npos)
      << r.err;
  EXPECT_EQ(r.out.find("The scanner now reports"), std::string::npos) << r.out;
  EXPECT_NE(read_file(path("emulator.log")).find("COMMIT id=3 "), std::string::npos);
}

// A bench with two scanners: scan lists both; --target loads the one asked for only, and a
// file for the other model is refused there.
TEST_F(Cli, TwoScannersScanAndTarget) {
  generate("five.mot", {"--model", "5"});
  generate("seven.mot", {"--model", "7"});
  const std::vector<std::string> bench = {"--emulate", "hvs3600:adapter=0,target=3", "--emulate",
                                          "hvs2600:adapter=1,target=5"};
  auto command = [&](std::vector<std::string> args) {
    fs::remove(path("emulator.log"));
    args.insert(args.begin(), kCli);
    args.insert(args.end(), bench.begin(), bench.end());
    auto e = env();
    e["FWLOAD_EMULATOR_LOG"] = path("emulator.log");
    return run(args, e);
  };
  RunResult r = command({"scan", "--json"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  std::vector<std::string> scanners;
  const Json listing = Json::parse(r.out);
  for (const Json& d : listing["devices"]) {
    if (d["scanner"] == true) {
      scanners.push_back(std::to_string(d["adapter"].get<int>()) + ":" +
                         std::to_string(d["target"].get<int>()) + " " +
                         d["product"].get<std::string>());
    }
  }
  EXPECT_EQ(scanners, (std::vector<std::string>{"0:3 HV Scanner 3600", "1:5 HV Scanner 2600"}));

  r = command({"transfer", path("seven.mot"), "--target", "1:5"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  std::string log = read_file(path("emulator.log"));
  EXPECT_EQ(log.find("0:3 WRITE BUFFER"), std::string::npos) << log;
  EXPECT_NE(log.find("1:5 COMMIT id=0 "), std::string::npos) << log;

  r = command({"transfer", path("five.mot"), "--target", "1:5"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.err, "DownLoad Message: This file cannot use with the current scanner !\n");
  EXPECT_EQ(read_file(path("emulator.log")).find("WRITE BUFFER"), std::string::npos);
  // An address with no scanner: the usual message, nothing sent.
  r = command({"transfer", path("five.mot"), "--target", "1:0"});
  EXPECT_EQ(r.err, "Scanner Error: No Target Device !!\n");
}

TEST_F(Cli, EmulatorUsage) {
  const RunResult help = cli({"info", "--emulate", "help"});
  EXPECT_EQ(help.exit_code, 0);
  EXPECT_NE(help.out.find("hvs3600-pre"), std::string::npos);
  EXPECT_NE(help.out.find("notready=N"), std::string::npos);
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"info", "--emulate", "hvs9"},
        std::vector<std::string>{"info", "--emulate", "hvs3600:notready"},
        std::vector<std::string>{"info", "x.mot"},
        std::vector<std::string>{"identify", "x.mot", "--post"},
        std::vector<std::string>{"convert", "x.mot", "--emulate", "hvs3600"},
        std::vector<std::string>{"transfer"}}) {
    const RunResult r = cli(args);
    EXPECT_EQ(r.exit_code, 2) << args[0] << " " << args.back();
    EXPECT_NE(r.err.find("usage: fwload-cli"), std::string::npos);
  }
}

TEST_F(SerialCli, TransferAndInfoOverThePseudoTerminal) {
  start();
  const auto loaded = with_checksums(generate("four.mot", {"--model", "4"}), 4, false);
  const RunResult r = cli({"transfer", path("four.mot"), "--serial", path("line")});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out.substr(0, r.out.find('\n') + 1), "Transferred " + path("four.mot") + " over " +
                                                       path("line") +
                                                       ", unit code 1, 131072 bytes.\n");
  EXPECT_EQ(read_file(path("scanner.img")), std::string(loaded.begin(), loaded.begin() + 0x20000));
  const RunResult info = cli({"info", "--serial", path("line")});
  EXPECT_EQ(info.exit_code, 0);
  EXPECT_EQ(info.out,
            "Vendor ID : Q.T.R.\nProducts ID : TR-MV730\n"
            "Mecha-Control Unit Version : 1.00\nImprinter Unit Version : 2.01\n"
            "Serial port ID : " +
                path("line") + "\n");
  // A numbering unit file goes with its own unit code.
  generate("three.mot", {"--model", "3"});
  const RunResult three = cli({"transfer", path("three.mot"), "--serial", path("line")});
  EXPECT_NE(three.out.find("unit code 2"), std::string::npos) << three.err;
}

TEST_F(SerialCli, LineFaults) {
  generate("four.mot", {"--model", "4"});
  struct Case {
    std::vector<std::string> faults;
    std::string err;
  };
  const std::vector<Case> cases = {
      {{"--fault", "nak=3"}, "Serial Communication Error: Sending Intermediate code failed !\n"},
      {{"--fault", "error=0"}, "Serial Communication Error: Sending Start code failed !\n"},
      {{"--fault", "error=513"}, "Serial Communication Error: Sending End code failed !\n"},
      {{"--fault", "nostx"}, "Serial Communication Error: No Scanner !\n"},
      {{"--fault", "biglen"}, "Serial Communication Error: No Scanner !\n"},
  };
  for (const Case& c : cases) {
    start(c.faults);
    const RunResult r = cli({"transfer", path("four.mot"), "--serial", path("line")});
    EXPECT_EQ(r.exit_code, 1) << c.faults[1];
    EXPECT_EQ(r.err, c.err) << c.faults[1];
  }
  start({"--fault", "busy=6,writing=6"});
  EXPECT_EQ(cli({"transfer", path("four.mot"), "--serial", path("line")}).exit_code, 0);
}

TEST_F(SerialCli, SilentScannerIsNoScannerWithinSeconds) {
  start({"--fault", "silent"});
  generate("four.mot", {"--model", "4"});
  const auto begin = std::chrono::steady_clock::now();
  const RunResult r = cli({"transfer", path("four.mot"), "--serial", path("line")});
  const auto seconds =
      std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - begin);
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.err, "Serial Communication Error: No Scanner !\n");
  EXPECT_LE(seconds.count(), 8);
  const RunResult info = cli({"info", "--serial", path("line")});
  EXPECT_EQ(info.err, "Serial Communication Error: No scanner !\n");
  EXPECT_NE(info.out.find("Vendor ID : No device !"), std::string::npos);
  // Ctrl-C in the middle of the poll ends it within the half second a read waits.
  const auto interrupted = std::chrono::steady_clock::now();
  const RunResult stopped = run({kCli, "transfer", path("four.mot"), "--serial", path("line")},
                                env(), 20000, {{"", 500, SIGINT}});
  EXPECT_EQ(stopped.exit_code, 130);
  EXPECT_EQ(stopped.err,
            "Transfer interrupted before the scanner was told to save it; it keeps its old "
            "firmware.\n");
  EXPECT_LT(std::chrono::steady_clock::now() - interrupted, std::chrono::milliseconds(1500));
}

TEST_F(SerialCli, DryRunSendsNoFrame) {
  start();
  generate("four.mot", {"--model", "4"});
  RunResult r = cli({"transfer", path("four.mot"), "--dry-run", "--serial", path("line")});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out,
            "Dry run: serial line " + path("line") +
                " (19200 baud, 8E1, RTS/CTS), unit code 1: 131072 bytes in 512 frames of "
                "256, between a start and an end frame. Nothing was written to the scanner.\n");
  EXPECT_EQ(read_file(path("scanner.log")).find("start"), std::string::npos);
  EXPECT_FALSE(fs::exists(path("scanner.img")));
  // A scanner that does not answer is found out before anything would be sent.
  start({"--fault", "silent"});
  r = cli({"transfer", path("four.mot"), "--dry-run", "--serial", path("line")});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.err, "Serial Communication Error: No Scanner !\n");
}

TEST_F(SerialCli, OtherModelAndMissingPortAndPacedLine) {
  start({"--model", "other", "--fault", "noimprinter", "--pace"});
  const RunResult info = cli({"info", "--serial", path("line")});
  EXPECT_EQ(info.out,
            "Vendor ID : Undefined !\nProducts ID : Undefined !\n"
            "Mecha-Control Unit Version : 1.23\nImprinter Unit Version : None\n"
            "Serial port ID : " +
                path("line") + "\n");
  generate("four.mot", {"--model", "4"});
  const RunResult missing = cli({"transfer", path("four.mot"), "--serial", path("nowhere")});
  EXPECT_EQ(missing.exit_code, 1);
  EXPECT_EQ(missing.err, "Serial Communication error: Serial Open Error\n");
  const RunResult not_a_line = cli({"info", "--serial", path("four.mot")});
  EXPECT_EQ(not_a_line.err, "Serial Communication Error: Serial Open Error !\n");
}

// fwscanner --scsi where the kernel's SCSI target cannot be used: one line says what to do;
// the faults of the in-process manager and a serial line with it are usage errors.
TEST_F(Cli, ScsiScannerNeedsTheKernelsTarget) {
  const RunResult user = run({"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups",
                              kFwscanner, "--scsi", "hvs3600"});
  EXPECT_EQ(user.exit_code, 1);
  EXPECT_EQ(std::count(user.err.begin(), user.err.end(), '\n'), 1) << user.err;
  EXPECT_NE(user.err.find("needs root; as root: modprobe target_core_user tcm_loop"),
            std::string::npos)
      << user.err;
  if (!fs::exists("/sys/kernel/config/target/core")) {
    const RunResult r = run({kFwscanner, "--scsi", "hvs3600"});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_NE(r.err.find("the kernel's SCSI target is not there"), std::string::npos) << r.err;
  }
  for (const std::vector<std::string>& usage :
       {std::vector<std::string>{kFwscanner, "--scsi", "hvs3600", "--serial", path("line")},
        std::vector<std::string>{kFwscanner, "--scsi", "hvs3600:nomanager"},
        std::vector<std::string>{kFwscanner, "--scsi", "hvs3600:adapter=1"},
        std::vector<std::string>{kFwscanner, "--scsi", "hvs3600:target=4", "--scsi",
                                 "hvs2600:target=4"}}) {
    EXPECT_EQ(run(usage).exit_code, 2) << usage[2];
  }
}

TEST_F(Cli, NoConfigFolderStillWorks) {
  generate("n.mot", {"--model", "2"});
  const RunResult r =
      run({kCli, "identify", path("n.mot")}, {{"XDG_CONFIG_HOME", "\x01"}, {"HOME", "\x01"}});
  EXPECT_EQ(r.exit_code, 0) << r.err;
}

}  // namespace
}  // namespace fwload::e2e
