// The scanner transports as the dialogs use them: the downloads over SCSI and over serial, the
// SCSI discovery before the Command dialog, and the scanner rows of the About dialog.
#pragma once

#include <cstdint>
#include <string>

#include "app/main_window.h"

namespace fwload {

class Transport {
 public:
  virtual ~Transport() = default;
  // The downloads: 1 on success, 0 after their own messages.
  virtual int download_scsi() = 0;
  virtual int download_serial() = 0;
  // Looks for a supported scanner over SCSI; non-zero when one was selected.
  virtual int find_scanner() = 0;
  // Identity of the scanner found (or "No device !" after set_no_device).
  virtual std::string scanner_product() const = 0;
  virtual std::uint8_t scanner_model_class() const = 0;
  virtual void set_no_device() = 0;
  // Unloads the ASPI manager if it is loaded.
  virtual void release_aspi() = 0;
  // Fills the About dialog's "About Scanner" and "About Host" rows.
  virtual void scanner_info_scsi(DialogControls& about) = 0;
  virtual void scanner_info_serial(DialogControls& about) = 0;
};

}  // namespace fwload
