#include "platform/spti_translate.h"

#include <algorithm>
#include <cstring>
#include <set>

#include "platform/fixed_sense.h"

namespace fwload::spti {
namespace {

std::optional<std::uint32_t> le32(std::span<const std::uint8_t> bytes, std::size_t at) {
  if (at > bytes.size() || bytes.size() - at < 4) return std::nullopt;
  return static_cast<std::uint32_t>(bytes[at]) | (static_cast<std::uint32_t>(bytes[at + 1]) << 8) |
         (static_cast<std::uint32_t>(bytes[at + 2]) << 16) |
         (static_cast<std::uint32_t>(bytes[at + 3]) << 24);
}

constexpr std::uint8_t kHostCommandTimeout = 0x0B;
constexpr std::uint8_t kHostBusReset = 0x0E;
constexpr std::uint8_t kHostDataOverrun = 0x12;

}  // namespace

std::vector<Bus> parse_inquiry_data(std::span<const std::uint8_t> reply, bool* too_many) {
  std::vector<Bus> buses;
  if (too_many != nullptr) *too_many = false;
  if (reply.empty()) return buses;
  const std::size_t count = reply[0];
  std::size_t total = 0;
  for (std::size_t b = 0; b < count; ++b) {
    const std::size_t at = kBusDataOffset + b * kBusDataSize;
    if (at + kBusDataSize > reply.size()) break;
    Bus bus;
    bus.path = static_cast<std::uint8_t>(b);
    const std::size_t units = reply[at];
    std::uint32_t offset = le32(reply, at + 4).value_or(0);
    std::set<std::uint32_t> seen;  // a chain that comes back to a unit ends there
    while (offset != 0 && bus.units.size() < units && seen.insert(offset).second) {
      if (offset > reply.size() || reply.size() - offset < kUnitHeaderSize) break;
      if (total == kMostUnitsPerPort) {
        if (too_many != nullptr) *too_many = true;
        buses.push_back(std::move(bus));
        return buses;
      }
      Unit u;
      u.path = reply[offset];
      u.target = reply[offset + 1];
      u.lun = reply[offset + 2];
      u.claimed = reply[offset + 3] != 0;
      const std::uint32_t length = le32(reply, offset + 4).value_or(0);
      const std::size_t data = offset + kUnitHeaderSize;
      const std::size_t n = std::min<std::size_t>(
          {static_cast<std::size_t>(length), reply.size() - data, kKeptInquiryBytes});
      u.inquiry.assign(reply.begin() + static_cast<std::ptrdiff_t>(data),
                       reply.begin() + static_cast<std::ptrdiff_t>(data + n));
      bus.units.push_back(std::move(u));
      ++total;
      offset = le32(reply, offset + 8).value_or(0);
    }
    buses.push_back(std::move(bus));
  }
  return buses;
}

std::vector<Adapter> number_adapters(const std::vector<std::pair<int, std::vector<Bus>>>& ports) {
  std::vector<Adapter> adapters;
  for (const auto& [port, buses] : ports) {
    for (const Bus& bus : buses) adapters.push_back({port, bus.path, bus.units});
  }
  return adapters;
}

Request make_request(const ScsiRequestBlock& block, std::uint8_t path) {
  Request r;
  r.path = path;
  r.target = block.target;
  r.lun = block.lun;
  r.cdb_length = std::min<std::uint8_t>(block.cdb_length, 16);
  std::memcpy(r.cdb.data(), block.cdb, r.cdb_length);
  const bool commit = block.cdb[0] == 0x3B && block.data_length == 0;
  r.timeout_seconds = commit ? kCommitTimeoutSeconds : kTimeoutSeconds;
  return r;
}

std::uint8_t complete_block(ScsiRequestBlock& block, const Outcome& outcome) {
  if (!outcome.call_ok) {
    block.host_status = outcome.error == kErrorSemTimeout ? kHostCommandTimeout : kHostBusReset;
    return kSsErr;
  }
  block.host_status = 0;
  block.target_status = outcome.scsi_status;
  to_fixed_sense(outcome.sense, block.sense);
  if (outcome.scsi_status == 0 && outcome.data_out && outcome.taken < outcome.sent) {
    block.host_status = kHostDataOverrun;
    return kSsErr;
  }
  return outcome.scsi_status == kTargetCheckCondition ? kSsErr : kSsComp;
}

}  // namespace fwload::spti
