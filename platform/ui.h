// What an operation needs from the window it runs under.
//
// The core (firmware/, scsi/, serial/) never draws or asks anything itself: it calls this
// interface. app/ implements it on the real dialog, cli/ on the console, tests with a recorder.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace fwload {

// One entry of a file dialog's filter list: the text shown and the pattern ("*.sum").
struct FileFilter {
  std::string description;
  std::string pattern;
};

struct FileDialogRequest {
  enum class Kind { Open, Save };
  Kind kind = Kind::Open;
  std::string initial_dir;  // empty: the platform's default folder
  std::string file_name;    // name proposed in the dialog (at most 255 characters)
  std::vector<FileFilter> filters;
  // Open dialogs require that the path and the file exist; save dialogs ask before they
  // overwrite a file. Both use path buffers of 256 characters.
};

struct FileDialogResult {
  enum class Outcome { Chosen, Cancelled, Failed };
  Outcome outcome = Outcome::Cancelled;
  std::string path;  // set when Chosen
};

class Ui {
 public:
  virtual ~Ui() = default;

  // A modal message box with the warning icon and an OK button, owned by the main window.
  virtual void message_box(std::string_view caption, std::string_view text,
                           bool task_modal = false) = 0;
  // Paints the progress bar at `percent` (0..100).
  virtual void progress(int percent) = 0;
  // Shows the name of the file being opened (the dialog's file name field).
  virtual void show_file_name(std::string_view name) = 0;
  // The scanner is saving its firmware: `seconds_left` of the expected time remain.
  virtual void writing_countdown(int seconds_left) = 0;
  // Serves at most one pending window message.
  virtual void pump_one() = 0;
  // Waits at most `ms` milliseconds for a window message without using the processor, serves
  // at most one, and keeps the wait cursor. Used while a request to a device is outstanding.
  virtual void idle(int ms) = 0;
  virtual void wait_cursor() = 0;
  // Puts back the standard arrow after a long operation.
  virtual void arrow_cursor() = 0;
  virtual FileDialogResult file_dialog(const FileDialogRequest& request) = 0;
  // Whether the user has asked the running operation to stop (Ctrl-C on a console; a dialog
  // never does). A download asks before each request or frame it may still leave out, and
  // never while the scanner saves.
  virtual bool stop_requested() { return false; }
  // The scanner has been told to save what it received (true), and has done so or failed
  // (false): meanwhile nothing stops the operation.
  virtual void scanner_saving(bool saving) { static_cast<void>(saving); }
  // Whether the user has interrupted the operation (Ctrl-C on a console; a dialog never is),
  // asked wherever the tool waits: a search stops, a pending request is given up at once, a
  // serial poll ends, and the failures that follow are not reported. Never while the scanner
  // saves.
  virtual bool interrupted() { return false; }
};

// Reports progress to a Ui only when the percentage changes, so long loops can report after
// every step without repainting the bar thousands of times.
class ProgressMeter {
 public:
  explicit ProgressMeter(Ui& ui) : ui_(ui) {}
  void report(int percent) {
    if (percent != last_) {
      last_ = percent;
      ui_.progress(percent);
    }
  }

 private:
  Ui& ui_;
  int last_ = -1;
};

// Restores the arrow cursor when a long operation leaves its scope, on every path.
class ArrowOnExit {
 public:
  explicit ArrowOnExit(Ui& ui) : ui_(ui) {}
  ~ArrowOnExit() { ui_.arrow_cursor(); }
  ArrowOnExit(const ArrowOnExit&) = delete;
  ArrowOnExit& operator=(const ArrowOnExit&) = delete;

 private:
  Ui& ui_;
};

}  // namespace fwload
