#include "app/about_dialog.h"

#include "res/resource.h"
#include "res/string_table.h"

namespace fwload {

AboutFileRows about_file_rows(const FirmwareState& firmware) {
  if (firmware.OpenResult != 1) {
    const std::string none(table_string(kStrNotOpenFile));
    return {none, none, none};
  }
  if (firmware.unit_name == "IMPRINTER") {
    return {"HVS 2600/3600", "Document Printer", firmware.file_version};
  }
  return {firmware.scanner_name, firmware.unit_name, firmware.file_version};
}

std::string program_version() {
  return std::string(table_string(kStrVersionMajor)) + "." +
         std::string(table_string(kStrVersionMinor));
}

std::vector<std::pair<std::string, std::string>> about_program_rows(const FirmwareState& firmware) {
  const AboutFileRows file = about_file_rows(firmware);
  return {{"Version Number :", program_version()},
          {"Version Information :", std::string(table_string(kStrVersionDate))},
          {"Scanner Name :", file.scanner_name},
          {"Unit Name :", file.unit_name},
          {"File Version :", file.file_version}};
}

void about_init(DialogControls& about, const AppState& app, const FirmwareState& firmware,
                Transport& transport) {
  about.set_text(IDC_ABOUT_VERSION, about.load_string(kStrVersionMajor, 32) + "." +
                                        about.load_string(kStrVersionMinor, 32));
  about.set_text(IDC_ABOUT_VERSION_INFO, about.load_string(kStrVersionDate, 128));
  const AboutFileRows rows = about_file_rows(firmware);
  about.set_text(IDC_ABOUT_SCANNER_NAME, rows.scanner_name);
  about.set_text(IDC_ABOUT_UNIT_NAME, rows.unit_name);
  about.set_text(IDC_ABOUT_FILE_VERSION, rows.file_version);
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
