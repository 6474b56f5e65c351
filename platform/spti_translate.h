// The portable half of an ASPI-shaped manager over the Windows SCSI pass-through interface:
// the adapter list from IOCTL_SCSI_GET_INQUIRY_DATA replies, a request block turned into a
// SCSI_PASS_THROUGH_DIRECT request, and its outcome turned back into the block's results. The
// structures are mirrored here with the 32-bit Windows layout so that the translation runs and
// is tested on any platform; the Win32 layer checks its own against these sizes.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "platform/srb.h"

namespace fwload::spti {

// IOCTL_SCSI_GET_INQUIRY_DATA's reply: SCSI_ADAPTER_BUS_INFO { UCHAR NumberOfBuses;
// SCSI_BUS_DATA BusData[] } with SCSI_BUS_DATA { UCHAR NumberOfLogicalUnits; UCHAR
// InitiatorBusId; ULONG InquiryDataOffset } at offset 4, 8 bytes each; the units are chains of
// SCSI_INQUIRY_DATA { UCHAR PathId, TargetId, Lun; BOOLEAN DeviceClaimed; ULONG
// InquiryDataLength; ULONG NextInquiryDataOffset; UCHAR InquiryData[] } (offsets from the
// start of the reply; 0 ends a chain).
inline constexpr std::size_t kBusDataOffset = 4;
inline constexpr std::size_t kBusDataSize = 8;
inline constexpr std::size_t kUnitHeaderSize = 12;

struct Unit {
  std::uint8_t path = 0, target = 0, lun = 0;
  bool claimed = false;  // a Windows class driver owns it: no pass-through through the port
  std::vector<std::uint8_t> inquiry;
};
struct Bus {
  std::uint8_t path = 0;
  std::vector<Unit> units;
};

// The INQUIRY bytes kept of a unit (vendor, product and revision end at 36), and the most
// units a port may report (a reply can chain the same units from every bus).
inline constexpr std::size_t kKeptInquiryBytes = 36;
inline constexpr std::size_t kMostUnitsPerPort = 2048;

// The buses and units of one port's reply; nothing read beyond `reply`, and a chain that
// loops or leaves the reply ends there. Reading stops at kMostUnitsPerPort units, and then
// `too_many` (when given) is set: such a port is not used.
std::vector<Bus> parse_inquiry_data(std::span<const std::uint8_t> reply, bool* too_many = nullptr);

// An adapter as the ASPI numbering sees it: one (port, path id) pair, in probe order.
struct Adapter {
  int port = 0;  // \\.\ScsiN:
  std::uint8_t path = 0;
  std::vector<Unit> units;
};
// Numbers the buses of ports 0, 1, ... in order (each port's buses in its reply's order).
std::vector<Adapter> number_adapters(const std::vector<std::pair<int, std::vector<Bus>>>& ports);

// What goes into SCSI_PASS_THROUGH_DIRECT for a request block besides the data, whose
// direction, length and buffer are those of the layer's own copy.
struct Request {
  std::uint8_t path = 0, target = 0, lun = 0;
  std::uint8_t cdb_length = 0;
  std::array<std::uint8_t, 16> cdb{};
  std::uint32_t timeout_seconds = 0;
};
inline constexpr std::uint32_t kTimeoutSeconds = 120;
inline constexpr std::uint32_t kCommitTimeoutSeconds = 900;  // saving firmware takes minutes
Request make_request(const ScsiRequestBlock& block, std::uint8_t path);

// How a pass-through request ended: the DeviceIoControl call's success and error, the SCSI
// status and sense bytes the driver returned, and for outgoing data how much of it the device
// took.
struct Outcome {
  bool call_ok = false;
  std::uint32_t error = 0;  // GetLastError() when the call failed
  std::uint8_t scsi_status = 0;
  std::span<const std::uint8_t> sense;
  bool data_out = false;
  std::size_t sent = 0;   // the request's data length
  std::size_t taken = 0;  // DataTransferLength as the driver returned it
};
inline constexpr std::uint32_t kErrorSemTimeout = 121;  // ERROR_SEM_TIMEOUT
// Writes the block's host status, target status and sense from `outcome` and returns the
// ASPI status to store last: a failed call is SS_ERR with a host status (time-out or bus
// failure), CHECK CONDITION is SS_ERR with its sense, outgoing data taken only in part under
// GOOD is SS_ERR with host status 0x12 (data overrun), any other status completes.
std::uint8_t complete_block(ScsiRequestBlock& block, const Outcome& outcome);

}  // namespace fwload::spti
