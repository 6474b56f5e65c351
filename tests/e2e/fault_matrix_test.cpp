// The fault matrix (docs/fault-matrix.md), end to end through fwload-cli: for every bad input
// and every scanner fault, what the user sees, that the tool stays usable, that nothing reaches
// the scanner when the file is refused, and that no file is left half-written unannounced.
// The rows that fwload.exe can reach are run under Wine in gui_test.cpp (GuiFaults).
#include <sys/stat.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "tests/e2e/cli_fixture.h"

namespace fwload::e2e {
namespace {

class FaultMatrix : public SerialCli {
 protected:
  std::string scanner_log() { return read_file(path("emulator.log")); }
  RunResult transfer(const std::string& file, const std::string& spec) {
    std::filesystem::remove(path("emulator.log"));
    auto e = env();
    e["FWLOAD_EMULATOR_LOG"] = path("emulator.log");
    // A held block is given up after a second here, not after the command's own bound.
    if (spec.find("hangblock") != std::string::npos) e["FWLOAD_REQUEST_BOUND_MS"] = "1000";
    return run({kCli, "transfer", file, "--emulate", spec}, e);
  }
  // The tool goes on working: a good file opens, converts and goes into the scanner.
  void expect_still_usable() {
    generate("good.mot", {"--model", "5"});
    EXPECT_EQ(cli({"identify", path("good.mot")}).exit_code, 0);
    EXPECT_EQ(cli({"convert", path("good.mot")}).exit_code, 0);
    EXPECT_EQ(transfer(path("good.mot"), "hvs3600").exit_code, 0);
  }
  // A refused file: its message on every path, nothing sent, no ".sum" written.
  void expect_refused(const std::string& file, const std::string& err) {
    const RunResult id = cli({"identify", file});
    EXPECT_EQ(id.exit_code, 1) << file;
    EXPECT_EQ(id.err, err) << file;
    const std::string sum = path("refused.sum");
    const RunResult conv = cli({"convert", file, "-o", sum});
    EXPECT_EQ(conv.exit_code, 1);
    EXPECT_EQ(conv.err, err);
    EXPECT_FALSE(std::filesystem::exists(sum));
    const RunResult t = transfer(file, "hvs3600");
    EXPECT_EQ(t.exit_code, 1);
    EXPECT_EQ(t.err, err);
    EXPECT_EQ(scanner_log().find("WRITE BUFFER"), std::string::npos);
  }
};

TEST_F(FaultMatrix, F01_EmptyFile) {
  write_file(path("empty.mot"), "");
  expect_refused(path("empty.mot"), "LineRead Error: First Char is not 'S'!\n");
  expect_still_usable();
}

TEST_F(FaultMatrix, F02_BinaryGarbage) {
  std::string garbage;
  std::uint32_t x = 12345;
  for (int i = 0; i < 65536; ++i) {
    x = x * 1103515245u + 12345u;
    garbage += static_cast<char>(x >> 24);
  }
  garbage[0] = '\x7F';
  write_file(path("garbage.sum"), garbage);
  expect_refused(path("garbage.sum"), "LineRead Error: First Char is not 'S'!\n");
  expect_still_usable();
}

TEST_F(FaultMatrix, F03_HundredMegabyteFile) {
  // A valid file of 100 MB: the same records again and again, then the terminator.
  generate("base.mot", {"--model", "5", "--no-terminator"});
  const std::string body = read_file(path("base.mot"));
  {
    std::ofstream out(path("big.mot"), std::ios::binary);
    std::size_t written = 0;
    while (written < 100u * 1000 * 1000) {
      out << body;
      written += body.size();
    }
    out << "S804000000FB\r\n";
  }
  const auto start = std::chrono::steady_clock::now();
  const RunResult r = cli({"identify", path("big.mot")});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_NE(r.out.find("Model Code : 5\n"), std::string::npos);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
  EXPECT_EQ(transfer(path("big.mot"), "hvs3600").exit_code, 0);
  std::filesystem::remove(path("big.mot"));
}

TEST_F(FaultMatrix, F04_LineOfHundredThousandCharacters) {
  generate("long.mot", {"--model", "5"});
  std::string text = read_file(path("long.mot"));
  text.insert(text.find("\r\n") + 2, "S2" + std::string(100000, 'A') + "\r\n");
  write_file(path("long.mot"), text);
  expect_refused(path("long.mot"), "LineRead Error: Length Code is bad value!\n");
  expect_still_usable();
}

TEST_F(FaultMatrix, F05_NonHexDigitsReadAsFifteen) {
  const auto image = generate("nonhex.mot", {"--model", "5", "--non-hex"});
  const RunResult r = cli({"identify", path("nonhex.mot")});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  // The image the file gives, with the non-hex digit read as 15, goes to the scanner.
  const RunResult t = transfer(path("nonhex.mot"), "hvs3600");
  EXPECT_EQ(t.exit_code, 0) << t.err;
}

TEST_F(FaultMatrix, F06_S5Record) {
  generate("s5.mot", {"--model", "5", "--bad-line", "s5"});
  expect_refused(path("s5.mot"), "LineRead Error: Address Type Code is bad value!\n");
  expect_still_usable();
}

TEST_F(FaultMatrix, F07_RecordsBeyondTheImage) {
  const auto image = generate("beyond.mot", {"--model", "5", "--type", "3", "--beyond"});
  ASSERT_EQ(cli({"convert", path("beyond.mot"), "-o", path("beyond.sum")}).exit_code, 0);
  // Ignored: the peer reads back our image, nothing from beyond 0x6FFFF.
  ASSERT_EQ(run({"srec_cat", path("beyond.sum"), "-fill", "0xFF", "0", "0x70000", "-o",
                 path("back.bin"), "-binary"})
                .exit_code,
            0);
  const auto expected = with_checksums(image, 5, false);
  EXPECT_EQ(read_file(path("back.bin")), std::string(expected.begin(), expected.end()));
}

TEST_F(FaultMatrix, F08_PathOfThreeHundredCharacters) {
  std::string dir = path("");
  while (dir.size() < 220) dir += std::string(40, 'd') + "/";
  std::filesystem::create_directories(dir);
  const std::string file = dir + std::string(300 - dir.size() - 4, 'f') + ".mot";
  ASSERT_EQ(file.size(), 300u);
  generate("p.mot", {"--model", "6"});
  std::filesystem::copy_file(path("p.mot"), file);
  EXPECT_EQ(cli({"identify", file}).exit_code, 0);
  EXPECT_EQ(cli({"convert", file}).exit_code, 0);
  EXPECT_TRUE(std::filesystem::exists(file.substr(0, file.size() - 4) + ".sum"));
  EXPECT_NE(ini().find("File Name=" + file.substr(dir.size())), std::string::npos);
}

TEST_F(FaultMatrix, F09_WrongExtension) {
  generate("fw.hex", {"--model", "5"});
  expect_refused(path("fw.hex"), "File_Open Error: File Attribute is not .mot or .sum!!\n");
  expect_still_usable();
}

TEST_F(FaultMatrix, F10_UnreadableFile) {
  // Root reads any file, so unreadable is what is no file to read: a pipe (never waited on), a
  // folder, a link to nothing.
  ASSERT_EQ(mkfifo(path("pipe.mot").c_str(), 0600), 0);
  std::filesystem::create_directories(path("folder.mot"));
  std::filesystem::create_symlink(path("nothing.mot"), path("link.mot"));
  for (const char* name : {"pipe.mot", "folder.mot", "link.mot"}) {
    expect_refused(path(name), "File_Open Error: File Open failed!!\n");
  }
  expect_still_usable();
}

TEST_F(FaultMatrix, F11_OutputThatCannotBeWritten) {
  generate("a.mot", {"--model", "5"});
  const RunResult r = cli({"convert", path("a.mot"), "-o", "/proc/fwload-out.sum"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.err, "File_Write Error: File write failed!!\n");
  EXPECT_EQ(ini().find("[Write File]"), std::string::npos);
  expect_still_usable();
}

TEST_F(FaultMatrix, F12_FullDisk) {
  generate("a.mot", {"--model", "5"});
  const RunResult r = cli({"convert", path("a.mot"), "-o", "/dev/full"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.err, "File_Write Error: File write failed!!\n");
  // A disk that fills up part-way: a file size limit of 64 KiB stops the .sum (about 1 MB)
  // after its first part; what was written is removed and the failure reported.
  auto e = env();
  const RunResult limited = run({"/bin/sh", "-c", "trap '' XFSZ; ulimit -f 64; exec \"$0\" \"$@\"",
                                 kCli, "convert", path("a.mot"), "-o", path("part.sum")},
                                e);
  EXPECT_EQ(limited.exit_code, 1);
  EXPECT_EQ(limited.err, "File_Write Error: File write failed!!\n");
  EXPECT_FALSE(std::filesystem::exists(path("part.sum")));
  expect_still_usable();
}

TEST_F(FaultMatrix, F13_OverlongSettings) {
  std::filesystem::create_directories(path("config/fwload"));
  const std::string huge(20000, 'x');
  write_file(path("config/fwload/FWLOAD.INI"), "[Option]\nSW=" + huge + "\nTemp=" + huge +
                                                   "\n[Open File]\nDirectory=" + huge +
                                                   "\nFile Name=" + huge + "\n");
  generate("a.mot", {"--model", "5"});
  EXPECT_EQ(cli({"identify", path("a.mot")}).exit_code, 0);
  EXPECT_EQ(cli({"convert", path("a.mot")}).exit_code, 0);
  // The keys the tool writes replace the overlong ones; the others stay as they were.
  const std::string text = ini();
  EXPECT_NE(text.find("Directory=" + dir_.string() + "\n"), std::string::npos);
  EXPECT_NE(text.find("SW=" + huge), std::string::npos);
}

TEST_F(FaultMatrix, S01_ScannerFaultsOverScsi) {
  generate("five.mot", {"--model", "5"});
  struct Row {
    std::string spec;
    int exit;
    std::string err;
    bool sends;  // whether WRITE BUFFER reaches the scanner
  };
  const std::vector<Row> rows = {
      {"hvs3600:notready=10", 0, "", true},
      {"hvs3600:notready=11", 1, "Scanner Message: Scanner is not ready.\n", false},
      {"hvs3600:door", 0, "", true},
      {"hvs3600:busy=11", 1, "Source Message: Scanner is busy.\n", false},
      {"hvs3600:block=4@1", 0, "", true},
      {"hvs3600:block=4@*", 1, "Scanner Message: Image transfer error occured.\n", true},
      {"hvs3600:busyblock=1@1", 0, "", true},
      {"hvs3600:busycommit", 1, "Source Message: Scanner is busy.\n", true},
      {"hvs3600:commit", 1, "Scanner Message: EEPROM write error occured in Scanner.\n", true},
      {"hvs3600:badadapter", 0, "", true},
      {"hvs3600:supportinfo=4", 1, "Source Message: ASPI for Windows is not initialized !!\n",
       false},
      {"hvs3600:noentry=info", 1, "Source Message: GetSupportInfo Adress error !!\n", false},
      {"hvs3600:noentry=send", 1, "Source Message: GetASPICommand Adress error !!\n", false},
      {"hvs3600:noscanner", 1, "Scanner Error: No Target Device !!\n", false},
      {"hvs3600:nomanager", 1, "Source Message: Load Library error !!\n", false},
      {"hvs3600:reset=5", 0, "", true},
      {"hvs3600:hangblock=3", 0, "", true},
      {"hvs3600:latency=20", 0, "", true},
      {"hvs3600:commit-ms=3000", 0, "", true},
      {"hvs3600:target=5", 0, "", true},
      {"hvs2600", 1, "DownLoad Message: This file cannot use with the current scanner !\n", false},
  };
  // Every transfer that succeeds commits the same bytes: the first one's digest.
  std::string digest;
  for (const Row& row : rows) {
    const RunResult r = transfer(path("five.mot"), row.spec);
    EXPECT_EQ(r.exit_code, row.exit) << row.spec;
    // The writing countdown goes to stderr while a slow commit runs; the messages are the rest.
    std::string messages;
    for (std::size_t pos = 0; pos < r.err.size();) {
      std::size_t end = r.err.find('\n', pos);
      end = end == std::string::npos ? r.err.size() : end + 1;
      const std::string line = r.err.substr(pos, end - pos);
      if (line.rfind("Now Writing... ", 0) != 0) messages += line;
      pos = end;
    }
    EXPECT_EQ(messages, row.err) << row.spec;
    if (row.spec == "hvs3600:commit-ms=3000") {
      EXPECT_NE(r.err.find("Now Writing... 15 SEC"), std::string::npos) << r.err;
    }
    EXPECT_EQ(scanner_log().find("WRITE BUFFER") != std::string::npos, row.sends) << row.spec;
    const std::string log = scanner_log();
    const std::size_t commit = log.find("COMMIT id=0 ");
    EXPECT_EQ(commit != std::string::npos, row.exit == 0) << row.spec;
    if (commit != std::string::npos) {
      const std::string d = log.substr(log.find("digest=", commit), 15);
      if (digest.empty()) digest = d;
      EXPECT_EQ(d, digest) << row.spec;
    }
  }
  expect_still_usable();
}

TEST_F(FaultMatrix, L01_ScannerFaultsOverSerial) {
  generate("four.mot", {"--model", "4"});
  struct Row {
    std::string faults;
    int exit;
    std::string err;
  };
  const std::vector<Row> rows = {
      {"silent", 1, "Serial Communication Error: No Scanner !\n"},
      {"nak=0", 1, "Serial Communication Error: Sending Start code failed !\n"},
      {"nak=200", 1, "Serial Communication Error: Sending Intermediate code failed !\n"},
      {"nak=513", 1, "Serial Communication Error: Sending End code failed !\n"},
      {"error=9", 1, "Serial Communication Error: Sending Intermediate code failed !\n"},
      {"nostx", 1, "Serial Communication Error: No Scanner !\n"},
      {"biglen", 1, "Serial Communication Error: No Scanner !\n"},
      {"busy=30,writing=30", 0, ""},
      {"reset=100", 1, "Serial Communication Error: Sending Intermediate code failed !\n"},
  };
  for (const Row& row : rows) {
    start({"--fault", row.faults});
    const RunResult r = cli({"transfer", path("four.mot"), "--serial", path("line")});
    EXPECT_EQ(r.exit_code, row.exit) << row.faults;
    EXPECT_EQ(r.err, row.err) << row.faults;
  }
  // The same line afterwards, healthy again.
  start();
  EXPECT_EQ(cli({"transfer", path("four.mot"), "--serial", path("line")}).exit_code, 0);
}

TEST_F(FaultMatrix, L02_PortVanishesMidDownload) {
  generate("four.mot", {"--model", "4"});
  start({"--pace"});
  // At the line rate the transfer takes over a minute; the line goes away after two seconds.
  std::thread killer([this] {
    std::this_thread::sleep_for(std::chrono::seconds(2));
    scanner->stop();
  });
  const auto begin = std::chrono::steady_clock::now();
  const RunResult r = cli({"transfer", path("four.mot"), "--serial", path("line")});
  killer.join();
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.err, "Serial Communication Error: Sending Intermediate code failed !\n");
  EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(15));
  start();
  EXPECT_EQ(cli({"transfer", path("four.mot"), "--serial", path("line")}).exit_code, 0);
}

}  // namespace
}  // namespace fwload::e2e
