// The ASPI request block that executes one SCSI command (our own layout, from the manager's
// published table: 80 bytes on 32-bit Windows): the binary interface between the SCSI code,
// which builds requests in it, and the managers (platform/aspi.h), which carry them.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace fwload {

inline constexpr std::uint8_t kScExecScsiCmd = 2;
inline constexpr std::uint8_t kScAbortSrb = 3;
inline constexpr std::uint8_t kSrbDirIn = 0x08;
inline constexpr std::uint8_t kSrbDirOut = 0x10;

// ASPI request status values.
inline constexpr std::uint8_t kSsPending = 0x00;
inline constexpr std::uint8_t kSsComp = 0x01;
inline constexpr std::uint8_t kSsAborted = 0x02;
inline constexpr std::uint8_t kSsErr = 0x04;
inline constexpr std::uint8_t kSsInvalidHa = 0x81;
inline constexpr std::uint8_t kSsNoDevice = 0x82;
inline constexpr std::uint8_t kSsInvalidSrb = 0xE0;
inline constexpr std::uint8_t kSsNoAdapters = 0xE8;
inline constexpr std::uint8_t kSsFailedInit = 0xE4;

inline constexpr std::uint8_t kTargetCheckCondition = 0x02;
inline constexpr std::uint8_t kTargetBusy = 0x08;
inline constexpr std::size_t kSenseLength = 14;

struct ScsiRequestBlock {
  std::uint8_t command;        // 0: kScExecScsiCmd
  std::uint8_t status;         // 1: written by the manager, 0 while pending
  std::uint8_t host_adapter;   // 2
  std::uint8_t flags;          // 3: kSrbDirIn / kSrbDirOut, no posting, no event
  std::uint32_t reserved1;     // 4
  std::uint8_t target;         // 8
  std::uint8_t lun;            // 9
  std::uint16_t reserved2;     // 10
  std::uint32_t data_length;   // 12
  std::uint8_t* data_buffer;   // 16
  std::uint8_t sense_length;   // 20
  std::uint8_t cdb_length;     // 21
  std::uint8_t host_status;    // 22: written by the manager
  std::uint8_t target_status;  // 23: written by the manager
  void* post_routine;          // 24
  std::uint8_t reserved3[20];  // 28
  std::uint8_t cdb[16];        // 48
  std::uint8_t sense[16];      // 64: fixed-format sense data, written by the manager
};

#if defined(_WIN32) && !defined(_WIN64)
static_assert(sizeof(ScsiRequestBlock) == 80, "the request block is 80 bytes on 32-bit Windows");
static_assert(offsetof(ScsiRequestBlock, data_buffer) == 16);
static_assert(offsetof(ScsiRequestBlock, target_status) == 23);
static_assert(offsetof(ScsiRequestBlock, post_routine) == 24);
static_assert(offsetof(ScsiRequestBlock, cdb) == 48);
static_assert(offsetof(ScsiRequestBlock, sense) == 64);
#endif

// The request block that asks the manager to abort another one.
struct AbortRequestBlock {
  std::uint8_t command;  // kScAbortSrb
  std::uint8_t status;
  std::uint8_t host_adapter;
  std::uint8_t flags;
  std::uint32_t reserved;
  void* to_abort;
};
#if defined(_WIN32) && !defined(_WIN64)
static_assert(offsetof(AbortRequestBlock, to_abort) == 8);
#endif

// The manager completes a request on its own thread by writing the results and then the
// status byte; these read and write the status byte as that hand-over needs.
inline std::uint8_t load_status(ScsiRequestBlock& srb) {
  return std::atomic_ref<std::uint8_t>(srb.status).load(std::memory_order_acquire);
}
inline void store_status(ScsiRequestBlock& srb, std::uint8_t status) {
  std::atomic_ref<std::uint8_t>(srb.status).store(status, std::memory_order_release);
}

}  // namespace fwload
