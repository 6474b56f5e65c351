// The transports of the dialog program over the SCSI code (and, for serial, what is built).
#pragma once

#include "app/app_state.h"
#include "app/transport.h"
#include "firmware/firmware_state.h"
#include "platform/aspi.h"
#include "scsi/scsi_state.h"

namespace fwload {

class DeviceTransport : public Transport {
 public:
  DeviceTransport(AppState& app, FirmwareState& firmware, Ui& ui, AspiLoader& aspi);

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
  AppState& app_;
  FirmwareState& firmware_;
  Ui& ui_;
  AspiLoader& aspi_;
  ScsiState scsi_;
};

}  // namespace fwload
