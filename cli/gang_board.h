// The progress of several transfers at once on standard error: on a terminal one line per job,
// redrawn in place (address, product, phase, percentage); elsewhere one line per job and phase
// change, each starting with the job's address. Each job's console reports to it.
#pragma once

#include <cstdio>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "cli/console_ui.h"

namespace fwload {

class GangBoard {
 public:
  GangBoard(std::FILE* err, bool terminal) : err_(err), terminal_(terminal) {}
  // A job's line, before the jobs start; returns its number.
  std::size_t add(std::string label);
  void set_label(std::size_t job, std::string label, std::string product);
  void phase(std::size_t job, std::string phase);
  void progress(std::size_t job, int percent);
  void saving(std::size_t job, int seconds_left);
  // A line about one job, or about all of them (told once), above the board.
  void message(std::size_t job, const std::string& text);
  void warning_once(const std::string& text);
  // Leaves the board as it stands, the cursor below it.
  void finish();

 private:
  struct Row {
    std::string label, product, phase;
    int percent = -1;
  };
  void draw_locked();
  void erase_locked();
  void line_locked(const std::string& text);

  std::mutex mutex_;
  std::FILE* err_;
  bool terminal_;
  std::vector<Row> rows_;
  std::set<std::string> warned_;
  int drawn_ = 0;  // lines of the board on the terminal now
};

// The console of one job of several: its messages, progress and countdown go to the board.
class JobUi : public ConsoleUi {
 public:
  JobUi(GangBoard& board, std::size_t job, std::FILE* err)
      : ConsoleUi(err, false), board_(board), job_(job) {}
  void message_box(std::string_view caption, std::string_view text, bool task_modal) override;
  void progress(int percent) override { board_.progress(job_, percent); }
  void writing_countdown(int seconds_left) override { board_.saving(job_, seconds_left); }
  void set_phase(const std::string& phase) override { board_.phase(job_, phase); }
  void set_scanner(const std::string& address, const std::string& product) override {
    board_.set_label(job_, address, product);
  }

 protected:
  void saving_warning(const std::string& text) override { board_.warning_once(text); }

 private:
  GangBoard& board_;
  std::size_t job_;
};

}  // namespace fwload
