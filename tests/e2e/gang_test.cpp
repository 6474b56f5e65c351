// A service depot's bench: several scanners loaded at once, each transfer verified and recorded
// in the history. (scripts/test runs these under ThreadSanitizer too: Gang*.)
#include <gtest/gtest.h>

#include <csignal>
#include <ctime>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "cli/json.h"
#include "tests/e2e/cli_fixture.h"

namespace fwload::e2e {
namespace {

// The history's lines; without `started`, only the outcome records.
std::vector<Json> records(const std::string& file, bool started = false) {
  std::vector<Json> out;
  std::istringstream lines(read_file(file));
  for (std::string line; std::getline(lines, line);) {
    Json record = Json::parse(line);
    if (started || record["result"] != "started") out.push_back(std::move(record));
  }
  return out;
}

// The time now as the C library writes it in UTC, ISO 8601: a peer for the records' time.
std::string utc_now() {
  const std::time_t now = std::time(nullptr);
  char text[32] = {};
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", std::gmtime(&now));
  return text;
}

const std::set<std::string> kRecordKeys = {"id",
                                           "time",
                                           "host",
                                           "user",
                                           "program_version",
                                           "route",
                                           "address",
                                           "vendor",
                                           "product",
                                           "serial_number",
                                           "versions_before",
                                           "versions_after",
                                           "file",
                                           "file_sha256",
                                           "file_scanner_name",
                                           "file_unit_name",
                                           "file_version",
                                           "sum_value",
                                           "result",
                                           "message",
                                           "seconds"};

// The address space fwload-cli history is given in the test of a long line: twice what a short
// history takes, and less than the program plus the line.
constexpr long kHistoryAddressSpace = 32L << 20;

class Gang : public Cli {
 protected:
  // Two HV Scanner 3600 and a 2600 on one emulated bus.
  std::vector<std::string> bench(const std::string& first = "hvs3600",
                                 const std::string& second = "hvs3600") {
    auto at = [](const std::string& spec, const char* address) {
      return spec + (spec.find(':') == std::string::npos ? ":" : ",") + address;
    };
    return {"--emulate", at(first, "adapter=0,target=3"),
            "--emulate", at(second, "adapter=1,target=4"),
            "--emulate", "hvs2600:adapter=1,target=5"};
  }
  RunResult transfer(std::vector<std::string> args, std::vector<SignalAt> signals = {},
                     std::map<std::string, std::string> extra = {}) {
    args.insert(args.begin(), {kCli, "transfer", path("new.mot"), "--log", path("history.jsonl")});
    auto e = env();
    e.insert(extra.begin(), extra.end());
    e["FWLOAD_EMULATOR_LOG"] = path("emulator.log");
    fs::remove(path("emulator.log"));
    fs::remove(path("history.jsonl"));
    return run(args, e, 60000, signals);
  }
};

TEST_F(Gang, AllTargetsAndStaleVersions) {
  generate("new.mot", {"--model", "5", "--version", "1.10"});
  // --all: both 3600 take it and report it; the 2600 is skipped, which is no failure.
  std::vector<std::string> args = bench();
  args.push_back("--all");
  RunResult r = transfer(args);
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_NE(
      r.out.find("0:3           HV Scanner 3600   SN-00012345       1.00 -> 1.10    verified"),
      std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("1:4           HV Scanner 3600"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("1:5           HV Scanner 2600   -                 -               skipped: "
                       "DownLoad Message: This file cannot use with the current scanner !"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.err.find("0:3 sending\n"), std::string::npos) << r.err;  // a line per phase
  EXPECT_EQ(records(path("history.jsonl")).size(), 2u);

  // --target on a 3600 and the 2600: one verified, one refused with nothing sent to it.
  args = bench();
  args.insert(args.end(), {"--target", "0:3", "--target", "1:5", "--target", "0:3", "--json"});
  const std::string started = utc_now();
  r = transfer(args);
  const std::string ended = utc_now();
  EXPECT_EQ(r.exit_code, 1) << r.err;
  const Json summary = Json::parse(r.out);
  ASSERT_EQ(summary["jobs"].size(), 2u) << r.out;
  EXPECT_EQ(summary["jobs"][0]["result"], "verified");
  EXPECT_EQ(summary["jobs"][1]["result"], "refused");
  EXPECT_EQ(read_file(path("emulator.log")).find("1:5 WRITE BUFFER"), std::string::npos);
  const std::vector<Json> lines = records(path("history.jsonl"));
  ASSERT_EQ(lines.size(), 2u);
  for (const Json& record : lines) {
    std::set<std::string> keys;
    for (auto it = record.begin(); it != record.end(); ++it) keys.insert(it.key());
    EXPECT_EQ(keys, kRecordKeys) << record.dump();
    EXPECT_EQ(record["file"], path("new.mot"));
    EXPECT_EQ(record["file_version"], "1.10");
    // ISO 8601 strings in UTC sort as the times they name.
    const std::string time = record["time"].get<std::string>();
    EXPECT_TRUE(started <= time && time <= ended) << started << " " << time << " " << ended;
  }
  // The verified transfer was on record before its first block, with the same id; the
  // refused one, which sent nothing, has its outcome record only.
  const std::vector<Json> all = records(path("history.jsonl"), true);
  ASSERT_EQ(all.size(), 3u);
  const Json& verified = lines[0]["result"] == "verified" ? lines[0] : lines[1];
  const auto first =
      std::find_if(all.begin(), all.end(), [](const Json& j) { return j["result"] == "started"; });
  ASSERT_NE(first, all.end());
  EXPECT_EQ((*first)["id"], verified["id"]);
  EXPECT_NE(lines[0]["id"], lines[1]["id"]);
  const Json& refused = lines[0]["result"] == "refused" ? lines[0] : lines[1];
  EXPECT_EQ(refused["message"],
            "DownLoad Message: This file cannot use with the current scanner !");
  EXPECT_EQ(refused["serial_number"], "SN-00012345");
  EXPECT_EQ(refused["versions_after"], Json::object());

  // A scanner that keeps reporting its old version until it is switched off and on.
  r = transfer({"--emulate", "hvs3600:staleversion"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_NE(r.out.find("Transferred, not verified: the scanner reports Mecha-Control Unit "
                       "Version 1.00, not the file's 1.10; a scanner may need switching off"),
            std::string::npos)
      << r.out;
  EXPECT_EQ(records(path("history.jsonl")).at(0)["result"], "transferred");
  EXPECT_EQ(transfer({"--emulate", "hvs3600:staleversion", "--verify"}).exit_code, 1);
}

// "Verified" comes only from the scanner that was loaded, read with the reply layout it had
// before the transfer.
TEST_F(Gang, VerifiedOnlyByTheScannerThatWasLoaded) {
  generate("new.mot", {"--model", "5", "--version", "1.10"});
  const std::map<std::string, std::string> bound = {{"FWLOAD_REQUEST_BOUND_MS", "500"}};
  // The search passes over a 2600 whose INQUIRY hangs and loads the 3600 behind it, which
  // keeps reporting its old version; the 2600 reports 1.10 but is not the one loaded.
  RunResult r = transfer({"--verify", "--emulate", "hvs2600:target=2,hang=inquiry", "--emulate",
                          "hvs3600:target=3,staleversion"},
                         {}, bound);
  EXPECT_EQ(r.exit_code, 1) << r.out << r.err;
  EXPECT_NE(r.out.find("to HV Scanner 3600 (target #3)"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Transferred, not verified: the scanner reports Mecha-Control Unit "
                       "Version 1.00, not the file's 1.10"),
            std::string::npos)
      << r.out;
  std::string log = read_file(path("emulator.log"));
  EXPECT_EQ(log.find("0:2 READ VERSIONS", log.find("0:3 COMMIT")), std::string::npos) << log;
  // The loaded scanner stops answering after its commit (as one that restarts would); the
  // other scanner on the bus already runs 1.10.
  r = transfer({"--verify", "--emulate", "hvs3600:target=3,gone=commit", "--emulate",
                "hvs3600:target=4,mecha=1.10,sn=SN-4"},
               {}, bound);
  EXPECT_EQ(r.exit_code, 1) << r.out << r.err;
  EXPECT_NE(r.out.find("Transferred, not verified: the scanner at 0:3 did not report its "
                       "versions after the transfer."),
            std::string::npos)
      << r.out;
  EXPECT_EQ(records(path("history.jsonl")).at(0)["result"], "transferred");

  // A version read that fails once after the commit: the reply is read again with the
  // 24-byte layout it had before, not taken with the 20-byte one (whose imprinter field holds
  // the post-imprinter's 2.00, this file's version).
  generate("new.mot", {"--model", "6", "--version", "2.00"});
  r = transfer({"--emulate", "hvs3600:staleversion,failread=24@2"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_NE(r.out.find("Transferred, not verified: the scanner reports Pre-Imprinter Unit "
                       "Version 2.10, not the file's 2.00"),
            std::string::npos)
      << r.out;
  log = read_file(path("emulator.log"));
  EXPECT_NE(log.find("READ VERSIONS 24 FAILS"), std::string::npos) << log;
  // Once more a layout it never had: not verified, whatever the other layout shows.
  r = transfer({"--emulate", "hvs3600:staleversion,failread=24@2,failread=24@3"});
  EXPECT_NE(r.out.find("Transferred, not verified: the scanner at 0:3 did not give the 24-byte "
                       "version reply it gave before the transfer."),
            std::string::npos)
      << r.out;
  // The version it took, read again after one failed read.
  generate("new.mot", {"--model", "6", "--version", "2.50"});
  r = transfer({"--verify", "--json", "--emulate", "hvs3600:failread=24@2"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  // One job with --json: its document alone on standard output.
  const Json one = Json::parse(r.out, nullptr, false);
  ASSERT_FALSE(one.is_discarded()) << r.out;
  EXPECT_EQ(one["jobs"][0]["result"], "verified");
  EXPECT_EQ(one["jobs"][0]["version_after"], "2.50");
}

// A scanner whose read hangs holds up no other: the healthy job ends while the hung one waits
// out its bound.
TEST_F(Gang, AHungScannerHoldsUpNoOther) {
  generate("new.mot", {"--model", "5", "--version", "1.10"});
  const RunResult r = transfer({"--all", "--json", "--emulate", "hvs3600:target=3", "--emulate",
                                "hvs3600:adapter=1,target=4,hang=read"},
                               {}, {{"FWLOAD_REQUEST_BOUND_MS", "2000"}});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  const Json summary = Json::parse(r.out);
  ASSERT_EQ(summary["jobs"].size(), 2u) << r.out;
  for (const Json& job : summary["jobs"]) {
    EXPECT_EQ(job["result"], "verified") << job.dump();
    if (job["address"] == "1:4") {
      EXPECT_GE(job["seconds"].get<double>(), 2.0) << job.dump();
    } else {
      EXPECT_LT(job["seconds"].get<double>(), 1.5) << job.dump();
    }
  }
  const std::string log = read_file(path("emulator.log"));
  EXPECT_NE(log.find("1:4 READ HANGS"), std::string::npos) << log;
  EXPECT_EQ(log.find("0:3 LATE ANSWER"), std::string::npos) << log;

  // --all that loads nothing is a failure, said in one line.
  const RunResult none =
      transfer({"--all", "--emulate", "hvs2600:target=3", "--emulate", "hvs2600:target=4"});
  EXPECT_EQ(none.exit_code, 1) << none.out;
  EXPECT_NE(none.err.find("fwload-cli: --all: no scanner took"), std::string::npos) << none.err;
}

// Ctrl-C while one scanner saves and another is still being sent to: the one sending stops and
// keeps its old firmware, the one saving finishes; exit 130.
TEST_F(Gang, CtrlCStopsTheSendersAndLetsTheSaversFinish) {
  generate("new.mot", {"--model", "5", "--version", "1.10"});
  std::vector<std::string> args = bench("hvs3600:commit-ms=2000", "hvs3600:latency=100");
  args.insert(args.end(), {"--target", "0:3", "--target", "1:4"});
  const RunResult r = transfer(args, {{"0:3 saving", 0, SIGINT}});
  EXPECT_EQ(r.exit_code, 130) << r.err;
  EXPECT_NE(r.err.find("The scanner is saving its firmware; do not switch it off."),
            std::string::npos)
      << r.err;
  EXPECT_NE(
      r.out.find("0:3           HV Scanner 3600   SN-00012345       1.00 -> 1.10    verified"),
      std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("interrupted: Transfer interrupted before the scanner was told to save it"),
            std::string::npos)
      << r.out;
  const std::string log = read_file(path("emulator.log"));
  EXPECT_NE(log.find("0:3 COMMIT id=0 "), std::string::npos);
  EXPECT_EQ(log.find("1:4 COMMIT"), std::string::npos);
  EXPECT_EQ(records(path("history.jsonl")).size(), 2u);
}

// A damaged line of the history (a torn write, an edited file) is told and skipped; a line
// cut short takes nothing of the next record with it; reading holds at most one line's bound.
TEST_F(Gang, HistoryOfTheTransfers) {
  generate("new.mot", {"--model", "5", "--version", "1.10"});
  ASSERT_EQ(transfer({"--emulate", "hvs3600"}).exit_code, 0);
  const std::string log = path("history.jsonl");
  const std::string both = read_file(log);  // the "started" record and the outcome's
  const std::string line = both.substr(both.find('\n') + 1);
  // A record cut short (a full disk), with no line end; then a transfer appends its records.
  write_file(log, both + line.substr(0, line.find("serial_number") + 20));
  RunResult r =
      run({kCli, "transfer", path("new.mot"), "--log", log, "--emulate", "hvs3600"}, env());
  ASSERT_EQ(r.exit_code, 0) << r.err;
  write_file(log, read_file(log) + line.substr(0, 40));  // torn at the end
  r = run({kCli, "history", "--log", log});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.err, "fwload-cli: " + log + " line 3 is damaged; skipped\nfwload-cli: " + log +
                       " line 6 is damaged; skipped\n");
  EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 2) << r.out;
  EXPECT_NE(r.out.find(
                "HV Scanner 3600   SN-00012345       MECHA-CONTROL 1.10  1.00 -> 1.10    verified"),
            std::string::npos)
      << r.out;
  r = run(
      {kCli, "history", "--log", log, "--serial-number", "SN-00012345", "--last", "1", "--json"});
  EXPECT_EQ(Json::parse(r.out)["result"], "verified") << r.out;
  r = run({kCli, "history", "--log", log, "--serial-number", "SN-0"});
  EXPECT_EQ(r.out, "");

  // A line far beyond the bound is damaged and never held whole: 24 MB without a line end,
  // read within an address space that a short history needs but that 24 MB would overflow.
  const auto limited = [&](const std::string& file) {
    return run({"prlimit", "--as=" + std::to_string(kHistoryAddressSpace), "--", kCli, "history",
                "--log", file, "--last", "1"});
  };
  // (A sanitizer's run-time reserves terabytes of address space: no limit there.)
  if (!kSanitized) {
    ASSERT_EQ(limited(log).exit_code, 0);
    write_file(path("long.jsonl"), line + std::string(24 << 20, 'x') + "\n" + line);
    r = limited(path("long.jsonl"));
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_NE(r.err.find("line 2 is damaged; skipped"), std::string::npos) << r.err;
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1) << r.out;
  }

  // Only a history that does not exist is "none yet": a folder cannot be read.
  r = run({kCli, "history", "--log", path("")});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.err.find("Is a directory"), std::string::npos) << r.err;
  r = run({kCli, "history", "--log", path("none.jsonl")});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.err, "fwload-cli: no transfer history at " + path("none.jsonl") + " yet\n");
  // A device is written to without flushing it to a disk it does not have.
  r = run({kCli, "transfer", path("new.mot"), "--log", "/dev/null", "--emulate", "hvs3600"}, env());
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.err.find("warning"), std::string::npos) << r.err;
}

class GangSerial : public SerialCli {};

// Two serial lines at once, each with its own emulated scanner.
TEST_F(GangSerial, TwoLinesAtOnce) {
  start();
  std::filesystem::remove(path("line2"));
  Background second({kFwscanner, "--serial", path("line2"), "--log", path("scanner2.log")});
  ASSERT_TRUE(second.wait_for_file(path("line2")));
  generate("four.mot", {"--model", "4", "--version", "1.10"});
  const RunResult r = run({kCli, "transfer", path("four.mot"), "--serial", path("line"), "--serial",
                           path("line2"), "--log", path("history.jsonl")},
                          env());
  EXPECT_EQ(r.exit_code, 0) << r.err;
  for (const std::string& line : {path("line"), path("line2")}) {
    EXPECT_NE(r.out.find(line + "  TR-MV730          -                 1.23 -> 1.10    verified"),
              std::string::npos)
        << r.out;
  }
  const std::vector<Json> lines = records(path("history.jsonl"));
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0]["route"], "serial");
  EXPECT_EQ(lines[0]["serial_number"], nullptr);

  // One line by two names is one job.
  fs::remove(path("history.jsonl"));
  const std::string device = fs::canonical(path("line")).string();
  RunResult once = run({kCli, "transfer", path("four.mot"), "--serial", path("line"), "--serial",
                        device, "--log", path("history.jsonl")},
                       env());
  EXPECT_EQ(once.exit_code, 0) << once.err;
  EXPECT_EQ(records(path("history.jsonl")).size(), 1u);
  // A file for another scanner never reaches the line, and is refused before anything is
  // asked of it.
  generate("five.mot", {"--model", "5"});
  const std::string before = read_file(path("scanner2.log"));
  once = run({kCli, "transfer", path("five.mot"), "--serial", path("line2")}, env());
  EXPECT_EQ(once.exit_code, 1);
  EXPECT_EQ(once.err, "DownLoad Message: This file cannot use with the current scanner !\n");
  EXPECT_EQ(read_file(path("scanner2.log")), before);
}

// A download that sent frames is on record even when the scanner's identity could not be read
// before it.
TEST_F(GangSerial, AFailedTransferThatSentFramesIsRecorded) {
  start({"--fault", "shortid=4,error=100"});
  generate("four.mot", {"--model", "4", "--version", "1.10"});
  const RunResult r = run({kCli, "transfer", path("four.mot"), "--serial", path("line"), "--log",
                           path("history.jsonl")},
                          env());
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.err, "Serial Communication Error: Sending Intermediate code failed !\n");
  const std::vector<Json> lines = records(path("history.jsonl"));
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0]["result"], "failed");
  EXPECT_EQ(lines[0]["address"], path("line"));
}

}  // namespace
}  // namespace fwload::e2e
