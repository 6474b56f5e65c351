// The serial transport: the port with its fixed line settings, the frames and the two
// exchanges on the line, the download and the scanner's identity.
#pragma once

#include <cstdint>
#include <span>

#include "core/scanner_rows.h"
#include "firmware/firmware_state.h"
#include "serial/serial_state.h"

namespace fwload {

inline constexpr std::uint8_t kStx = 0x02;
inline constexpr std::uint8_t kEtx = 0x03;
inline constexpr std::uint8_t kEnq = 0x05;
inline constexpr std::uint8_t kAck = 0x06;
inline constexpr std::uint8_t kNak = 0x15;
inline constexpr std::uint8_t kCommandTransfer = 0x60;
inline constexpr std::uint8_t kCommandIdentity = 0x01;
inline constexpr std::uint32_t kSerialImageSize = 0x20000;
inline constexpr std::uint32_t kSerialBlock = 256;
// Timer ticks (seconds) a frame's acknowledgement may take.
inline constexpr int kAcknowledgeTicks = 4;

// Port (the fixed settings; open, configure, close).
void ResetSerialSettings(SerialState& state);
int OpenSerialPort(SerialState& state, SerialIo& io);
int ConfigureSerialPort(SerialState& state);
int CloseSerialPort(SerialState& state);

// Line exchange.
std::uint8_t XorChecksum(const std::uint8_t* bytes, std::uint16_t count);
// Writes the frame STX, command, 0, N (2 bytes), data, ETX, checksum into `out`; returns its
// length (N + 7), or 0 when it does not fit.
std::size_t build_frame(std::span<std::uint8_t> out, std::uint8_t command,
                        std::span<const std::uint8_t> data);
int PollScannerStatus(SerialState& state, SerialIo& io);
int WaitForAcknowledge(SerialState& state, SerialIo& io);

// Whether the file is for the scanner on the serial line: a TR-MM730 unit file (model code 3
// NUMBERING or 4 MECHA-CONTROL).
bool serial_file_suits(const FirmwareState& file);
// Tells that the file is not for the scanner ("DownLoad Message").
void refuse_serial_file(Ui& ui);

// The download of image[0 .. 0x1FFFF] with the file's unit code; 1 on success, 0 after the
// message of the failure. A file serial_file_suits refuses is refused before the port is
// opened. The port is closed on every path.
int SerialDownload(SerialState& state, SerialIo& io, const FirmwareState& file);

// Everything before the first frame: opens the port and asks the scanner for its status.
// Returns 1 when a scanner answers (the port is closed again), 0 after the message.
int plan_serial_download(SerialState& state, SerialIo& io);

// The About dialog's scanner rows from the identity query; the port is closed afterwards.
ScannerRows ReadScannerInfoSerial(SerialState& state, SerialIo& io);

}  // namespace fwload
