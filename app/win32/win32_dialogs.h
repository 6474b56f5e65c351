// The dialogs on real Win32 windows. Thin: every rule lives in the portable logic; these
// classes only move texts, states and messages between it and the windows.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "app/app_state.h"
#include "app/device_transport.h"
#include "app/main_dialog.h"
#include "app/main_window.h"
#include "app/transport.h"
#include "firmware/firmware_state.h"
#include "platform/aspi.h"
#include "platform/filesystem.h"
#include "platform/profile.h"
#include "platform/serial_device.h"

namespace fwload::win32 {

// The controls of one dialog window.
class Win32Controls : public virtual DialogControls {
 public:
  explicit Win32Controls(HINSTANCE instance) : instance_(instance) {}
  void attach(HWND dialog) { dialog_ = dialog; }
  HWND handle() const { return dialog_; }

  void set_text(int id, std::string_view text) override;
  std::string text(int id, std::size_t max) override;
  void enable(int id, bool enable) override;
  bool is_enabled(int id) override;
  bool is_checked(int id) override;
  void set_checked(int id, bool checked) override;
  std::string load_string(int id, std::size_t max) override;
  void end_dialog(int result) override;

 protected:
  HINSTANCE instance_;
  HWND dialog_ = nullptr;
};

// Everything the running program is made of, in one place for the dialog procedures.
class Program;

class Win32MainWindow : public MainWindow, public Win32Controls {
 public:
  Win32MainWindow(HINSTANCE instance, Program& program)
      : Win32Controls(instance), program_(program) {}

  void message_box(std::string_view caption, std::string_view text, bool task_modal) override;
  void progress(int percent) override;
  void pump_one() override;
  void idle(int ms) override;
  void wait_cursor() override;
  void arrow_cursor() override;
  FileDialogResult file_dialog(const FileDialogRequest& request) override;
  void add_list_item(int id, std::string_view text) override;
  void select_list_item(int id, int index) override;
  int list_selection(int id) override;
  std::string list_text(int id, int index) override;
  void post_command(int id) override;
  void run_about_dialog() override;
  void run_command_dialog(bool serial_template) override;

 private:
  static constexpr DWORD kPumpIntervalMs = 10;
  Program& program_;
  DWORD last_pump_ = 0;
  bool cursor_is_wait_ = false;
};

class Program {
 public:
  explicit Program(HINSTANCE instance);
  // Runs the program with the command-line text; returns the exit code.
  int run(std::string_view command_line);

  HINSTANCE instance;
  AppState app;
  FirmwareState firmware;
  std::unique_ptr<Profile> profile;
  std::unique_ptr<FileSystem> fs;
  std::unique_ptr<AspiLoader> aspi;
  std::unique_ptr<SerialDevices> serial;
  Win32MainWindow window;
  std::unique_ptr<DeviceTransport> transport;
  MainDialog dialog;
};

}  // namespace fwload::win32
