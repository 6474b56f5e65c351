// The transports of the dialog program over the SCSI code (and, for serial, what is built).
#pragma once

#include "app/app_state.h"
#include "app/transport.h"
#include "core/scanner_rows.h"
#include "firmware/firmware_state.h"
#include "platform/aspi.h"
#include "scsi/scsi_state.h"
#include "serial/serial_state.h"

namespace fwload {

// Writes the About dialog's scanner and host rows.
void write_scanner_rows(DialogControls& about, const ScannerRows& rows);

class DeviceTransport : public Transport {
 public:
  DeviceTransport(AppState& app, FirmwareState& firmware, MainWindow& window, AspiLoader& aspi,
                  SerialDevices& serial);

  int download_scsi() override;
  int download_serial() override;
  int find_scanner() override;
  std::string scanner_product() const override;
  std::uint8_t scanner_model_class() const override;
  void set_no_device() override;
  void release_aspi() override;
  void scanner_info_scsi(DialogControls& about) override;
  void scanner_info_serial(DialogControls& about) override;

  ScsiState& scsi() { return scsi_; }

 private:
  SerialIo serial_io();

  AppState& app_;
  FirmwareState& firmware_;
  MainWindow& ui_;
  AspiLoader& aspi_;
  SerialDevices& serial_devices_;
  ScsiState scsi_;
  SerialState serial_;
};

}  // namespace fwload
