#include "app/device_transport.h"

#include "res/resource.h"
#include "scsi/discovery.h"
#include "scsi/download.h"
#include "scsi/info.h"
#include "serial/serial.h"

namespace fwload {

DeviceTransport::DeviceTransport(AppState& app, FirmwareState& firmware, MainWindow& window,
                                 AspiLoader& aspi, SerialDevices& serial)
    : app_(app), firmware_(firmware), ui_(window), aspi_(aspi), serial_devices_(serial) {}

SerialIo DeviceTransport::serial_io() {
  // The port list of the main window names the port.
  PortList ports;
  ports.selected = ui_.list_selection(IDC_PORT_LIST);
  for (int i = 0; i < 2; ++i) ports.entries.push_back(ui_.list_text(IDC_PORT_LIST, i));
  return SerialIo{ui_, serial_devices_, app_.timer, ports};
}

int DeviceTransport::download_scsi() {
  ScsiIo io{ui_, aspi_, app_.timer};
  return download_over_scsi(scsi_, io, firmware_, app_.ImprinterSide);
}

int DeviceTransport::download_serial() {
  SerialIo io = serial_io();
  return SerialDownload(serial_, io, firmware_);
}

int DeviceTransport::find_scanner() {
  ScsiIo io{ui_, aspi_, app_.timer};
  // Before the Command dialog a missing scanner is said in the fields, not in a box.
  return fwload::find_scanner(scsi_, io, /*quiet=*/true);
}

std::string DeviceTransport::scanner_product() const {
  return std::string(scsi_.scanner_product.view());
}

std::uint8_t DeviceTransport::scanner_model_class() const {
  return scsi_.scanner_model_class;
}

void DeviceTransport::set_no_device() {
  scsi_.scanner_vendor.assign(kNoDeviceText);
  scsi_.scanner_product.assign(kNoDeviceText);
  scsi_.scanner_revision.assign(kNoDeviceText);
}

void DeviceTransport::release_aspi() {
  fwload::release_aspi(scsi_);
}

void DeviceTransport::scanner_info_scsi(DialogControls& about) {
  ScsiIo io{ui_, aspi_, app_.timer};
  write_scanner_rows(about, read_scanner_info_scsi(scsi_, io));
}

void DeviceTransport::scanner_info_serial(DialogControls& about) {
  SerialIo io = serial_io();
  write_scanner_rows(about, ReadScannerInfoSerial(serial_, io));
}

void write_scanner_rows(DialogControls& about, const ScannerRows& info) {
  about.set_text(IDC_ABOUT_VENDOR, info.vendor);
  about.set_text(IDC_ABOUT_PRODUCT, info.product);
  about.set_text(IDC_ABOUT_HOST, info.host);
  about.set_text(IDC_ABOUT_TARGET, info.target);
  const int values[4] = {IDC_ABOUT_VERSION1, IDC_ABOUT_VERSION2, IDC_ABOUT_VERSION3,
                         IDC_ABOUT_VERSION4};
  const int labels[4] = {IDC_ABOUT_VERSION1_LABEL, IDC_ABOUT_VERSION2_LABEL,
                         IDC_ABOUT_VERSION3_LABEL, IDC_ABOUT_VERSION4_LABEL};
  for (int i = 0; i < 4; ++i) {
    about.set_text(values[i], info.version_value[i]);
    about.set_text(labels[i], info.version_label[i]);
  }
  if (info.host_label) about.set_text(IDC_ABOUT_HOST_LABEL, *info.host_label);
  if (info.target_label) about.set_text(IDC_ABOUT_TARGET_LABEL, *info.target_label);
}

}  // namespace fwload
