// The Command dialog's logic: regional defaults and the serial number.
#pragma once

#include "app/main_window.h"
#include "scsi/scsi_state.h"

namespace fwload {

class CommandDialog {
 public:
  // `serial_template`: the dialog is TESTBOX-Serial (scanner model class 3 or 4).
  CommandDialog(DialogControls& dialog, ScsiState& scsi, ScsiIo& io, bool serial_template)
      : dialog_(dialog), scsi_(scsi), io_(io), serial_template_(serial_template) {}

  // WM_INITDIALOG: ends the dialog itself when the scanner is gone or not ready.
  void on_init();
  // WM_COMMAND; true when handled.
  bool on_command(int id);

 private:
  // Runs a scanner operation with the buttons held disabled; a close that arrives meanwhile
  // is carried out when it has ended.
  template <class Operation>
  void hold(Operation operation);
  void close();
  void set_default(int id);
  void write_serial_number();
  void show_last_sense();

  DialogControls& dialog_;
  ScsiState& scsi_;
  ScsiIo& io_;
  bool serial_template_;
  bool busy_ = false;
  bool close_held_ = false;
};

}  // namespace fwload
