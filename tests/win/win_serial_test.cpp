// The serial port's device control block and the request block's layout, as Windows sees them.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstddef>
#include <cstring>

#include "platform/win32/win32_serial.h"
#include "platform/srb.h"

namespace fwload {
namespace {

TEST(Win32Serial, DeviceControlBlockFieldByField) {
  DCB dcb;
  std::memset(&dcb, 0xFF, sizeof dcb);  // whatever the driver reported before
  fill_dcb(dcb, LineSettings{});
  EXPECT_EQ(sizeof(DCB), 28u);
  EXPECT_EQ(dcb.DCBlength, 28u);
  EXPECT_EQ(dcb.BaudRate, 19200u);
  EXPECT_EQ(dcb.fBinary, 1u);
  EXPECT_EQ(dcb.fParity, 1u);
  EXPECT_EQ(dcb.fOutxCtsFlow, 1u);
  EXPECT_EQ(dcb.fOutxDsrFlow, 0u);
  EXPECT_EQ(dcb.fDtrControl, static_cast<DWORD>(DTR_CONTROL_ENABLE));
  EXPECT_EQ(dcb.fDsrSensitivity, 0u);
  EXPECT_EQ(dcb.fTXContinueOnXoff, 0u);
  EXPECT_EQ(dcb.fOutX, 0u);
  EXPECT_EQ(dcb.fInX, 0u);
  EXPECT_EQ(dcb.fErrorChar, 0u);
  EXPECT_EQ(dcb.fNull, 0u);
  EXPECT_EQ(dcb.fRtsControl, static_cast<DWORD>(RTS_CONTROL_HANDSHAKE));
  EXPECT_EQ(dcb.fAbortOnError, 0u);
  EXPECT_EQ(dcb.fDummy2, 0u);
  EXPECT_EQ(dcb.wReserved, 0);
  EXPECT_EQ(dcb.XonLim, 100);
  EXPECT_EQ(dcb.XoffLim, 100);
  EXPECT_EQ(dcb.ByteSize, 8);
  EXPECT_EQ(dcb.Parity, EVENPARITY);
  EXPECT_EQ(dcb.StopBits, ONESTOPBIT);
  EXPECT_EQ(dcb.XonChar, 0x11);
  EXPECT_EQ(dcb.XoffChar, 0x13);
  EXPECT_EQ(dcb.ErrorChar, 0);
  EXPECT_EQ(dcb.EofChar, 0);
  EXPECT_EQ(dcb.EvtChar, 0);
  EXPECT_EQ(dcb.wReserved1, 0);

  LineSettings dsr;
  dsr.flow_flags = 0x07;
  fill_dcb(dcb, dsr);
  EXPECT_EQ(dcb.fOutxDsrFlow, 1u);
  EXPECT_EQ(dcb.fDtrControl, static_cast<DWORD>(DTR_CONTROL_HANDSHAKE));
  EXPECT_EQ(dcb.fOutX, 1u);
  EXPECT_EQ(dcb.fInX, 1u);
  EXPECT_EQ(dcb.fRtsControl, static_cast<DWORD>(RTS_CONTROL_HANDSHAKE));
}

TEST(Win32Serial, AMissingPortDoesNotOpen) {
  auto devices = make_platform_serial_devices();
  EXPECT_FALSE(devices->open("COM9"));
}

// The managers' table is the 32-bit layout; the 64-bit test build (for machines that run no
// 32-bit programs) carries pointers of 8 bytes and is not an ASPI binary interface.
#if !defined(_WIN64)
TEST(RequestBlock, LayoutOfTheManagersTable) {
  EXPECT_EQ(sizeof(ScsiRequestBlock), 80u);
  EXPECT_EQ(offsetof(ScsiRequestBlock, status), 1u);
  EXPECT_EQ(offsetof(ScsiRequestBlock, flags), 3u);
  EXPECT_EQ(offsetof(ScsiRequestBlock, target), 8u);
  EXPECT_EQ(offsetof(ScsiRequestBlock, data_length), 12u);
  EXPECT_EQ(offsetof(ScsiRequestBlock, data_buffer), 16u);
  EXPECT_EQ(offsetof(ScsiRequestBlock, sense_length), 20u);
  EXPECT_EQ(offsetof(ScsiRequestBlock, cdb_length), 21u);
  EXPECT_EQ(offsetof(ScsiRequestBlock, host_status), 22u);
  EXPECT_EQ(offsetof(ScsiRequestBlock, target_status), 23u);
  EXPECT_EQ(offsetof(ScsiRequestBlock, post_routine), 24u);
  EXPECT_EQ(offsetof(ScsiRequestBlock, cdb), 48u);
  EXPECT_EQ(offsetof(ScsiRequestBlock, sense), 64u);
}
#endif

}  // namespace
}  // namespace fwload
