// An ASPI-shaped layer over the Windows SCSI pass-through interface, for a machine without an
// ASPI manager. Adapters are the (port, path id) pairs that answer IOCTL_SCSI_GET_INQUIRY_DATA
// on \\.\Scsi0: to \\.\Scsi31:, numbered in that order; each request runs as one
// IOCTL_SCSI_PASS_THROUGH_DIRECT on a thread of its own, so that SendASPI32Command returns with
// the request pending; a request given up is cancelled in the driver. The pass-through needs
// administrator rights, and reaches no device a Windows class driver has claimed.
#pragma once

#include <windows.h>

#include <ntddscsi.h>

#include <cstddef>
#include <memory>
#include <string>

#include "platform/aspi.h"
#include "platform/aspi_loader.h"

namespace fwload {

// What the layer uses of the system; tests put in their own. Failures leave their code for
// GetLastError(). The ports are opened for overlapped I/O: Windows completes the calls on a
// handle opened without it one at a time, so that one request the device never answers would
// hold up every later one on that port until the driver's own time-out.
class SptiSystem {
 public:
  virtual ~SptiSystem() = default;
  // CreateFileA(name, read and write, shared, OPEN_EXISTING, `flags`): INVALID_HANDLE_VALUE
  // on failure.
  virtual HANDLE create_file(const char* name, DWORD flags) = 0;
  // DeviceIoControl. On a port opened with FILE_FLAG_OVERLAPPED `overlapped` is required (its
  // hEvent an event of the caller's); a call that does not end at once returns FALSE with
  // ERROR_IO_PENDING and ends later (overlapped_result).
  virtual BOOL device_io_control(HANDLE device, DWORD code, void* in, DWORD in_size, void* out,
                                 DWORD out_size, DWORD* returned, OVERLAPPED* overlapped) = 0;
  // GetOverlappedResult: with `wait`, returns when the call has ended.
  virtual BOOL overlapped_result(HANDLE device, OVERLAPPED* overlapped, DWORD* returned,
                                 BOOL wait) = 0;
  // CancelIoEx for one call (Windows Vista and later; FALSE where the system has none): the
  // call then ends soon, as aborted.
  virtual BOOL cancel_io(HANDLE device, OVERLAPPED* overlapped) = 0;
  virtual void close_handle(HANDLE device) = 0;
};

// The real system: CreateFileA, DeviceIoControl, GetOverlappedResult, CancelIoEx, CloseHandle.
std::shared_ptr<SptiSystem> make_windows_spti_system();

// SCSI_PASS_THROUGH_DIRECT with the sense bytes that follow it (SenseInfoOffset names them).
struct SptdWithSense {
  SCSI_PASS_THROUGH_DIRECT sptd;
  ULONG filler;  // keeps the sense bytes on a four-byte boundary
  UCHAR sense[32];
};
#if !defined(_WIN64)
static_assert(sizeof(SCSI_PASS_THROUGH_DIRECT) == 44, "32-bit SCSI_PASS_THROUGH_DIRECT");
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, DataBuffer) == 20);
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, Cdb) == 28);
static_assert(offsetof(SptdWithSense, sense) == 48);
static_assert(sizeof(SptdWithSense) == 80);
#endif

inline constexpr int kSptiPorts = 32;  // \\.\Scsi0: to \\.\Scsi31:
inline constexpr char kSptiManagerName[] = "Windows SCSI pass-through";

// The pass-through layer when it finds at least one adapter; else null with the reason in
// `why_not` ("no adapter (...)", or the system's error text for a port that exists but cannot
// be opened). `notice` receives one line each time discovery meets a device a Windows driver has
// claimed.
std::unique_ptr<AspiModule> load_spti_module(std::shared_ptr<SptiSystem> system, AspiNotice notice,
                                             std::string* why_not);

// The system's text for an error code, without the line break Windows ends it with.
std::string system_error_text(DWORD error);

}  // namespace fwload
