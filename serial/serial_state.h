// The serial port's state and the buffers of the line exchange.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/timer_state.h"
#include "platform/serial_device.h"
#include "platform/ui.h"

namespace fwload {

inline constexpr std::size_t kTransmitBuffer = 512;
inline constexpr std::size_t kReplyBuffer = 1024;

struct SerialState {
  std::unique_ptr<SerialPort> portHandle;  // the open port; null when none is open
  int portOpen = 0;
  std::string portName;  // the port list entry chosen ("COM1", "COM2", or a device path)
  std::uint16_t baudRate = 19200;
  std::uint8_t byteSize = 8;
  std::uint8_t flowFlags = 0x02;
  std::uint8_t parity = 2;
  std::uint8_t stopBits = 0;
  std::array<std::uint8_t, kTransmitBuffer> transmit{};
  std::array<std::uint8_t, kReplyBuffer> reply{};
  // Frames the last download wrote to the line (0: the scanner was sent nothing of it).
  std::uint32_t frames_sent = 0;
};

// The port list of the main window: its entries and the selected index (-1: none).
struct PortList {
  int selected = -1;
  std::vector<std::string> entries;
};

// What the serial operations use of the platform.
struct SerialIo {
  Ui& ui;
  SerialDevices& devices;
  TimerState& timer;
  PortList ports;
};

}  // namespace fwload
