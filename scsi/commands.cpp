#include "scsi/commands.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "scsi/sense.h"

namespace fwload {
namespace {

constexpr int kIdleMs = 1;

Cdb ten(std::initializer_list<std::uint8_t> bytes) {
  Cdb c;
  c.length = 10;
  std::size_t i = 0;
  for (std::uint8_t b : bytes) c.bytes[i++] = b;
  return c;
}

std::uint8_t b2(std::uint32_t v) {
  return static_cast<std::uint8_t>(v >> 16);
}
std::uint8_t b1(std::uint32_t v) {
  return static_cast<std::uint8_t>(v >> 8);
}
std::uint8_t b0(std::uint32_t v) {
  return static_cast<std::uint8_t>(v);
}

void clear_last_sense(ScsiState& s) {
  s.sense_eom = s.sense_ili = s.sense_key = s.sense_asc = s.sense_ascq = 0;
}

}  // namespace

Cdb cdb_test_unit_ready() {
  Cdb c;
  c.length = 6;
  return c;
}

Cdb cdb_inquiry() {
  Cdb c;
  c.length = 6;
  c.bytes[0] = 0x12;
  c.bytes[4] = static_cast<std::uint8_t>(kInquiryLength);
  return c;
}

Cdb cdb_prepare_download() {
  return ten({0x24});
}

Cdb cdb_write_buffer(std::uint8_t buffer_id, std::uint32_t offset, std::uint32_t length) {
  return ten({0x3B, 0x05, buffer_id, b2(offset), b1(offset), b0(offset), b2(length), b1(length),
              b0(length), 0x00});
}

Cdb cdb_vendor_write(std::uint8_t code, std::uint32_t length) {
  return ten({0xE1, 0x00, code, 0, 0, 0, b2(length), b1(length), b0(length), 0});
}

Cdb cdb_vendor_read(std::uint8_t code, std::uint32_t length) {
  return ten({0xE0, 0x00, code, 0, 0, 0, b2(length), b1(length), b0(length), 0});
}

Cdb cdb_read_versions(std::uint8_t length) {
  return ten({0xE0, 0x00, 0x83, 0, 0, 0, 0, 0, length, 0});
}

Cdb cdb_read_data(std::uint32_t length) {
  return ten({0x28, 0x00, 0x93, 0, 0, 0, b2(length), b1(length), b0(length), 0});
}

void apply_request_bound_setting(ScsiState& s, const char* milliseconds) {
  if (milliseconds == nullptr) return;
  char* end = nullptr;
  const long value = std::strtol(milliseconds, &end, 10);
  if (end != milliseconds && *end == '\0' && value > 0) {
    s.request_bound_limit = std::chrono::milliseconds(value);
  }
}

std::uint16_t send_and_wait(ScsiState& s, ScsiIo& io, std::unique_ptr<RequestSlot>& slot,
                            std::uint8_t target, const Cdb& cdb, DataDirection direction,
                            std::uint8_t* data, std::uint32_t length,
                            std::chrono::milliseconds bound) {
  ScsiRequestBlock& block = slot->block;
  std::memset(&block, 0, sizeof block);
  block.command = kScExecScsiCmd;
  block.host_adapter = s.host_adapter_id;
  block.flags = direction == DataDirection::In ? kSrbDirIn : kSrbDirOut;
  block.target = target;
  block.lun = 0;
  block.data_length = length;
  block.sense_length = static_cast<std::uint8_t>(kSenseLength);
  block.cdb_length = cdb.length;
  std::memcpy(block.cdb, cdb.bytes.data(), cdb.length);
  clear_last_sense(s);
  if (!s.aspi_module) return 0x100 + kSsInvalidSrb;
  // A manager that works on the buffer it is given gets the slot's own, which lives as long as
  // the block: the caller's buffer (often on its stack) is read and filled here, never late.
  // It starts as the caller's, so that bytes the manager does not write stay as they were.
  std::uint8_t* given = length > 0 ? data : nullptr;
  if (given != nullptr && !s.aspi_module->copies_data()) {
    slot->data.assign(data, data + length);
    given = slot->data.data();
  }
  block.data_buffer = given;
  s.aspi_module->send_command(block);

  // The manager writes the status byte from its own thread: it is read afresh on every turn,
  // and between turns the window is served instead of spinning the processor.
  const auto deadline = std::chrono::steady_clock::now() + std::min(bound, s.request_bound_limit);
  bool given_up = false;
  while (load_status(block) == kSsPending) {
    io.ui.idle(kIdleMs);
    // Never call into a manager that a message served meanwhile has released.
    if (!s.aspi_module) return 0x100 + kSsAborted;
    // The bound, or the user's interrupt, gives the request up.
    if ((std::chrono::steady_clock::now() > deadline || io.ui.interrupted()) &&
        load_status(block) == kSsPending) {
      s.aspi_module->abort(block);
      given_up = true;
      break;
    }
  }
  const std::uint8_t status = load_status(block);
  if (given_up && (status == kSsPending || status == kSsAborted)) {
    if (status == kSsPending) {
      // Not given back: the manager may still write into it, so it is never used again.
      s.aspi_module->keep_abandoned(std::move(slot));
      slot = std::make_unique<RequestSlot>();
    }
    s.sense_key = kScannerBusy.key;
    s.sense_asc = kScannerBusy.asc;
    s.sense_ascq = kScannerBusy.ascq;
    return 0x100 + kSsAborted;
  }
  // Ended, possibly just as it was given up: its result stands.
  if (direction == DataDirection::In && given != nullptr && given != data && status != kSsAborted) {
    std::memcpy(data, given, length);
  }
  if (block.target_status == kTargetCheckCondition) {
    s.sense_eom = block.sense[2] & 0x40;
    s.sense_ili = block.sense[2] & 0x20;
    s.sense_key = block.sense[2] & 0x0F;
    s.sense_asc = block.sense[12];
    s.sense_ascq = block.sense[13];
    return static_cast<std::uint16_t>(0x200 + status);
  }
  if (block.target_status != 0) {
    // BUSY, RESERVATION CONFLICT and the like: the scanner did not take the command, and no
    // sense tells why; it reads as the tool's "busy" condition.
    s.sense_key = kScannerBusy.key;
    s.sense_asc = kScannerBusy.asc;
    s.sense_ascq = kScannerBusy.ascq;
  }
  if (status == kSsComp) return block.target_status;
  return static_cast<std::uint16_t>(0x100 + status);
}

std::uint16_t test_unit_ready(ScsiState& s, ScsiIo& io, std::uint8_t target) {
  return send_and_wait(s, io, s.inquiry_block, target, cdb_test_unit_ready(), DataDirection::Out,
                       nullptr, 0);
}

std::uint16_t inquiry(ScsiState& s, ScsiIo& io, std::uint8_t target) {
  s.inquiry_data.fill(0);
  return send_and_wait(s, io, s.inquiry_block, target, cdb_inquiry(), DataDirection::In,
                       s.inquiry_data.data(), static_cast<std::uint32_t>(kInquiryLength));
}

std::uint16_t prepare_download(ScsiState& s, ScsiIo& io, std::uint8_t target) {
  return send_and_wait(s, io, s.command_block, target, cdb_prepare_download(), DataDirection::Out,
                       nullptr, 0);
}

std::uint16_t write_buffer(ScsiState& s, ScsiIo& io, std::uint8_t target, std::uint32_t length,
                           const std::uint8_t* data, std::uint32_t offset, std::uint8_t buffer_id,
                           std::chrono::milliseconds bound) {
  return send_and_wait(s, io, s.command_block, target, cdb_write_buffer(buffer_id, offset, length),
                       DataDirection::Out, const_cast<std::uint8_t*>(data), length, bound);
}

std::uint16_t vendor_write(ScsiState& s, ScsiIo& io, std::uint8_t target, std::uint8_t code,
                           const std::uint8_t* data, std::uint32_t length) {
  return send_and_wait(s, io, s.command_block, target, cdb_vendor_write(code, length),
                       DataDirection::Out, const_cast<std::uint8_t*>(data), length);
}

std::uint16_t vendor_read(ScsiState& s, ScsiIo& io, std::uint8_t target, std::uint8_t code,
                          std::uint8_t* data, std::uint32_t length) {
  return send_and_wait(s, io, s.command_block, target, cdb_vendor_read(code, length),
                       DataDirection::In, data, length);
}

std::uint16_t read_versions(ScsiState& s, ScsiIo& io, std::uint8_t target, std::uint8_t* data,
                            std::uint8_t length) {
  return send_and_wait(s, io, s.command_block, target, cdb_read_versions(length), DataDirection::In,
                       data, length);
}

std::uint16_t read_data(ScsiState& s, ScsiIo& io, std::uint8_t target, std::uint32_t length,
                        std::uint8_t* data) {
  return send_and_wait(s, io, s.command_block, target, cdb_read_data(length), DataDirection::In,
                       data, length);
}

}  // namespace fwload
