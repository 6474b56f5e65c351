#include "scsi/service.h"

#include <cstring>

#include "scsi/commands.h"
#include "scsi/sense.h"

namespace fwload {

Readiness wait_until_ready(ScsiState& s, ScsiIo& io) {
  int tries = 0;
  for (;;) {
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

bool serves_command_dialog(std::string_view product) {
  const std::string_view head = product.substr(0, 15);
  return head == "HV Scanner 3600" || head == "HV Scanner 2600";
}

}  // namespace fwload
