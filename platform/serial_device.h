// The serial port as the serial code uses it. Win32: CreateFileA & co with the device control
// block; POSIX: termios with the same behaviour (a read returns when the bytes asked for have
// come, or after 500 ms with what has; a write held back by the handshake returns short).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace fwload {

// The fixed line settings, in the platform's numbering (parity 2 = even, stop bits 0 = one).
struct LineSettings {
  std::uint32_t baud_rate = 19200;
  std::uint8_t byte_size = 8;
  std::uint8_t flow_flags = 0x02;  // bit 0 DSR/DTR, bit 1 CTS/RTS, bit 2 XON/XOFF
  std::uint8_t parity = 2;
  std::uint8_t stop_bits = 0;
};

struct SerialTimeouts {
  std::uint32_t read_interval = 0xFFFFFFFF;
  std::uint32_t read_total_multiplier = 0;
  std::uint32_t read_total_constant = 500;
  std::uint32_t write_total_multiplier = 0;
  std::uint32_t write_total_constant = 500;
};

// Purge flags, as PurgeComm takes them.
inline constexpr unsigned kPurgeTxAbort = 0x01;
inline constexpr unsigned kPurgeRxAbort = 0x02;
inline constexpr unsigned kPurgeTxClear = 0x04;
inline constexpr unsigned kPurgeRxClear = 0x08;

class SerialPort {
 public:
  // Closing the port (CloseHandle).
  virtual ~SerialPort() = default;
  virtual void setup_queues(std::size_t input, std::size_t output) = 0;
  virtual void set_timeouts(const SerialTimeouts& timeouts) = 0;
  virtual void purge(unsigned flags) = 0;
  // Reads the current settings and writes them back with `settings`; false when refused.
  virtual bool configure(const LineSettings& settings) = 0;
  virtual void set_dtr(bool raised) = 0;
  // Bytes read, fewer (0: none) after the 500 ms time-out, or -1 when the read call fails.
  virtual int read(std::uint8_t* buffer, std::size_t size) = 0;
  // Bytes written (fewer when the line held them back), or -1 when the write call fails.
  virtual int write(const std::uint8_t* data, std::size_t size) = 0;
};

class SerialDevices {
 public:
  virtual ~SerialDevices() = default;
  // Opens the port by name (read and write, not shared, existing only); null when that fails.
  virtual std::unique_ptr<SerialPort> open(const std::string& name) = 0;
};

std::unique_ptr<SerialDevices> make_platform_serial_devices();

}  // namespace fwload
