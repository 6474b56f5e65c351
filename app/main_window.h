// The dialogs as the program's logic drives them. app/win32 implements these on real dialog
// windows; the tests implement them on fakes, so the rules run without Windows.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/ui.h"

namespace fwload {

// What every dialog offers its logic.
class DialogControls {
 public:
  virtual ~DialogControls() = default;
  virtual void set_text(int id, std::string_view text) = 0;
  // Text of a control, at most max - 1 characters.
  virtual std::string text(int id, std::size_t max) = 0;
  // Enables or disables a control; a missing control is ignored.
  virtual void enable(int id, bool enable) = 0;
  // Whether a control is enabled; a missing control counts as enabled.
  virtual bool is_enabled(int id) = 0;
  virtual bool is_checked(int id) = 0;
  virtual void set_checked(int id, bool checked) = 0;
  // String `id` of the program's string table, at most max - 1 characters.
  virtual std::string load_string(int id, std::size_t max) = 0;
  virtual void end_dialog(int result) = 0;
};

// The main window: its controls, the Ui the operations report through, and what it starts.
class MainWindow : public Ui, public virtual DialogControls {
 public:
  void show_file_name(std::string_view name) override;
  void writing_countdown(int seconds_left) override;
  virtual void add_list_item(int id, std::string_view text) = 0;
  virtual void select_list_item(int id, int index) = 0;
  // The selected entry of a list (-1: none) and the text of entry `index`.
  virtual int list_selection(int id) = 0;
  virtual std::string list_text(int id, int index) = 0;
  // Posts WM_COMMAND with `id` to the main window; it runs after the current handler.
  virtual void post_command(int id) = 0;
  virtual void run_about_dialog() = 0;
  virtual void run_command_dialog(bool serial_template) = 0;
};

}  // namespace fwload
