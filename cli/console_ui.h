// The Ui of the command-line tool: message boxes become "Caption: Text" lines on standard
// error, progress a bar on standard error when it is a terminal. There are no file dialogs:
// the save dialog answers with the output path given on the command line.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>

#include "core/timer_state.h"
#include "platform/ui.h"

namespace fwload {

class ConsoleUi : public Ui {
 public:
  ConsoleUi(std::FILE* err, bool draw_progress) : err_(err), draw_progress_(draw_progress) {}
  ~ConsoleUi() override { end_progress_line(); }

  // Label in front of the progress bar for the steps that follow.
  void set_activity(std::string label) { activity_ = std::move(label); }
  // Path the save dialog answers with.
  void set_save_path(std::string path) { save_path_ = std::move(path); }
  // The countdowns the one-second tick serves; the console has no timer of its own, so the
  // tick is driven from the pump and the idle wait.
  void set_timer(TimerState* timer) { timer_ = timer; }
  // Ends a progress line that is still open.
  void end_progress_line();
  // The count of Ctrl-C the console received (catch_interrupts). Before the scanner saves,
  // the first one stops the operation; while it saves, the first one is answered with a
  // warning and the second ends the program at once with exit status 130. After it has saved,
  // only a new one stops what follows (the version read).
  void set_interrupts(const std::atomic<int>* interrupts) { interrupts_ = interrupts; }
  // While held, a Ctrl-C stops nothing: a change already sent to the scanner is seen through,
  // and the interrupt is heard when the hold ends.
  void hold_interrupts(bool hold) { held_ = hold; }
  // Whether an operation was stopped on the user's request.
  bool stopped() const { return stopped_; }
  // The last message shown, as "Caption: Text" ("" when none).
  const std::string& last_message() const { return last_message_; }
  // What the operation does now ("ready check", "sending", ...), for a console that shows it.
  virtual void set_phase(const std::string& phase) { static_cast<void>(phase); }
  // The scanner the operation found (its address or port, and its product).
  virtual void set_scanner(const std::string& address, const std::string& product) {
    static_cast<void>(address);
    static_cast<void>(product);
  }

  void message_box(std::string_view caption, std::string_view text, bool task_modal) override;
  void progress(int percent) override;
  void show_file_name(std::string_view) override {}
  void writing_countdown(int seconds_left) override;
  void pump_one() override { tick(); }
  void idle(int ms) override;
  void wait_cursor() override {}
  void arrow_cursor() override {}
  FileDialogResult file_dialog(const FileDialogRequest& request) override;
  bool stop_requested() override;
  bool interrupted() override { return stop_requested(); }
  void scanner_saving(bool saving) override;

 protected:
  void remember_message(std::string_view caption, std::string_view text) {
    last_message_ = std::string(caption) + ": " + std::string(text);
  }
  // The warning of the first Ctrl-C while the scanner saves.
  virtual void saving_warning(const std::string& text);

 private:
  void tick();
  void interrupts_while_saving();

  std::FILE* err_;
  bool draw_progress_;
  bool line_open_ = false;
  std::string activity_;
  std::string save_path_;
  TimerState* timer_ = nullptr;
  std::chrono::steady_clock::time_point next_tick_ = std::chrono::steady_clock::now();
  int last_countdown_printed_ = -1;
  const std::atomic<int>* interrupts_ = nullptr;
  bool saving_ = false;
  bool held_ = false;
  int heard_before_ = 0;  // interrupts counted before the scanner had saved
  bool stopped_ = false;
  bool warned_ = false;
  std::string last_message_;
};

}  // namespace fwload
