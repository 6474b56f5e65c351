// fwload.exe end to end under Wine: the real program and its real dialogs, driven by
// fwload_driver.exe. Runs inside scripts/lib/with-xvfb (an X display of its own).
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tests/e2e/process.h"

namespace fwload::e2e {
namespace {

namespace fs = std::filesystem;

const std::string kSource = FWLOAD_SOURCE_DIR;
const std::string kWinBuild = FWLOAD_WIN_BUILD_DIR;
const std::string kCli = FWLOAD_CLI_PATH;
const std::string kFwgen = FWGEN_PATH;
// FWLOAD_E2E_ARTIFACTS names another folder for the screenshots (a guest's writable share).
const std::string kArtifacts = std::getenv("FWLOAD_E2E_ARTIFACTS") != nullptr
                                   ? std::getenv("FWLOAD_E2E_ARTIFACTS")
                                   : FWLOAD_ARTIFACT_DIR;
// FWLOAD_TIME_FACTOR: how many times longer the waits are on a slow machine (the driver reads
// it too).
int time_factor() {
  const char* value = std::getenv("FWLOAD_TIME_FACTOR");
  const int factor = value != nullptr ? std::atoi(value) : 1;
  return factor >= 1 && factor <= 100 ? factor : 1;
}
const std::string kFwscanner = FWSCANNER_PATH;

// COM1 of the prefix leads to this link; the serial tests put fwscanner's line behind it.
std::string serial_link() {
  return (std::filesystem::temp_directory_path() /
          ("fwload-gui-com1-" + std::to_string(::getuid())))
      .string();
}

std::string win_path(const fs::path& p) {
  std::string s = "Z:" + p.string();
  for (char& c : s) {
    if (c == '/') c = '\\';
  }
  return s;
}

// The prefix wine-run uses (FWLOAD_WINEPREFIX, or one per Wine architecture), asked once.
const std::string& prefix() {
  static const std::string path = [] {
    std::string out = run({kSource + "/scripts/lib/wine-prefix"}).out;
    while (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
  }();
  return path;
}

// One Wine server for the whole run: each program then starts in a second instead of bringing
// up the prefix's services again.
class WineServer : public ::testing::Environment {
 public:
  void SetUp() override {
    // wine-run creates and sets up the prefix if needed.
    const RunResult init =
        run({kSource + "/scripts/lib/wine-run", "cmd", "/c", "exit"}, {}, 300000 * time_factor());
    ASSERT_EQ(init.exit_code, 0) << init.err;
    const RunResult port =
        run({kSource + "/scripts/lib/wine-run", "reg", "add", "HKLM\\Software\\Wine\\Ports", "/v",
             "COM1", "/d", serial_link(), "/f"});
    ASSERT_EQ(port.exit_code, 0) << port.err;
    // COM2 leads to no device at all (Wine would map it to a serial device of the machine).
    const RunResult none =
        run({kSource + "/scripts/lib/wine-run", "reg", "add", "HKLM\\Software\\Wine\\Ports", "/v",
             "COM2", "/d", "/nonexistent/fwload-no-port", "/f"});
    ASSERT_EQ(none.exit_code, 0) << none.err;
    // The server that ran the set-up (and read the ports) is replaced by one that stays.
    run({"wineserver", "-k"}, env());
    run({"wineserver", "-w"}, env());
    const RunResult server = run({"wineserver", "-p"}, env());
    ASSERT_EQ(server.exit_code, 0) << server.err;
  }
  void TearDown() override { run({"wineserver", "-k"}, env()); }
  static std::map<std::string, std::string> env() { return {{"WINEPREFIX", prefix()}}; }
};
const auto* const kWineServer = ::testing::AddGlobalTestEnvironment(new WineServer);

class Gui : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(std::getenv("DISPLAY"), nullptr) << "run under scripts/lib/with-xvfb";
    dir_ = fs::temp_directory_path() /
           ("fwload-gui-" + std::to_string(::getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    fs::remove(ini_path());
    fs::create_directories(kArtifacts);
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string ini_path() const { return prefix() + "/drive_c/windows/FWLOAD.INI"; }
  std::string ini() const {
    std::string text = read_file(ini_path());
    std::string out;
    for (char c : text) {
      if (c != '\r') out += c;
    }
    return out;
  }
  fs::path path(const std::string& name) const { return dir_ / name; }
  std::string exe() const { return win_path(kWinBuild + "/fwload.exe"); }

  void generate(const std::string& name, std::vector<std::string> args) {
    args.insert(args.begin(), {kFwgen, "-o", path(name).string()});
    ASSERT_EQ(run(args).exit_code, 0);
  }

  // Runs the driver with `script`; returns its transcript, one entry per line.
  std::vector<std::string> drive(const std::vector<std::string>& script,
                                 std::map<std::string, std::string> env = {}) {
    std::string text;
    for (const std::string& line : script) text += line + "\n";
    write_file(path("script.txt").string(), text);
    const RunResult r =
        run({kSource + "/scripts/lib/wine-run", kWinBuild + "/tests/e2e/driver/fwload_driver.exe",
             win_path(path("script.txt"))},
            env, 120000 * time_factor());
    std::vector<std::string> lines;
    std::size_t pos = 0;
    while (pos < r.out.size()) {
      std::size_t end = r.out.find('\n', pos);
      if (end == std::string::npos) end = r.out.size();
      std::string line = r.out.substr(pos, end - pos);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      lines.push_back(line);
      pos = end + 1;
    }
    EXPECT_EQ(r.exit_code, 0) << r.out << r.err;
    return lines;
  }

  // Converts a driver screenshot into a PNG among the test artefacts.
  void keep_shot(const std::string& bmp, const std::string& png) {
    const RunResult r = run({"convert", path(bmp).string(), kArtifacts + "/" + png});
    EXPECT_EQ(r.exit_code, 0) << r.err;
  }

  fs::path dir_;
};

bool contains(const std::vector<std::string>& lines, const std::string& line) {
  for (const std::string& l : lines) {
    if (l == line) return true;
  }
  return false;
}

std::vector<std::string> boxes(const std::vector<std::string>& lines) {
  std::vector<std::string> out;
  for (const std::string& l : lines) {
    if (l.rfind("box: ", 0) == 0) out.push_back(l.substr(5));
  }
  return out;
}

// The summary the dialog shows must be the one fwload-cli computes for the same file.
std::string cli_summary(const fs::path& file) {
  const RunResult r = run({kCli, "identify", file.string()}, {{"XDG_CONFIG_HOME", "/nonexistent"}});
  const std::size_t at = r.out.find("SUM VALUE");
  // Up to the digest, which only fwload-cli prints.
  std::string tail = r.out.substr(at, r.out.find("SHA-256") - at);
  std::string out;
  for (char c : tail.substr(0, tail.size() - 1))
    out += c == '\n' ? std::string("\\n") : std::string(1, c);
  return out;
}

// The manifest (DPI awareness, the supported systems) leaves the window as it was at 96 DPI:
// the same file opened by the program built without it gives the same picture.
TEST_F(Gui, TheManifestChangesNothingAt96Dpi) {
  generate("six.mot", {"--model", "6"});
  const std::pair<std::string, std::string> programs[] = {
      {kWinBuild + "/fwload.exe", "manifest.bmp"},
      {kWinBuild + "/without-manifest/fwload.exe", "plain.bmp"}};
  for (const auto& [program, shot] : programs) {
    // The shot once the paint that follows "Completed." has settled (a loaded machine has been
    // seen to take it while the bar was still being drawn).
    const auto t = drive({"start " + win_path(program) + " " + win_path(path("six.mot")),
                          "wait-window", "wait-text 1007 Completed.", "sleep 500",
                          "shot " + win_path(path(shot)), "command 2", "wait-exit"});
    EXPECT_TRUE(contains(t, "shot: " + win_path(path(shot)))) << program;
  }
  const std::string with_manifest = read_file(path("manifest.bmp").string());
  EXPECT_GT(with_manifest.size(), 1000u);
  EXPECT_TRUE(with_manifest == read_file(path("plain.bmp").string()));
  keep_shot("manifest.bmp", "mainbox-with-manifest.png");
}

TEST_F(Gui, CommandLineFileOpensOnceAfterTheFirstPaint) {
  generate("six.mot", {"--model", "6"});
  const auto t = drive({
      "start " + exe() + " " + win_path(path("six.mot")),
      "wait-window",
      "wait-text 1007 Completed.",
      "text 109 1007 1008",
      "enabled 1002 1000 1003 2",
      "visible 1001 1004 1018 1019 1020 1012 107 110",
      "shot " + win_path(path("main.bmp")),
      // Paints after the open must not open the file again: it is gone now.
      "sleep 200",
      "repaint",
      "sleep 500",
      "repaint",
      "sleep 500",
      "file-dialogs",
      "text 1007",
      "command 2",
      "wait-exit",
  });
  EXPECT_TRUE(contains(t, "text 109: Open File : "));
  EXPECT_TRUE(contains(t, "text 1007: Completed.\\n" + cli_summary(path("six.mot"))));
  EXPECT_TRUE(contains(t, "text 1008: six.mot"));
  for (const char* id : {"1002", "1000", "1003", "2"}) {
    EXPECT_TRUE(contains(t, std::string("enabled ") + id + ": 1")) << id;
  }
  for (const char* id : {"1001", "1004", "1018", "1019", "1020", "1012", "107", "110"}) {
    EXPECT_TRUE(contains(t, std::string("visible ") + id + ": 0")) << id;
  }
  EXPECT_TRUE(contains(t, "file dialogs: 0"));
  EXPECT_TRUE(boxes(t).empty());
  EXPECT_TRUE(contains(t, "exit: 1"));
  keep_shot("main.bmp", "mainbox-completed.png");
  EXPECT_NE(ini().find("[Open File]\nDirectory=" + win_path(dir_) + "\nFile Name=six.mot"),
            std::string::npos)
      << ini();
}

TEST_F(Gui, BadFileShowsTheLineErrorAndFails) {
  generate("bad.mot", {"--model", "5", "--bad-line", "s5"});
  const auto t = drive({
      "start " + exe() + " " + win_path(path("bad.mot")),
      "wait-window",
      "wait-text 1007 Failed.",
      "text 1008",
      "enabled 1002 1000",
      "command 2",
      "wait-exit",
  });
  EXPECT_EQ(boxes(t), std::vector<std::string>{"LineRead Error: Address Type Code is bad value!"});
  // The name is shown when the file has been opened, before its lines are read.
  EXPECT_TRUE(contains(t, "text 1008: bad.mot"));
  EXPECT_TRUE(contains(t, "enabled 1002: 0"));
  EXPECT_TRUE(contains(t, "enabled 1000: 1"));
}

TEST_F(Gui, WrongExtensionOnTheCommandLineIsRefusedWithAnEmptyName) {
  generate("fw.txt", {"--model", "5"});
  const auto t = drive({
      "start " + exe() + " " + win_path(path("fw.txt")),
      "wait-window",
      "wait-text 1007 Failed.",
      "text 1008",
      "enabled 1002",
      "command 2",
      "wait-exit",
  });
  EXPECT_EQ(boxes(t),
            std::vector<std::string>{"File_Open Error: File Attribute is not .mot or .sum!!"});
  EXPECT_TRUE(contains(t, "text 1008: "));
  EXPECT_TRUE(contains(t, "enabled 1002: 0"));
}

TEST_F(Gui, CancelledDialogKeepsTheEarlierFile) {
  generate("good.mot", {"--model", "5"});
  const auto t = drive({
      "start " + exe() + " " + win_path(path("good.mot")),
      "wait-window",
      "wait-text 1007 Completed.",
      "command 1000",
      "cancel-file",
      "wait-text 1007 Canceled.",
      "text 1008",
      "enabled 1002",
      "command 2",
      "wait-exit",
  });
  EXPECT_TRUE(contains(t, "file dialog: Open"));
  EXPECT_TRUE(contains(t, "text 1008: good.mot"));
  EXPECT_TRUE(contains(t, "enabled 1002: 1"));
  EXPECT_TRUE(boxes(t).empty());
}

TEST_F(Gui, OpenThroughTheDialogThenAFailureDisablesTransfer) {
  generate("good.mot", {"--model", "7"});
  generate("broken.mot", {"--model", "7", "--no-terminator"});
  const auto t = drive({
      "start " + exe(),
      "wait-window",
      "command 1000",
      "open-file " + win_path(path("good.mot")),
      "wait-text 1007 Completed.",
      "enabled 1002",
      "command 1000",
      "open-file " + win_path(path("broken.mot")),
      "wait-text 1007 Failed.",
      "enabled 1002",
      "command 2",
      "wait-exit",
  });
  EXPECT_EQ(boxes(t), std::vector<std::string>{"LineRead Error: First Char is not 'S'!"});
  EXPECT_TRUE(contains(t, "enabled 1002: 1"));
  EXPECT_TRUE(contains(t, "enabled 1002: 0"));
}

TEST_F(Gui, WriteFileSavesTheSumFileAndRemembersTheKeys) {
  generate("unit.mot", {"--model", "8"});
  fs::create_directories(path("out"));
  const auto t = drive({
      "start " + exe() + " " + win_path(path("unit.mot")),
      "wait-window",
      "wait-text 1007 Completed.",
      "enabled 1001",
      "command 1001",
      "open-file " + win_path(path("out/unit.sum")),
      "wait-text 1007 Completed.",
      "text 109",
      "command 2",
      "wait-exit",
  });
  EXPECT_TRUE(contains(t, "enabled 1001: 1"));
  EXPECT_TRUE(contains(t, "file dialog: Save As"));
  EXPECT_TRUE(contains(t, "text 109: Write File : "));
  EXPECT_TRUE(boxes(t).empty());
  // The same bytes as fwload-cli writes for this file.
  ASSERT_EQ(run({kCli, "convert", path("unit.mot").string(), "-o", path("cli.sum").string()},
                {{"XDG_CONFIG_HOME", path("cfg").string()}})
                .exit_code,
            0);
  EXPECT_EQ(read_file(path("out/unit.sum").string()), read_file(path("cli.sum").string()));
  const std::string keys = ini();
  EXPECT_NE(keys.find("[Inifile]\nName=FWLOAD.INI"), std::string::npos) << keys;
  EXPECT_NE(keys.find("[Open File]\nDirectory=" + win_path(dir_) + "\nFile Name=unit.mot"),
            std::string::npos)
      << keys;
  EXPECT_NE(keys.find("[Write File]\nDirectory=" + win_path(path("out")) + "\nFile Name=unit.sum"),
            std::string::npos)
      << keys;
}

TEST_F(Gui, PreAndPostForAnImprinterFile) {
  generate("imp.mot", {"--model", "6"});
  generate("mecha.mot", {"--model", "5"});
  const auto t = drive({
      "start " + exe() + " " + win_path(path("imp.mot")),
      "wait-window",
      "wait-text 1007 Completed.",
      "enabled 1029 1030 1028",
      "click 1030",
      "sleep 200",
      "checked 1029 1030",
      "click 1029",
      "sleep 200",
      "checked 1029 1030",
      "command 1000",
      "open-file " + win_path(path("mecha.mot")),
      "wait-text 1007 Completed.",
      "enabled 1029 1030 1028",
      "command 2",
      "wait-exit",
  });
  EXPECT_EQ(std::count(t.begin(), t.end(), "enabled 1029: 1"), 1);
  EXPECT_EQ(std::count(t.begin(), t.end(), "enabled 1030: 1"), 1);
  EXPECT_EQ(std::count(t.begin(), t.end(), "enabled 1029: 0"), 1);
  EXPECT_EQ(std::count(t.begin(), t.end(), "enabled 1028: 0"), 1);
  const auto post = std::find(t.begin(), t.end(), "checked 1029: 0");
  ASSERT_NE(post, t.end());
  EXPECT_EQ(*(post + 1), "checked 1030: 1");
  const auto pre = std::find(post, t.end(), "checked 1029: 1");
  ASSERT_NE(pre, t.end());
  EXPECT_EQ(*(pre + 1), "checked 1030: 0");
}

// The emulated scanner's test library answers for WNASPI32.DLL; its log shows what it got.
class GuiScsi : public Gui {
 protected:
  std::map<std::string, std::string> scanner(const std::string& spec) {
    return {{"FWLOAD_EMULATE", spec}, {"FWLOAD_EMULATOR_LOG", win_path(path("scanner.log"))}};
  }
  std::vector<std::string> scanner_log() {
    std::vector<std::string> lines;
    std::string text = read_file(path("scanner.log").string());
    std::size_t pos = 0;
    while (pos < text.size()) {
      std::size_t end = text.find('\n', pos);
      if (end == std::string::npos) end = text.size();
      std::string line = text.substr(pos, end - pos);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      lines.push_back(line);
      pos = end + 1;
    }
    return lines;
  }
  int count(const std::string& prefix) {
    int n = 0;
    for (const std::string& l : scanner_log()) n += l.rfind(prefix, 0) == 0;
    return n;
  }
  std::vector<std::string> transfer(const std::string& file, const std::string& spec) {
    return drive({"start " + exe() + " /T " + win_path(path(file)), "wait-window",
                  "wait-text 109 Trans File", "wait-text 1007 Completed.|Failed.", "text 1007",
                  "enabled 1002 1000 2", "command 2", "wait-exit"},
                 scanner(spec));
  }
};

TEST_F(GuiScsi, UnattendedTransferWithTheCountdownThenClose) {
  generate("a.mot", {"--model", "5"});
  const auto t = drive({"start " + exe() + " /T /C " + win_path(path("a.mot")), "wait-window",
                        "wait-text 1007 Now Writing...", "text 1007",
                        "shot " + win_path(path("writing.bmp")), "wait-exit"},
                       scanner("hvs3600:commit-ms=2500"));
  EXPECT_TRUE(boxes(t).empty());
  EXPECT_TRUE(contains(t, "text 1007: Now Writing... 15 SEC") ||
              contains(t, "text 1007: Now Writing... 14 SEC"));
  EXPECT_TRUE(contains(t, "exit: 1"));
  EXPECT_EQ(count("COMMIT id=0 "), 1);
  EXPECT_EQ(count("WRITE BUFFER mode=05 id=0 offset=0x000000 length=8192"), 1);
  keep_shot("writing.bmp", "mainbox-writing.png");
}

TEST_F(GuiScsi, TransferCompletes) {
  generate("a.mot", {"--model", "7"});
  const auto t = transfer("a.mot", "hvs2600");
  EXPECT_TRUE(boxes(t).empty());
  EXPECT_TRUE(contains(t, "text 1007: Completed."));
  EXPECT_TRUE(contains(t, "enabled 1002: 1"));
  EXPECT_EQ(count("COMMIT id=0 "), 1);
}

TEST_F(GuiScsi, RefusedFileSendsNothing) {
  generate("a.mot", {"--model", "5"});
  const auto t = transfer("a.mot", "hvs2600");
  EXPECT_EQ(boxes(t), std::vector<std::string>{
                          "DownLoad Message: This file cannot use with the current scanner !"});
  EXPECT_TRUE(contains(t, "text 1007: Failed."));
  EXPECT_EQ(count("WRITE BUFFER"), 0);
  EXPECT_GT(count("INQUIRY"), 0);
  // The failed transfer unloaded the manager.
  EXPECT_EQ(count("manager unloaded"), 1);
}

TEST_F(GuiScsi, ScannerNeverReady) {
  generate("a.mot", {"--model", "5"});
  const auto t = transfer("a.mot", "hvs3600:notready=11");
  EXPECT_EQ(boxes(t), std::vector<std::string>{"Scanner Message: Scanner is not ready."});
  EXPECT_EQ(count("TEST UNIT READY"), 11);
  EXPECT_EQ(count("WRITE BUFFER"), 0);
}

TEST_F(GuiScsi, OpenDoorStillDownloads) {
  generate("a.mot", {"--model", "5"});
  const auto t = transfer("a.mot", "hvs3600:door");
  EXPECT_TRUE(boxes(t).empty());
  EXPECT_TRUE(contains(t, "text 1007: Completed."));
}

TEST_F(GuiScsi, BlockFailingInEveryPass) {
  generate("a.mot", {"--model", "5"});
  const auto t = transfer("a.mot", "hvs3600:block=2@*");
  EXPECT_EQ(boxes(t), std::vector<std::string>{"Scanner Message: Image transfer error occured."});
  EXPECT_EQ(count("WRITE BUFFER mode=05 id=0 offset=0x004000"), 3);
  EXPECT_EQ(count("COMMIT"), 0);
}

TEST_F(GuiScsi, CommandDialogServiceFunctions) {
  generate("five.mot", {"--model", "5"});
  const auto t = drive({"start " + exe() + " " + win_path(path("five.mot")),
                        "wait-window",
                        "wait-text 1007 Completed.",
                        "command 1004",
                        "window Command",
                        "sleep 300",
                        "text 1034 1033",
                        "enabled 1053",
                        "set-text 1033 ABCDE",
                        "command 1053",
                        "sleep 300",
                        "text 1034",
                        "shot " + win_path(path("command.bmp")),
                        "set-text 1033 12345678901234567",
                        "command 1053",
                        "box",
                        "command 1050",
                        "sleep 300",
                        "command 1",
                        "main",
                        "sleep 300",
                        "command 2",
                        "wait-exit"},
                       scanner("hvs3600"));
  EXPECT_TRUE(contains(t, "window: Command"));
  EXPECT_TRUE(contains(t, "text 1034:      SN-00012345"));
  EXPECT_TRUE(contains(t, "text 1033: "));
  EXPECT_TRUE(contains(t, "enabled 1053: 1"));
  EXPECT_TRUE(contains(t, "text 1034:            ABCDE"));
  EXPECT_EQ(boxes(t), std::vector<std::string>{"Write S/N: Length Error"});
  EXPECT_EQ(count("VENDOR WRITE code=93 data=20202020202020202020204142434445"), 1);
  EXPECT_EQ(count("VENDOR WRITE code=93"), 1);  // the refused entry sent nothing
  EXPECT_EQ(count("VENDOR WRITE code=8A data=0200"), 1);
  keep_shot("command.bmp", "testbox-serial.png");
}

TEST_F(GuiScsi, CommandDialogWithoutSerialNumberCapabilityAndOtherScanners) {
  generate("five.mot", {"--model", "5"});
  auto t = drive(
      {"start " + exe() + " " + win_path(path("five.mot")), "wait-window",
       "wait-text 1007 Completed.", "command 1004", "window Command", "sleep 300", "enabled 1053",
       "text 1034", "command 1", "main", "sleep 300", "command 2", "wait-exit"},
      scanner("hvs3600-plain"));
  EXPECT_TRUE(contains(t, "enabled 1053: 0"));
  EXPECT_TRUE(contains(t, "text 1034: "));
  EXPECT_TRUE(boxes(t).empty());
  // A scanner of another product: the main window says so and opens nothing.
  t = drive({"start " + exe() + " " + win_path(path("five.mot")), "wait-window",
             "wait-text 1007 Completed.", "command 1004", "box", "sleep 300", "file-dialogs",
             "command 2", "wait-exit"},
            scanner("m3160fb"));
  EXPECT_EQ(boxes(t), std::vector<std::string>{"Scanner Error: No Target Device !!"});
}

TEST_F(GuiScsi, NoScannerAndNoManager) {
  generate("a.mot", {"--model", "5"});
  auto t = transfer("a.mot", "hvs3600:noscanner");
  EXPECT_EQ(boxes(t), std::vector<std::string>{"Scanner Error: No Target Device !!"});
  // Without the library beside it, the program finds no manager at all.
  fs::create_directories(path("bare"));
  fs::copy_file(kWinBuild + "/fwload.exe", path("bare/fwload.exe"));
  t = drive({"start " + win_path(path("bare/fwload.exe")) + " /T " + win_path(path("a.mot")),
             "wait-window", "wait-text 1007 Failed.", "command 2", "wait-exit"});
  EXPECT_EQ(boxes(t), std::vector<std::string>{"Source Message: Load Library error !!"});
}

// The scanner faults of the fault matrix (docs/fault-matrix.md) through the dialog program.
TEST_F(GuiScsi, EveryScannerFault) {
  generate("a.mot", {"--model", "5"});
  struct Row {
    std::string spec;
    std::string box;  // none when empty
    bool sends;       // whether WRITE BUFFER reaches the scanner
  };
  const std::vector<Row> rows = {
      {"hvs3600:busy=11", "Source Message: Scanner is busy.", false},
      {"hvs3600", "", true},
      {"hvs3600:block=4@1", "", true},
      {"hvs3600:busyblock=1@1", "", true},
      {"hvs3600:busycommit", "Source Message: Scanner is busy.", true},
      {"hvs3600:commit", "Scanner Message: EEPROM write error occured in Scanner.", true},
      {"hvs3600:badadapter", "", true},
      {"hvs3600:supportinfo=4", "Source Message: ASPI for Windows is not initialized !!", false},
  };
  // Every transfer that completes commits the same bytes as the one without a fault.
  std::string digest;
  for (const Row& row : rows) {
    fs::remove(path("scanner.log"));
    const auto t = transfer("a.mot", row.spec);
    EXPECT_EQ(boxes(t),
              row.box.empty() ? std::vector<std::string>{} : std::vector<std::string>{row.box})
        << row.spec;
    EXPECT_TRUE(contains(t, row.box.empty() ? "text 1007: Completed." : "text 1007: Failed."))
        << row.spec;
    // Whatever happened, Trans File and Exit are there for the next try.
    EXPECT_TRUE(contains(t, "enabled 1002: 1")) << row.spec;
    EXPECT_TRUE(contains(t, "enabled 2: 1")) << row.spec;
    EXPECT_EQ(count("WRITE BUFFER") > 0, row.sends) << row.spec;
    EXPECT_EQ(count("COMMIT id=0 "), row.box.empty() ? 1 : 0) << row.spec;
    for (const std::string& l : scanner_log()) {
      if (l.rfind("COMMIT id=0 ", 0) != 0) continue;
      const std::string d = l.substr(l.find("digest="));
      if (digest.empty()) digest = d;
      EXPECT_EQ(d, digest) << row.spec;
    }
  }
}

// A manager without one of its two entry points, beside a copy of the program.
TEST_F(GuiScsi, ManagerWithoutAnEntryPoint) {
  generate("a.mot", {"--model", "5"});
  for (const auto& [entry, box] : std::vector<std::pair<std::string, std::string>>{
           {"info", "Source Message: GetSupportInfo Adress error !!"},
           {"send", "Source Message: GetASPICommand Adress error !!"}}) {
    const fs::path dir = path("noentry-" + entry);
    fs::create_directories(dir);
    fs::copy_file(kWinBuild + "/fwload.exe", dir / "fwload.exe");
    fs::copy_file(kWinBuild + "/noentry-" + entry + "/WNASPI32.DLL", dir / "WNASPI32.DLL");
    fs::remove(path("scanner.log"));
    const auto t =
        drive({"start " + win_path(dir / "fwload.exe") + " /T " + win_path(path("a.mot")),
               "wait-window", "wait-text 1007 Failed.", "enabled 1002", "command 2", "wait-exit"},
              scanner("hvs3600"));
    EXPECT_EQ(boxes(t), std::vector<std::string>{box}) << entry;
    EXPECT_TRUE(contains(t, "enabled 1002: 1")) << entry;
    EXPECT_EQ(count("WRITE BUFFER"), 0) << entry;
  }
}

// A commit that the manager never gives back, even when aborted: after the (shortened) bound
// the transfer fails as busy, the block is never reused and the manager is not unloaded while
// it holds the request; the next transfer in the same program completes.
TEST_F(GuiScsi, AnAbandonedRequestKeepsItsBlockAndItsManager) {
  generate("a.mot", {"--model", "5"});
  auto env = scanner("hvs3600:hangcommit");
  env["FWLOAD_REQUEST_BOUND_MS"] = "1500";
  const auto t = drive({"start " + exe() + " /T " + win_path(path("a.mot")), "wait-window",
                        "wait-text 109 Trans File", "wait-text 1007 Failed.", "command 1002",
                        "wait-text 1007 Completed.", "command 2", "wait-exit"},
                       env);
  EXPECT_EQ(boxes(t), std::vector<std::string>{"Source Message: Scanner is busy."});
  EXPECT_EQ(count("COMMIT HANGS"), 1);
  EXPECT_EQ(count("COMMIT id=0 "), 1);
  EXPECT_EQ(count("REQUEST BLOCK REUSED WHILE PENDING"), 0);
  EXPECT_EQ(count("manager unloaded while a request was pending"), 0);
}

TEST_F(Gui, OptionSwitchAboutAndCommandWithoutAScanner) {
  generate("imp.mot", {"--model", "6", "--version", "3.21"});
  const auto t = drive(
      {
          "start " + exe() + " " + win_path(path("imp.mot")),
          "wait-window",
          "wait-text 1007 Completed.",
          "command 107",
          "sleep 200",
          "text 1014",
          // Without a scanner the Command dialog opens nothing and says nothing. Its search
          // holds About disabled, and a command from a disabled button is ignored: on a slow
          // machine the search outlasts the pause, so About is awaited.
          "command 1004",
          "sleep 500",
          "wait-enabled 1003",
          "command 1003",
          "window About",
          "sleep 300",
          "text 100 101 107 108 111 102 103 104 1015 105 1016 109 110",
          "command 1",
          "main",
          "sleep 300",
          "command 2",
          "wait-exit",
      },
      {{"FWLOAD_EMULATE", "hvs3600:noscanner"}});
  EXPECT_TRUE(contains(t, "text 1014: Option = ON"));
  EXPECT_TRUE(contains(t, "text 100: 5.00"));
  EXPECT_TRUE(contains(t, "text 101: Dec.10.1999."));
  EXPECT_TRUE(contains(t, "text 107: HVS 2600/3600"));
  EXPECT_TRUE(contains(t, "text 108: Document Printer"));
  EXPECT_TRUE(contains(t, "text 111: 3.21"));
  for (const char* id : {"102", "103", "104", "109", "110"}) {
    EXPECT_TRUE(contains(t, std::string("text ") + id + ": No device !")) << id;
  }
  EXPECT_TRUE(contains(t, "text 1015: Program Version :"));
  EXPECT_TRUE(contains(t, "text 105: "));
  EXPECT_TRUE(contains(t, "text 1016: "));
  EXPECT_TRUE(boxes(t).empty());
  EXPECT_TRUE(contains(t, "exit: 1"));
}

TEST_F(Gui, AboutAndCommandWithAScanner) {
  generate("five.mot", {"--model", "5"});
  const auto t = drive(
      {
          "start " + exe() + " " + win_path(path("five.mot")),
          "wait-window",
          "wait-text 1007 Completed.",
          "command 1003",
          "window About",
          "sleep 300",
          "text 102 103 104 105 106 112 1015 1016 1017 1018 109 110 107 108",
          "shot " + win_path(path("about.bmp")),
          "command 1",
          "main",
          "sleep 300",
          "command 1004",
          "window Command",
          "sleep 300",  // its controls painted, also on a slow machine
          "shot " + win_path(path("command.bmp")),
          "command 1",
          "main",
          "sleep 300",
          "command 2",
          "wait-exit",
      },
      {{"FWLOAD_EMULATE", "hvs3600"}});
  EXPECT_TRUE(contains(t, "text 102: ORVEL   "));
  EXPECT_TRUE(contains(t, "text 103: HV Scanner 3600 "));
  EXPECT_TRUE(contains(t, "text 1015: Mecha-Control Unit Version :"));
  EXPECT_TRUE(contains(t, "text 104: 1.00"));
  EXPECT_TRUE(contains(t, "text 1016: Pre-Imprinter Unit Version :"));
  EXPECT_TRUE(contains(t, "text 105: 2.10"));
  EXPECT_TRUE(contains(t, "text 1017: Post-Imprinter Unit Version :"));
  EXPECT_TRUE(contains(t, "text 106: 2.00"));
  EXPECT_TRUE(contains(t, "text 1018: "));
  EXPECT_TRUE(contains(t, "text 112: "));
  EXPECT_TRUE(contains(t, "text 109: #0"));
  EXPECT_TRUE(contains(t, "text 110: #3"));
  EXPECT_TRUE(contains(t, "text 107: HVS 3600"));
  EXPECT_TRUE(contains(t, "text 108: MECHA-CONTROL"));
  EXPECT_TRUE(contains(t, "window: Command"));
  EXPECT_TRUE(boxes(t).empty());
  keep_shot("about.bmp", "aboutbox.png");
  keep_shot("command.bmp", "testbox-serial.png");
}

// fwscanner behind COM1; the transfer mode controls are hidden, so the driver checks "Use
// Serial I/F" and posts its command, as a user with option mode would.
class GuiSerial : public Gui {
 protected:
  std::unique_ptr<Background> scanner;
  void start(std::vector<std::string> extra = {}) {
    scanner.reset();
    fs::remove(serial_link());
    std::vector<std::string> argv = {kFwscanner,
                                     "--serial",
                                     serial_link(),
                                     "--image-out",
                                     path("scanner.img").string(),
                                     "--log",
                                     path("scanner.log").string()};
    argv.insert(argv.end(), extra.begin(), extra.end());
    scanner = std::make_unique<Background>(argv);
    ASSERT_TRUE(scanner->wait_for_file(serial_link()));
  }
  void TearDown() override {
    scanner.reset();
    Gui::TearDown();
  }
  std::vector<std::string> serial_transfer(const std::string& file,
                                           std::vector<std::string> extra = {}) {
    std::vector<std::string> script = {"start " + exe() + " " + win_path(path(file)),
                                       "wait-window",
                                       "wait-text 1007 Completed.",
                                       "enabled 1019 1020",
                                       "check 1019 1",
                                       "check 1018 0",
                                       "command 1019",
                                       "sleep 200",
                                       "enabled 1020"};
    script.insert(script.end(), extra.begin(), extra.end());
    script.insert(script.end(),
                  {"command 1002", "wait-text 109 Trans File", "wait-text 1007 Completed.|Failed.",
                   "text 1007", "command 2", "wait-exit"});
    return drive(script);
  }
};

TEST_F(GuiSerial, TransferOverCom1) {
  start();
  generate("four.mot", {"--model", "4"});
  const auto t = serial_transfer("four.mot");
  EXPECT_TRUE(boxes(t).empty());
  EXPECT_TRUE(contains(t, "enabled 1019: 1"));
  EXPECT_TRUE(contains(t, "enabled 1020: 0"));
  EXPECT_TRUE(contains(t, "enabled 1020: 1"));
  EXPECT_TRUE(contains(t, "text 1007: Completed."));
  const std::string log = read_file(path("scanner.log").string());
  EXPECT_NE(log.find("start U=1"), std::string::npos) << log;
  EXPECT_NE(log.find("end: image complete"), std::string::npos) << log;
  // The same bytes as the CLI sends for this file.
  ASSERT_EQ(run({kCli, "transfer", path("four.mot").string(), "--serial", serial_link()},
                {{"XDG_CONFIG_HOME", path("cfg").string()}})
                .exit_code,
            0);
  EXPECT_EQ(read_file(path("scanner.img").string()).size(), 0x20000u);
}

TEST_F(GuiSerial, SilentScannerAndTheOtherPort) {
  start({"--fault", "silent"});
  generate("four.mot", {"--model", "4"});
  auto t = serial_transfer("four.mot");
  EXPECT_EQ(boxes(t), std::vector<std::string>{"Serial Communication Error: No Scanner !"});
  EXPECT_TRUE(contains(t, "text 1007: Failed."));
  // COM2 leads nowhere in this prefix.
  t = serial_transfer("four.mot", {"select 1020 1"});
  EXPECT_EQ(boxes(t), std::vector<std::string>{"Serial Communication error: Serial Open Error"});
}

TEST_F(GuiSerial, AboutOverSerial) {
  start();
  generate("four.mot", {"--model", "4"});
  const auto t = drive({"start " + exe() + " " + win_path(path("four.mot")), "wait-window",
                        "wait-text 1007 Completed.", "check 1019 1", "check 1018 0", "command 1019",
                        "sleep 200", "command 1003", "window About", "sleep 300",
                        "text 102 103 104 105 106 112 1015 1016 1017 1018 1024 109 1025 110",
                        "shot " + win_path(path("about.bmp")), "command 1", "main", "sleep 300",
                        "command 2", "wait-exit"});
  EXPECT_TRUE(boxes(t).empty());
  for (const char* line :
       {"text 102: Q.T.R.", "text 103: TR-MV730", "text 104: 1.23", "text 105: 2.01",
        "text 106: ", "text 112: ", "text 1015: Mecha-Control Unit Version :",
        "text 1016: Imprinter Unit Version :", "text 1017: ", "text 1018: ",
        "text 1024: Serial port ID :", "text 109: COM1", "text 1025: ", "text 110: "}) {
    EXPECT_TRUE(contains(t, line)) << line;
  }
  keep_shot("about.bmp", "aboutbox-serial.png");
}

// The rows of the fault matrix that the dialog program reaches (docs/fault-matrix.md).
class GuiFaults : public GuiSerial {
 protected:
  // Opens `file` from the command line, expects `box` (none if empty) and the state, then opens
  // a good file in the same program: it is still usable.
  void open_then_good(const std::string& file, const std::string& box, const std::string& state) {
    generate("good.mot", {"--model", "5"});
    const auto t =
        drive({"start " + exe() + " " + file, "wait-window", "wait-text 1007 Completed.|Failed.",
               "text 1007", "enabled 1002", "command 1000",
               "open-file " + win_path(path("good.mot")), "wait-text 1008 good.mot",
               "wait-text 1007 Completed.", "enabled 1002", "command 2", "wait-exit"},
              {{"FWLOAD_EMULATE", "hvs3600"}});
    EXPECT_EQ(boxes(t), box.empty() ? std::vector<std::string>{} : std::vector<std::string>{box})
        << file;
    // A good file's status line goes on with its summary.
    EXPECT_TRUE(std::any_of(t.begin(), t.end(), [&](const std::string& line) {
      return line.rfind("text 1007: " + state, 0) == 0;
    })) << file;
    // Trans File follows the refused or accepted file, then the good file enables it.
    std::vector<std::string> transfer;
    for (const auto& line : t) {
      if (line.rfind("enabled 1002: ", 0) == 0) transfer.push_back(line);
    }
    EXPECT_EQ(transfer, (std::vector<std::string>{
                            std::string("enabled 1002: ") + (state == "Failed." ? "0" : "1"),
                            "enabled 1002: 1"}))
        << file;
    EXPECT_TRUE(contains(t, "exit: 1")) << file;
  }
};

TEST_F(GuiFaults, BadFilesAreRefusedAndTheProgramGoesOn) {
  write_file(path("empty.mot").string(), "");
  open_then_good(win_path(path("empty.mot")), "LineRead Error: First Char is not 'S'!", "Failed.");
  write_file(path("garbage.sum").string(), std::string(5000, '\x9C'));
  open_then_good(win_path(path("garbage.sum")), "LineRead Error: First Char is not 'S'!",
                 "Failed.");
  generate("long.mot", {"--model", "5"});
  std::string text = read_file(path("long.mot").string());
  text.insert(text.find("\r\n") + 2, "S2" + std::string(100000, 'A') + "\r\n");
  write_file(path("long.mot").string(), text);
  open_then_good(win_path(path("long.mot")), "LineRead Error: Length Code is bad value!",
                 "Failed.");
  generate("s5.mot", {"--model", "5", "--bad-line", "s5"});
  open_then_good(win_path(path("s5.mot")), "LineRead Error: Address Type Code is bad value!",
                 "Failed.");
  generate("beyond.mot", {"--model", "5", "--type", "3", "--beyond", "--non-hex"});
  open_then_good(win_path(path("beyond.mot")), "", "Completed.");
  generate("fw.hex", {"--model", "5"});
  open_then_good(win_path(path("fw.hex")), "File_Open Error: File Attribute is not .mot or .sum!!",
                 "Failed.");
  ASSERT_EQ(mkfifo(path("pipe.mot").c_str(), 0600), 0);
  open_then_good(win_path(path("pipe.mot")), "File_Open Error: File Open failed!!", "Failed.");
  // The program keeps 256 characters of its command line: a longer path loses its extension.
  std::string long_dir = path("").string();
  while (long_dir.size() < 220) long_dir += std::string(40, 'd') + "/";
  fs::create_directories(long_dir);
  const std::string long_file = long_dir + std::string(300 - long_dir.size() - 4, 'f') + ".mot";
  fs::copy_file(path("good.mot"), long_file);
  open_then_good(win_path(long_file), "File_Open Error: File Attribute is not .mot or .sum!!",
                 "Failed.");
}

TEST_F(GuiFaults, HundredMegabyteFileOpens) {
  generate("base.mot", {"--model", "5", "--no-terminator"});
  const std::string body = read_file(path("base.mot").string());
  {
    std::ofstream out(path("big.mot"), std::ios::binary);
    for (std::size_t written = 0; written < 100u * 1000 * 1000; written += body.size()) out << body;
    out << "S804000000FB\r\n";
  }
  const auto begin = std::chrono::steady_clock::now();
  open_then_good(win_path(path("big.mot")), "", "Completed.");
  EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(90));
  fs::remove(path("big.mot"));
}

TEST_F(GuiFaults, WriteFileThatCannotBeWrittenAndOverlongSettings) {
  write_file(ini_path(), "[Option]\nTemp=" + std::string(20000, 't') +
                             "\n[Open File]\nDirectory=" + std::string(20000, 'd') +
                             "\nFile Name=" + std::string(20000, 'n') + "\n");
  generate("a.mot", {"--model", "6"});
  fs::create_directories(path("out"));
  const auto t = drive(
      {"start " + exe() + " " + win_path(path("a.mot")), "wait-window", "wait-text 1007 Completed.",
       "command 1001", "open-file Z:\\proc\\fwload-out.sum", "wait-text 1007 Failed.",
       "enabled 1001 1002", "command 1001", "open-file " + win_path(path("out/a.sum")),
       "wait-text 1007 Completed.", "command 2", "wait-exit"});
  EXPECT_EQ(boxes(t), std::vector<std::string>{"File_Write Error: File write failed!!"});
  EXPECT_TRUE(contains(t, "enabled 1001: 1"));
  EXPECT_TRUE(fs::exists(path("out/a.sum")));
  EXPECT_NE(ini().find("File Name=a.mot"), std::string::npos);
}

TEST_F(GuiFaults, ScannerResetMidDownloadStillCompletes) {
  generate("a.mot", {"--model", "5"});
  const auto t = drive({"start " + exe() + " /T " + win_path(path("a.mot")), "wait-window",
                        "wait-text 109 Trans File", "wait-text 1007 Completed.|Failed.",
                        "text 1007", "command 2", "wait-exit"},
                       {{"FWLOAD_EMULATE", "hvs3600:reset=6"},
                        {"FWLOAD_EMULATOR_LOG", win_path(path("scanner.log"))}});
  EXPECT_TRUE(boxes(t).empty());
  EXPECT_TRUE(contains(t, "text 1007: Completed."));
  const std::string log = read_file(path("scanner.log").string());
  EXPECT_NE(log.find("RESET"), std::string::npos);
  EXPECT_NE(log.find("UNIT ATTENTION"), std::string::npos);
}

TEST_F(GuiFaults, EverySerialLineFault) {
  generate("four.mot", {"--model", "4"});
  struct Row {
    std::string faults;
    std::string box;  // none when empty
  };
  const std::vector<Row> rows = {
      {"nak=0", "Serial Communication Error: Sending Start code failed !"},
      {"nak=200", "Serial Communication Error: Sending Intermediate code failed !"},
      {"nak=513", "Serial Communication Error: Sending End code failed !"},
      {"error=9", "Serial Communication Error: Sending Intermediate code failed !"},
      {"nostx", "Serial Communication Error: No Scanner !"},
      {"biglen", "Serial Communication Error: No Scanner !"},
      {"reset=100", "Serial Communication Error: Sending Intermediate code failed !"},
      {"busy=30,writing=30", ""},
  };
  for (const Row& row : rows) {
    start({"--fault", row.faults});
    const auto t = serial_transfer("four.mot");
    EXPECT_EQ(boxes(t),
              row.box.empty() ? std::vector<std::string>{} : std::vector<std::string>{row.box})
        << row.faults;
    EXPECT_TRUE(contains(t, row.box.empty() ? "text 1007: Completed." : "text 1007: Failed."))
        << row.faults;
  }
}

TEST_F(GuiFaults, SerialLineVanishesMidDownload) {
  start({"--pace"});
  generate("four.mot", {"--model", "4"});
  std::thread killer([this] {
    std::this_thread::sleep_for(std::chrono::seconds(4));
    scanner->stop();
  });
  auto t = serial_transfer("four.mot");
  killer.join();
  EXPECT_EQ(boxes(t), std::vector<std::string>{
                          "Serial Communication Error: Sending Intermediate code failed !"});
  EXPECT_TRUE(contains(t, "text 1007: Failed."));
  start();
  t = serial_transfer("four.mot");
  EXPECT_TRUE(boxes(t).empty());
  EXPECT_TRUE(contains(t, "text 1007: Completed."));
}

TEST_F(Gui, AllFourTemplatesRender) {
  std::vector<std::string> script;
  for (const char* name : {"MAINBOX", "ABOUTBOX", "TESTBOX-NoSerial", "TESTBOX-Serial"}) {
    script.push_back("render " + exe() + " " + name + " " +
                     win_path(path(std::string(name) + ".bmp")));
  }
  const auto t = drive(script);
  for (const char* name : {"MAINBOX", "ABOUTBOX", "TESTBOX-NoSerial", "TESTBOX-Serial"}) {
    EXPECT_TRUE(contains(t, "shot: " + win_path(path(std::string(name) + ".bmp")))) << name;
    std::string png = std::string(name) + ".png";
    for (char& c : png) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    keep_shot(std::string(name) + ".bmp", "template-" + png);
  }
}

}  // namespace
}  // namespace fwload::e2e
