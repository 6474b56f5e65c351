#include "app/transport.h"

namespace fwload {

int UnavailableTransport::download_scsi() {
  ui_.message_box("Scanner Error", "This program was built without the SCSI transfer.");
  return 0;
}

int UnavailableTransport::download_serial() {
  ui_.message_box("Serial Communication Error",
                  "This program was built without the serial transfer.");
  return 0;
}

}  // namespace fwload
