#include "app/about_dialog.h"

#include "res/resource.h"
#include "res/string_table.h"

namespace fwload {

void about_init(DialogControls& about, const AppState& app, const FirmwareState& firmware,
                Transport& transport) {
  about.set_text(IDC_ABOUT_VERSION, about.load_string(kStrVersionMajor, 32) + "." +
                                        about.load_string(kStrVersionMinor, 32));
  about.set_text(IDC_ABOUT_VERSION_INFO, about.load_string(kStrVersionDate, 128));
  if (firmware.OpenResult == 1) {
    if (firmware.unit_name == "IMPRINTER") {
      about.set_text(IDC_ABOUT_SCANNER_NAME, "HVS 2600/3600");
      about.set_text(IDC_ABOUT_UNIT_NAME, "Document Printer");
    } else {
      about.set_text(IDC_ABOUT_SCANNER_NAME, firmware.scanner_name);
      about.set_text(IDC_ABOUT_UNIT_NAME, firmware.unit_name);
    }
    about.set_text(IDC_ABOUT_FILE_VERSION, firmware.file_version);
  } else {
    const std::string none = about.load_string(kStrNotOpenFile, 128);
    for (int id : {IDC_ABOUT_SCANNER_NAME, IDC_ABOUT_UNIT_NAME, IDC_ABOUT_FILE_VERSION}) {
      about.set_text(id, none);
    }
  }
  if (app.SerialMode == 1) {
    transport.scanner_info_serial(about);
  } else {
    transport.scanner_info_scsi(about);
  }
}

bool about_command(int id, DialogControls& about, Transport& transport) {
  if (id != 1 && id != 2) return false;
  transport.release_aspi();
  about.end_dialog(1);
  return true;
}

}  // namespace fwload
