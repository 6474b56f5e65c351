// The SCSI commands the tool sends to the scanner, each with its fixed CDB, and the wait for a
// request to complete while the window stays served.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>

#include "scsi/scsi_state.h"

namespace fwload {

enum class DataDirection { None, In, Out };

struct Cdb {
  std::array<std::uint8_t, 16> bytes{};
  std::uint8_t length = 0;
};

Cdb cdb_test_unit_ready();
Cdb cdb_inquiry();
Cdb cdb_prepare_download();
Cdb cdb_write_buffer(std::uint8_t buffer_id, std::uint32_t offset, std::uint32_t length);
Cdb cdb_vendor_write(std::uint8_t code, std::uint32_t length);
Cdb cdb_vendor_read(std::uint8_t code, std::uint32_t length);
Cdb cdb_read_versions(std::uint8_t length);
Cdb cdb_read_data(std::uint32_t length);

// How long a request may stay pending before it is abandoned; a scanner that saves its
// firmware gets longer (see the download).
inline constexpr std::chrono::milliseconds kRequestBound{60'000};

// Result codes: the target status (0 = good) when the request completed and the target status
// was not CHECK CONDITION; 0x100 + ASPI status when it ended otherwise; 0x200 + ASPI status on
// CHECK CONDITION, with the last sense set. Any other target status that is not GOOD sets the
// last sense to the tool's "Scanner is busy." condition.
inline bool is_check_condition(std::uint16_t result) {
  return (result & 0xF00) == 0x200;
}

// Parses the test setting for state.request_bound_limit (milliseconds); null or not a number
// leaves it as it is.
void apply_request_bound_setting(ScsiState& state, const char* milliseconds);

// Sends `cdb` on `slot`'s block to the selected adapter's `target` and waits for it. `data` is
// read when the request is sent and filled only when it ends while waited for. A request still
// pending after `bound` (or state.request_bound_limit), or when the user interrupts
// (Ui::interrupted), is abandoned: 0x100 + aborted, with the
// last sense set to the tool's "Scanner is busy." condition, unless it ended meanwhile (its own
// result then stands); when the manager does not give the block back, `slot` goes to the
// manager and is replaced by a fresh one.
std::uint16_t send_and_wait(ScsiState& state, ScsiIo& io, std::unique_ptr<RequestSlot>& slot,
                            std::uint8_t target, const Cdb& cdb, DataDirection direction,
                            std::uint8_t* data, std::uint32_t length,
                            std::chrono::milliseconds bound = kRequestBound);

std::uint16_t test_unit_ready(ScsiState& state, ScsiIo& io, std::uint8_t target);
// 96 bytes into state.inquiry_data (cleared first).
std::uint16_t inquiry(ScsiState& state, ScsiIo& io, std::uint8_t target);
std::uint16_t prepare_download(ScsiState& state, ScsiIo& io, std::uint8_t target);
std::uint16_t write_buffer(ScsiState& state, ScsiIo& io, std::uint8_t target, std::uint32_t length,
                           const std::uint8_t* data, std::uint32_t offset, std::uint8_t buffer_id,
                           std::chrono::milliseconds bound = kRequestBound);
std::uint16_t vendor_write(ScsiState& state, ScsiIo& io, std::uint8_t target, std::uint8_t code,
                           const std::uint8_t* data, std::uint32_t length);
std::uint16_t vendor_read(ScsiState& state, ScsiIo& io, std::uint8_t target, std::uint8_t code,
                          std::uint8_t* data, std::uint32_t length);
std::uint16_t read_versions(ScsiState& state, ScsiIo& io, std::uint8_t target, std::uint8_t* data,
                            std::uint8_t length);
std::uint16_t read_data(ScsiState& state, ScsiIo& io, std::uint8_t target, std::uint32_t length,
                        std::uint8_t* data);

}  // namespace fwload
