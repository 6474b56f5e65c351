#include "scsi/service.h"

#include <cstring>

#include "scsi/commands.h"
#include "scsi/discovery.h"
#include "scsi/sense.h"

namespace fwload {

Readiness wait_until_ready(ScsiState& s, ScsiIo& io) {
  int tries = 0;
  for (;;) {
    if (io.ui.interrupted()) return Readiness::NotReady;
    const std::uint16_t result = test_unit_ready(s, io, s.target_id);
    if (result == 0) return Readiness::Ready;
    if (is_check_condition(result)) {
      if (is_ignorable_condition(s.sense_key, s.sense_asc, s.sense_ascq)) {
        return Readiness::Condition;
      }
      if (tries++ >= 10) {
        show_scanner_message(io.ui, s.sense_key, s.sense_asc, s.sense_ascq);
        return Readiness::NotReady;
      }
    } else if (tries++ >= 10) {
      show_scanner_message(io.ui, kScannerBusy);
      return Readiness::NotReady;
    }
  }
}

ServiceStart start_service(ScsiState& s, ScsiIo& io) {
  release_aspi(s);
  if (find_scanner(s, io) == 0) {
    release_aspi(s);
    return ServiceStart::NotFound;
  }
  if (!serves_command_dialog(s.scanner_product.view())) {
    release_aspi(s);
    show_no_target_device(io.ui);
    return ServiceStart::NotFound;
  }
  switch (wait_until_ready(s, io)) {
    case Readiness::Ready:
      return ServiceStart::Ready;
    case Readiness::Condition:
      return ServiceStart::Condition;
    case Readiness::NotReady:
      break;
  }
  return ServiceStart::NotReady;
}

bool keeps_serial_number(const ScsiState& s, const std::array<std::uint8_t, 32>& capability) {
  return has_serial_number_class(s.scanner_model_class) && serial_number_supported(capability);
}

bool serial_number_fits(std::string_view text, Ui& ui) {
  if (text.size() <= kSerialNumberLength) return true;
  ui.message_box("Write S/N", "Length Error", /*task_modal=*/true);
  return false;
}

std::array<std::uint8_t, 32> read_capability(ScsiState& s, ScsiIo& io) {
  std::array<std::uint8_t, 32> capability{};
  read_data(s, io, s.target_id, static_cast<std::uint32_t>(capability.size()), capability.data());
  return capability;
}

std::uint16_t read_serial_number(ScsiState& s, ScsiIo& io, std::string& serial) {
  std::array<char, kSerialNumberLength + 1> buffer{};
  const std::uint16_t result = vendor_read(s, io, s.target_id, kCodeReadSerial,
                                           reinterpret_cast<std::uint8_t*>(buffer.data()),
                                           static_cast<std::uint32_t>(kSerialNumberLength));
  if (result == 0) serial = std::string(buffer.data(), strnlen(buffer.data(), kSerialNumberLength));
  return result;
}

std::array<std::uint8_t, kSerialNumberLength> serial_number_parameter(std::string_view text) {
  std::array<std::uint8_t, kSerialNumberLength> parameter;
  parameter.fill(' ');
  if (text.size() > kSerialNumberLength) text = text.substr(0, kSerialNumberLength);
  std::memcpy(parameter.data() + kSerialNumberLength - text.size(), text.data(), text.size());
  return parameter;
}

std::uint16_t write_serial_number(ScsiState& s, ScsiIo& io, std::string_view text) {
  const auto parameter = serial_number_parameter(text);
  return vendor_write(s, io, s.target_id, kCodeWriteSerial, parameter.data(),
                      static_cast<std::uint32_t>(parameter.size()));
}

std::uint16_t set_regional_defaults(ScsiState& s, ScsiIo& io, Region region) {
  const std::uint8_t parameter[2] = {static_cast<std::uint8_t>(region), 0};
  return vendor_write(s, io, s.target_id, kCodeSetDefault, parameter, 2);
}

}  // namespace fwload
