// The scanner's service functions behind the Command dialog: readiness, capability data, the
// serial number and the regional defaults.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "scsi/models.h"
#include "scsi/scsi_state.h"

namespace fwload {

inline constexpr std::size_t kSerialNumberLength = 16;
inline constexpr std::uint8_t kCodeCapability = 0x93;   // READ(10) data type
inline constexpr std::uint8_t kCodeReadSerial = 0x92;   // vendor read
inline constexpr std::uint8_t kCodeWriteSerial = 0x93;  // vendor write
inline constexpr std::uint8_t kCodeSetDefault = 0x8A;   // vendor write

enum class Region : std::uint8_t { Us = 0, Europe = 1, Japan = 2 };

enum class Readiness {
  Ready,      // TEST UNIT READY succeeded
  Condition,  // the scanner reports a condition under which it still takes commands
  NotReady,   // eleven failures; the message has been shown
};

// Sends TEST UNIT READY until it succeeds; an ignorable condition ends the wait silently; the
// eleventh failure shows its message (the last sense, or "Scanner is busy." for a transport
// failure).
Readiness wait_until_ready(ScsiState& state, ScsiIo& io);

// The 32 bytes of capability data (cleared first; the result is not needed).
std::array<std::uint8_t, 32> read_capability(ScsiState& state, ScsiIo& io);
inline bool serial_number_supported(const std::array<std::uint8_t, 32>& capability) {
  return (capability[25] & 0x08) != 0;
}

// Reads the 16-byte serial number; returns the command's result code.
std::uint16_t read_serial_number(ScsiState& state, ScsiIo& io, std::string& serial);

// The 16-byte parameter: blanks, then the text so that its last character is the 16th byte.
// Longer texts do not fit (the caller refuses them).
std::array<std::uint8_t, kSerialNumberLength> serial_number_parameter(std::string_view text);
std::uint16_t write_serial_number(ScsiState& state, ScsiIo& io, std::string_view text);

std::uint16_t set_regional_defaults(ScsiState& state, ScsiIo& io, Region region);

// The set-up of a service command (the Command dialog's, and fwload-cli set-default and
// serial-number): the scanner is searched for (kStrNoTargetDevice when there is none, or when
// it is a product the service commands do not serve: the manager is then released) and
// waited for until it is ready.
enum class ServiceStart {
  Ready,
  NotFound,   // said, and the manager released
  Condition,  // an ignorable condition (the dialog closes without a word)
  NotReady,   // eleven failures; the message has been shown
};
ServiceStart start_service(ScsiState& state, ScsiIo& io);

// Whether the scanner keeps a serial number: model class 3 or 4 (the dialog's TESTBOX-Serial
// template) and the capability bit.
bool keeps_serial_number(const ScsiState& state, const std::array<std::uint8_t, 32>& capability);

// Whether `text` fits a serial number (16 characters); a longer one is refused with the
// task-modal "Length Error" box and nothing is sent.
bool serial_number_fits(std::string_view text, Ui& ui);

}  // namespace fwload
