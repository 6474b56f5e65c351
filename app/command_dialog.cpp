#include "app/command_dialog.h"

#include "app/held_controls.h"
#include "res/resource.h"
#include "scsi/discovery.h"
#include "scsi/sense.h"
#include "scsi/service.h"

namespace fwload {
namespace {

// The text box holds 18 bytes: at most 17 characters, one more than a serial number.
constexpr std::size_t kEntryBuffer = 18;

}  // namespace

void CommandDialog::show_last_sense() {
  show_scanner_message(io_.ui, scsi_.sense_key, scsi_.sense_asc, scsi_.sense_ascq);
}

template <class Operation>
void CommandDialog::hold(Operation operation) {
  {
    busy_ = true;
    HeldControls held(dialog_, {IDC_SET_US, IDC_SET_EUROPE, IDC_SET_JAPAN, IDC_SERIAL_WRITE, 1});
    operation();
    busy_ = false;
  }
  if (close_held_) {
    close_held_ = false;
    close();
  }
}

void CommandDialog::close() {
  release_aspi(scsi_);
  io_.ui.arrow_cursor();
  dialog_.end_dialog(1);
}

void CommandDialog::on_init() {
  bool write_allowed = true;
  hold([&] {
    // The discovery before the dialog opened was quiet; this second one says when the
    // scanner has gone meanwhile.
    if (start_service(scsi_, io_) != ServiceStart::Ready) {
      io_.ui.arrow_cursor();
      dialog_.end_dialog(1);
      return;
    }
    const auto capability = read_capability(scsi_, io_);
    if (serial_template_) {
      if (!serial_number_supported(capability)) {
        write_allowed = false;
      } else {
        std::string serial;
        if (read_serial_number(scsi_, io_, serial) == 0) {
          dialog_.set_text(IDC_SERIAL_CURRENT, serial);
        } else {
          io_.ui.arrow_cursor();
          show_last_sense();
        }
      }
    }
    dialog_.set_text(IDC_SERIAL_NEW, "");
    io_.ui.arrow_cursor();
  });
  if (!write_allowed) dialog_.enable(IDC_SERIAL_WRITE, false);
}

bool CommandDialog::on_command(int id) {
  if (busy_) {
    // Dispatched by the wait of a running operation: a close waits for its end, anything
    // else is dropped (its button is disabled; only a posted or queued command gets here).
    if (id == 1 || id == 2) close_held_ = true;
    return id == 1 || id == 2 || id == IDC_SET_US || id == IDC_SET_EUROPE || id == IDC_SET_JAPAN ||
           id == IDC_SERIAL_WRITE;
  }
  switch (id) {
    case IDC_SET_US:
    case IDC_SET_EUROPE:
    case IDC_SET_JAPAN:
      hold([&] { set_default(id); });
      return true;
    case IDC_SERIAL_WRITE:
      hold([&] { write_serial_number(); });
      return true;
    case 1:
    case 2:
      close();
      return true;
    default:
      return false;
  }
}

void CommandDialog::set_default(int id) {
  io_.ui.wait_cursor();
  const Region region = id == IDC_SET_US       ? Region::Us
                        : id == IDC_SET_EUROPE ? Region::Europe
                                               : Region::Japan;
  const std::uint16_t result = set_regional_defaults(scsi_, io_, region);
  io_.ui.arrow_cursor();
  if (result != 0) show_last_sense();
}

void CommandDialog::write_serial_number() {
  io_.ui.wait_cursor();
  const std::string text = dialog_.text(IDC_SERIAL_NEW, kEntryBuffer);
  if (!serial_number_fits(text, io_.ui)) {
    io_.ui.arrow_cursor();
    return;
  }
  if (fwload::write_serial_number(scsi_, io_, text) != 0) {
    io_.ui.arrow_cursor();
    show_last_sense();
  }
  std::string serial;
  if (read_serial_number(scsi_, io_, serial) == 0) {
    dialog_.set_text(IDC_SERIAL_CURRENT, serial);
    io_.ui.arrow_cursor();
  } else {
    io_.ui.arrow_cursor();
    show_last_sense();
  }
}

}  // namespace fwload
