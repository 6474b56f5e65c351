// Runs a program and collects its exit status and output, for the end-to-end tests.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace fwload::e2e {

struct RunResult {
  int exit_code = -1;  // -1: did not start or was killed
  std::string out;
  std::string err;
};

// A signal sent to the program once its standard error holds `when` ("" at once) and, from
// then, `after_ms` have passed.
struct SignalAt {
  std::string when;  // sent `after_ms` after this text first shows on standard error
  int after_ms = 0;
  int signal = 2;          // SIGINT
  bool on_stdout = false;  // the text is looked for on standard output instead
};

// Runs `argv` with the current environment plus `env` (a value of "\x01" removes the
// variable), feeding nothing on standard input, sending `signals`. Kills it after
// `timeout_ms`.
RunResult run(const std::vector<std::string>& argv,
              const std::map<std::string, std::string>& env = {}, int timeout_ms = 60000,
              std::vector<SignalAt> signals = {});

// A program running beside the test (an emulated scanner), ended when this object ends.
class Background {
 public:
  explicit Background(const std::vector<std::string>& argv);
  ~Background();
  Background(const Background&) = delete;
  Background& operator=(const Background&) = delete;
  // Waits until `path` exists (at most `timeout_ms`); false if it never appears.
  bool wait_for_file(const std::string& path, int timeout_ms = 10000) const;
  // Ends the program (SIGTERM, then SIGKILL) and returns its exit status.
  int stop();

 private:
  int pid_ = -1;
};

std::string read_file(const std::string& path);
void write_file(const std::string& path, const std::string& text);

}  // namespace fwload::e2e
