#include "app/main_dialog.h"

#include "app/held_controls.h"
#include "app/status_display.h"
#include "firmware/open_file.h"
#include "firmware/write_file.h"
#include "res/resource.h"
#include "res/string_table.h"
#include "scsi/discovery.h"
#include "scsi/models.h"

namespace fwload {
namespace {

constexpr int kIdCancel = 2;

}  // namespace

MainDialog::MainDialog(AppState& app, FirmwareState& firmware, MainWindow& window, Profile& profile,
                       FileSystem& fs, Transport& transport)
    : app_(app),
      fw_(firmware),
      window_(window),
      profile_(profile),
      fs_(fs),
      transport_(transport) {}

int MainDialog::on_init() {
  window_.set_text(IDC_FILE_NAME, "");
  window_.set_text(IDC_STATUS_TEXT, "");
  window_.set_checked(IDC_USE_SCSI, true);
  window_.set_checked(IDC_USE_SERIAL, false);
  app_.SerialMode = 0;
  fw_.FirmwareTargetCode = 0;
  window_.set_checked(IDC_PRE, true);
  window_.set_checked(IDC_POST, false);
  app_.ImprinterSide = 0;
  app_.OptionMode = profile_.read("Option", "SW", "OFF", 32) == "ON" ? 1 : 0;
  window_.add_list_item(IDC_PORT_LIST, "COM1");
  window_.add_list_item(IDC_PORT_LIST, "COM2");
  window_.select_list_item(IDC_PORT_LIST, 0);
  fw_.image = {};
  app_.AutoStartState = 1;
  // Option mode is on after every start, whatever the settings say.
  app_.OptionMode = 1;
  for (int id : {IDC_WRITE_FILE, IDC_TRANSFER, IDC_USE_SCSI, IDC_USE_SERIAL, IDC_PORT_LIST,
                 IDC_MODE_GROUP, IDC_PRE, IDC_POST, IDC_IMPRINTER_GROUP}) {
    window_.enable(id, false);
  }
  if (app_.OptionMode == 0) window_.enable(IDC_COMMAND, false);
  return 1;
}

void MainDialog::on_paint() {
  if (app_.AutoStartState == 1) app_.AutoStartState = 2;
}

void MainDialog::on_other_message() {
  if (!app_.CommandLineFile.empty() && app_.AutoStartState == 2) {
    window_.post_command(IDC_OPEN_FILE);
    app_.AutoStartState = 3;
  }
}

bool MainDialog::on_command(int id) {
  if (discovering_) {
    // Dispatched by the discovery's wait: a close waits for its end, and no second command
    // starts meanwhile (their buttons are disabled; only a queued command gets here).
    if (id == kIdCancel) close_held_ = true;
    return true;
  }
  switch (id) {
    case IDC_OPEN_FILE:
      open_file();
      return true;
    case IDC_WRITE_FILE:
      write_file();
      return true;
    case IDC_TRANSFER:
      transfer();
      return true;
    case IDC_ABOUT:
      window_.run_about_dialog();
      return true;
    case IDC_COMMAND:
      command_dialog();
      return true;
    case kIdCancel:
      cancel();
      return true;
    case IDC_USE_SCSI:
      radio(IDC_USE_SCSI, IDC_USE_SERIAL);
      return true;
    case IDC_USE_SERIAL:
      radio(IDC_USE_SERIAL, IDC_USE_SCSI);
      return true;
    case IDC_PRE:
      radio(IDC_PRE, IDC_POST);
      return true;
    case IDC_POST:
      radio(IDC_POST, IDC_PRE);
      return true;
    case IDC_OPTION_SWITCH:
      option_switch();
      return true;
    default:
      // Unhandled commands count as the first paint for the unattended open.
      on_paint();
      return false;
  }
}

void MainDialog::busy() {
  for (int id :
       {IDC_OPEN_FILE, IDC_WRITE_FILE, IDC_TRANSFER, kIdCancel, IDC_USE_SCSI, IDC_USE_SERIAL,
        IDC_PORT_LIST, IDC_PRE, IDC_POST, IDC_IMPRINTER_GROUP, IDC_ABOUT, IDC_COMMAND}) {
    window_.enable(id, false);
  }
}

void MainDialog::enable_mode_and_imprinter_controls() {
  const std::uint8_t target = fw_.FirmwareTargetCode;
  if (target == 3 || target == 4) {
    window_.enable(IDC_MODE_GROUP, true);
    window_.enable(IDC_USE_SCSI, true);
    window_.enable(IDC_USE_SERIAL, true);
    if (app_.SerialMode == 1) window_.enable(IDC_PORT_LIST, true);
  } else {
    window_.enable(IDC_MODE_GROUP, true);
    window_.enable(IDC_USE_SCSI, true);
  }
  const bool imprinter = target == 6;
  window_.enable(IDC_PRE, imprinter);
  window_.enable(IDC_POST, imprinter);
  window_.enable(IDC_IMPRINTER_GROUP, imprinter);
}

void MainDialog::reenable() {
  window_.enable(IDC_OPEN_FILE, true);
  window_.enable(IDC_TRANSFER, true);
  window_.enable(kIdCancel, true);
  if (app_.OptionMode == 1) {
    window_.enable(IDC_WRITE_FILE, true);
    window_.enable(IDC_COMMAND, true);
  }
  enable_mode_and_imprinter_controls();
  window_.enable(IDC_ABOUT, true);
  window_.progress(0);
}

void MainDialog::open_file() {
  busy();
  app_.PreviousOpenResult = fw_.OpenResult;
  const std::string saved_name = window_.text(IDC_FILE_NAME, 32);
  window_.set_text(IDC_FILE_NAME, "");
  show_status(window_, kStrOpenFileCaption, kStrProcessing, fw_);

  FirmwareIo io{window_, profile_, fs_};
  const int opened = open_firmware_file(fw_, io, app_.CommandLineFile);
  if (opened == 1 && fw_.OpenResult == 1) {
    show_status(window_, kStrOpenFileCaption, kStrCompleted, fw_);
    window_.enable(IDC_TRANSFER, true);
    if (app_.OptionMode == 1) {
      window_.enable(IDC_WRITE_FILE, true);
      window_.enable(IDC_COMMAND, true);
    }
    enable_mode_and_imprinter_controls();
    if (fw_.TransferAfterOpen) {
      fw_.TransferAfterOpen = false;
      window_.post_command(IDC_TRANSFER);
    }
  } else {
    fw_.TransferAfterOpen = false;
    fw_.CloseAfterTransfer = false;
    if (fw_.OpenResult == 2) {
      // A cancelled dialog keeps the file loaded before.
      if (app_.PreviousOpenResult == 1) {
        fw_.OpenResult = 1;
        window_.set_text(IDC_FILE_NAME, saved_name);
        window_.enable(IDC_TRANSFER, true);
        if (app_.OptionMode == 1) window_.enable(IDC_WRITE_FILE, true);
        enable_mode_and_imprinter_controls();
      }
      show_status(window_, kStrOpenFileCaption, kStrCanceled, fw_);
    } else {
      show_status(window_, kStrOpenFileCaption, kStrFailed, fw_);
    }
  }
  if (app_.OptionMode == 1) window_.enable(IDC_COMMAND, true);
  window_.enable(IDC_OPEN_FILE, true);
  window_.enable(IDC_ABOUT, true);
  window_.enable(kIdCancel, true);
  window_.progress(0);
}

void MainDialog::write_file() {
  busy();
  show_status(window_, kStrWriteFileCaption, kStrProcessing, fw_);
  FirmwareIo io{window_, profile_, fs_};
  const int written = write_sum_file(fw_, io);
  const int state = (written == 1 && fw_.WriteResult == 1) ? kStrCompleted
                    : fw_.WriteResult == 2                 ? kStrCanceled
                                                           : kStrFailed;
  show_status(window_, kStrWriteFileCaption, state, fw_);
  reenable();
}

void MainDialog::transfer() {
  busy();
  show_status(window_, kStrTransFileCaption, kStrProcessing, fw_);
  if (app_.SerialMode == 1) {
    const int sent = transport_.download_serial();
    show_status(window_, kStrTransFileCaption, sent == 1 ? kStrCompleted : kStrFailed, fw_);
  } else if (transport_.download_scsi() == 1) {
    show_status(window_, kStrTransFileCaption, kStrCompleted, fw_);
  } else {
    show_status(window_, kStrTransFileCaption, kStrFailed, fw_);
    // The next transfer loads the ASPI manager afresh.
    transport_.release_aspi();
  }
  reenable();
  if (fw_.CloseAfterTransfer) {
    fw_.CloseAfterTransfer = false;
    window_.post_command(kIdCancel);
  }
}

void MainDialog::command_dialog() {
  int found = 0;
  {
    discovering_ = true;
    HeldControls held(window_, {IDC_OPEN_FILE, IDC_WRITE_FILE, IDC_TRANSFER, kIdCancel, IDC_ABOUT,
                                IDC_COMMAND, IDC_USE_SCSI, IDC_USE_SERIAL, IDC_PRE, IDC_POST});
    found = transport_.find_scanner();
    discovering_ = false;
  }
  if (close_held_) {
    close_held_ = false;
    cancel();
    return;
  }
  if (found == 0) {
    transport_.set_no_device();
    return;
  }
  if (!serves_command_dialog(transport_.scanner_product())) {
    transport_.release_aspi();
    show_no_target_device(window_);
    return;
  }
  window_.run_command_dialog(has_serial_number_class(transport_.scanner_model_class()));
}

void MainDialog::radio(int clicked, int other) {
  if (!window_.is_checked(clicked)) return;
  window_.set_checked(other, false);
  if (clicked == IDC_USE_SCSI || clicked == IDC_USE_SERIAL) {
    app_.SerialMode = clicked == IDC_USE_SERIAL ? 1 : 0;
    window_.enable(IDC_PORT_LIST, app_.SerialMode == 1);
  } else {
    app_.ImprinterSide = clicked == IDC_POST ? 1 : 0;
  }
}

void MainDialog::option_switch() {
  app_.OptionMode = 1;
  window_.enable(IDC_COMMAND, true);
  if (fw_.OpenResult == 1) window_.enable(IDC_WRITE_FILE, true);
  window_.set_text(IDC_OPTION_TEXT, window_.load_string(kStrOptionOn, 32));
}

void MainDialog::cancel() {
  transport_.release_aspi();
  fw_.image = {};
  window_.end_dialog(1);
}

}  // namespace fwload
