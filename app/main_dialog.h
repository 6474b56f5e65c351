// The main window's logic: initialisation, the commands, the enable rules around every
// operation and the unattended open from the command line.
#pragma once

#include "app/app_state.h"
#include "app/main_window.h"
#include "app/transport.h"
#include "firmware/firmware_state.h"
#include "platform/filesystem.h"
#include "platform/profile.h"

namespace fwload {

class MainDialog {
 public:
  MainDialog(AppState& app, FirmwareState& firmware, MainWindow& window, Profile& profile,
             FileSystem& fs, Transport& transport);

  // WM_INITDIALOG; returns 1 (the system sets the focus).
  int on_init();
  // WM_PAINT: the first paint arms the unattended open.
  void on_paint();
  // WM_COMMAND; returns true when the command was handled.
  bool on_command(int id);
  // Any message other than initialisation, command and paint.
  void on_other_message();

 private:
  void busy();
  void enable_mode_and_imprinter_controls();
  void reenable();
  void open_file();
  void write_file();
  void transfer();
  void command_dialog();
  void radio(int clicked, int other);
  void option_switch();
  void cancel();

  AppState& app_;
  FirmwareState& fw_;
  MainWindow& window_;
  Profile& profile_;
  FileSystem& fs_;
  Transport& transport_;
  bool discovering_ = false;  // the discovery before the Command dialog runs
  bool close_held_ = false;   // a close that arrived during it
};

}  // namespace fwload
