// A depot's bench brought up to date from a firmware folder: the plan, the run with every unit
// verified and recorded, the second run that finds nothing to do, and a run killed in the middle
// of a download.
#include <gtest/gtest.h>

#include <csignal>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "cli/json.h"
#include "tests/e2e/cli_fixture.h"

namespace fwload::e2e {
namespace {

class Update : public SerialCli {
 protected:
  // The folder: a file for every unit of the bench, and the SHA256SUMS sha256sum writes.
  void SetUp() override {
    SerialCli::SetUp();
    fs::create_directories(path("fw"));
    for (const auto& [name, model, version] :
         std::vector<std::tuple<std::string, std::string, std::string>>{{"m5.mot", "5", "1.10"},
                                                                        {"m6.mot", "6", "2.50"},
                                                                        {"m7.mot", "7", "1.20"},
                                                                        {"m8.mot", "8", "2.40"},
                                                                        {"m4.mot", "4", "1.30"},
                                                                        {"m3.mot", "3", "2.10"}}) {
      generate("fw/" + name, {"--model", model, "--version", version});
      fs::remove(path("fw/" + name + ".img"));
    }
    ASSERT_EQ(
        run({"sh", "-c", "cd '" + path("fw") + "' && sha256sum *.mot > SHA256SUMS"}).exit_code, 0);
  }
  // The bench: an HV Scanner 3600 with both imprinters, one with the pre-imprinter only, an HV
  // Scanner 2600, with the versions given, and the serial line.
  std::vector<std::string> bench(const std::string& extra3600 = "",
                                 const std::string& extra3600pre = "",
                                 const std::string& extra2600 = "") {
    return {"--emulate", "hvs3600:target=3,sn=SN-3" + extra3600,
            "--emulate", "hvs3600-pre:target=4,sn=SN-4" + extra3600pre,
            "--emulate", "hvs2600:adapter=1,target=5,sn=SN-5" + extra2600,
            "--all",     "--serial",
            path("line")};
  }
  RunResult update(std::vector<std::string> args, std::vector<SignalAt> signals = {}) {
    args.insert(args.begin(), {kCli, "update", path("fw"), "--log", path("history.jsonl")});
    auto e = env();
    e["FWLOAD_EMULATOR_LOG"] = path("emulator.log");
    fs::remove(path("emulator.log"));
    return run(args, e, 60000, signals);
  }
};

TEST_F(Update, MixedBench) {
  start();
  // The plan: every unit older than its file; nothing is written.
  std::vector<std::string> args = bench();
  args.push_back("--dry-run");
  RunResult r = update(args);
  EXPECT_EQ(r.exit_code, 0) << r.err;
  for (const char* row :
       {"0:3           HV Scanner 3600   SN-3              mecha-control   1.00  1.10          "
        "update",
        "0:3           HV Scanner 3600   SN-3              post-imprinter  2.00  2.50          "
        "update",
        "0:4           HV Scanner 3600   SN-4              pre-imprinter   2.10  2.50          "
        "update",
        "1:5           HV Scanner 2600   SN-5              post-imprinter  2.20  2.40          "
        "update",
        " TR-MV730          -                 imprinter       2.01  2.10          update"}) {
    EXPECT_NE(r.out.find(row), std::string::npos) << row << "\n" << r.out;
  }
  EXPECT_EQ(r.out.find("0:4           HV Scanner 3600   SN-4              post-imprinter"),
            std::string::npos);  // not fitted
  EXPECT_EQ(read_file(path("emulator.log")).find("WRITE BUFFER"), std::string::npos);
  EXPECT_EQ(read_file(path("scanner.log")).find("start"), std::string::npos);

  // The run: ten units, each verified, each on record twice (started, then its outcome).
  args = bench();
  args.push_back("--json");
  r = update(args);
  EXPECT_EQ(r.exit_code, 0) << r.err;
  const Json doc = Json::parse(r.out);
  ASSERT_EQ(doc["results"].size(), 10u) << r.out;
  for (const Json& unit : doc["results"]) EXPECT_EQ(unit["result"], "verified") << unit.dump();
  EXPECT_EQ(doc["catalogue"].size(), 6u);
  EXPECT_EQ(doc["catalogue"][0]["status"], "newest");
  std::istringstream lines(read_file(path("history.jsonl")));
  int started = 0, verified = 0;
  for (std::string line; std::getline(lines, line);) {
    const Json record = Json::parse(line);
    started += record["result"] == "started";
    verified += record["result"] == "verified";
  }
  EXPECT_EQ(started, 10);
  EXPECT_EQ(verified, 10);
  // The imprinter units went to their own buffers: pre 3, post 2.
  const std::string log = read_file(path("emulator.log"));
  EXPECT_NE(log.find("0:3 COMMIT id=3 "), std::string::npos);
  EXPECT_NE(log.find("0:3 COMMIT id=2 "), std::string::npos);
  EXPECT_EQ(log.find("0:4 COMMIT id=2 "), std::string::npos);

  // The second run, with the versions the first left: nothing to do, nothing sent.
  fs::remove(path("scanner.log"));
  start({"--mecha", "1.30", "--imprinter", "2.10"});
  r = update(bench(",mecha=1.10,pre=2.50,post=2.50", ",mecha=1.10,pre=2.50",
                   ",mecha=1.20,pre=2.40,post=2.40"));
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_NE(r.out.find("Nothing to do"), std::string::npos) << r.out;
  EXPECT_EQ(read_file(path("emulator.log")).find("WRITE BUFFER"), std::string::npos);
  EXPECT_EQ(read_file(path("scanner.log")).find("start"), std::string::npos);

  // Killed in the middle of a download: the transfer is on record as unfinished.
  r = update({"--emulate", "hvs3600:latency=50"}, {{"0:3 mecha-control: sending", 200, SIGKILL}});
  EXPECT_EQ(r.exit_code, -1);
  r = run({kCli, "history", "--log", path("history.jsonl"), "--last", "1"});
  EXPECT_NE(r.out.find("MECHA-CONTROL 1.10  -               unfinished"), std::string::npos)
      << r.out;
}

// Files the depot cannot trust or use: refused before anything is sent, and exit 1.
TEST_F(Update, RefusedFilesAndUsage) {
  // Another image with m5.mot's version, listed; a file that is not listed; a damaged one.
  generate("fw/other.mot", {"--model", "5", "--version", "1.10", "--seed", "9"});
  ASSERT_EQ(run({"sh", "-c", "cd '" + path("fw") + "' && sha256sum *.mot > SHA256SUMS"}).exit_code,
            0);
  generate("fw/late.mot", {"--model", "7", "--version", "9.00"});
  write_file(path("fw/bad.sum"), "S1030000FC\n");
  RunResult r = update({"--emulate", "hvs3600"});
  EXPECT_EQ(r.exit_code, 1) << r.err;
  for (const char* status : {"refused: not listed in SHA256SUMS", "damaged: LineRead Error: ",
                             "refused: version 1.10 as m5.mot, but another image"}) {
    EXPECT_NE(r.out.find(status), std::string::npos) << status << "\n" << r.out;
  }
  EXPECT_EQ(read_file(path("emulator.log")).find("WRITE BUFFER id=0"), std::string::npos);
  for (const std::vector<std::string>& usage :
       {std::vector<std::string>{kCli, "update"},
        std::vector<std::string>{kCli, "update", path("fw"), "--post"},
        std::vector<std::string>{kCli, "update", path("fw"), "--verify"},
        std::vector<std::string>{kCli, "transfer", path("fw/m5.mot"), "--allow-older"}}) {
    EXPECT_EQ(run(usage).exit_code, 2) << usage.back();
  }
}

}  // namespace
}  // namespace fwload::e2e
