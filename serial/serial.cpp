#include "serial/serial.h"

#include <chrono>
#include <cstring>
#include <string>

#include "res/string_table.h"

namespace fwload {
namespace {

constexpr int kPollFailures = 10;  // the 11th failure ends a poll
// A scanner that stays busy this long is taken as gone.
constexpr std::chrono::minutes kBusyLimit{15};
// Failing write calls of one frame before the operation is given up.
constexpr int kWriteAttempts = 3;
constexpr std::string_view kCaption = "Serial Communication Error";
constexpr std::string_view kNoDevice = "No device !";

std::uint16_t reply_length(const SerialState& s) {
  return static_cast<std::uint16_t>((s.reply[3] << 8) | s.reply[4]);
}

void pump(SerialIo& io) {
  io.ui.pump_one();
  io.ui.wait_cursor();
}

// Writes a frame; a failing write call shows `message` and the frame is written again, up to
// kWriteAttempts calls. Returns false when every call failed.
bool write_frame(SerialState& s, SerialIo& io, std::size_t length, std::string_view message) {
  for (int attempt = 0; attempt < kWriteAttempts; ++attempt) {
    if (s.portHandle && s.portHandle->write(s.transmit.data(), length) >= 0) {
      ++s.frames_sent;
      return true;
    }
    io.ui.message_box(kCaption, message);
  }
  return false;
}

}  // namespace

void ResetSerialSettings(SerialState& s) {
  s.portHandle.reset();
  s.portOpen = 0;
  s.baudRate = 19200;
  s.byteSize = 8;
  s.flowFlags = 0x02;
  s.parity = 2;
  s.stopBits = 0;
}

int ConfigureSerialPort(SerialState& s) {
  LineSettings settings;
  settings.baud_rate = s.baudRate;
  settings.byte_size = s.byteSize;
  settings.flow_flags = s.flowFlags;
  settings.parity = s.parity;
  settings.stop_bits = s.stopBits;
  return s.portHandle && s.portHandle->configure(settings) ? 1 : 0;
}

int OpenSerialPort(SerialState& s, SerialIo& io) {
  int index = io.ports.selected;
  if (index < 0 || index >= 2) index = 0;
  s.portName = static_cast<std::size_t>(index) < io.ports.entries.size()
                   ? io.ports.entries[static_cast<std::size_t>(index)]
                   : std::string("COM1");
  s.portHandle = io.devices.open(s.portName);
  if (!s.portHandle) return 0;
  s.portHandle->setup_queues(1024, 512);
  s.portHandle->set_timeouts(SerialTimeouts{});
  s.portHandle->purge(kPurgeTxAbort | kPurgeRxAbort | kPurgeTxClear | kPurgeRxClear);
  if (ConfigureSerialPort(s) == 1) {
    s.portOpen = 1;
    s.portHandle->set_dtr(true);
    return 1;
  }
  s.portOpen = 0;
  s.portHandle.reset();
  return 0;
}

int CloseSerialPort(SerialState& s) {
  if (s.portHandle) {
    s.portHandle->set_dtr(false);
    s.portHandle->purge(kPurgeTxAbort | kPurgeRxAbort | kPurgeTxClear | kPurgeRxClear);
    s.portHandle.reset();
  }
  s.portOpen = 0;
  return 1;
}

std::uint8_t XorChecksum(const std::uint8_t* bytes, std::uint16_t count) {
  std::uint8_t sum = bytes[0];
  for (std::uint16_t i = 1; i < count; ++i) sum ^= bytes[i];
  return sum;
}

std::size_t build_frame(std::span<std::uint8_t> out, std::uint8_t command,
                        std::span<const std::uint8_t> data) {
  const std::size_t n = data.size();
  if (n > 0xFFFF || n + 7 > out.size()) return 0;
  out[0] = kStx;
  out[1] = command;
  out[2] = 0x00;
  out[3] = static_cast<std::uint8_t>(n >> 8);
  out[4] = static_cast<std::uint8_t>(n);
  if (n > 0) std::memcpy(out.data() + 5, data.data(), n);
  out[5 + n] = kEtx;
  out[6 + n] = XorChecksum(out.data() + 1, static_cast<std::uint16_t>(n + 5));
  return n + 7;
}

int PollScannerStatus(SerialState& s, SerialIo& io) {
  if (!s.portHandle) return 0;
  SerialPort& port = *s.portHandle;
  int failures = 0;
  const auto busy_until = std::chrono::steady_clock::now() + kBusyLimit;
  for (;;) {
    if (failures > kPollFailures || io.ui.interrupted()) return 0;
    // Nothing of an earlier reply may pass for part of this one.
    s.reply.fill(0);
    const std::uint8_t enq = kEnq;
    while (port.write(&enq, 1) != 1) {
      if (++failures > kPollFailures) return 0;
      pump(io);
    }
    const int first = port.read(s.reply.data(), 5);
    // The window is served after every read, also one that brought nothing: a silent line
    // would otherwise leave it unserved for the whole poll.
    pump(io);
    if (first <= 0) {
      // Nothing came back: one failure, and the scanner is asked again.
      ++failures;
      continue;
    }
    std::size_t received = static_cast<std::size_t>(first);
    std::size_t remaining = 10;
    if (received == 5) {
      remaining = static_cast<std::size_t>(reply_length(s)) + 2;
      if (received + remaining > s.reply.size()) {
        // A length beyond the reply buffer: the reply cannot be taken.
        port.purge(kPurgeRxAbort | kPurgeRxClear);
        return 0;
      }
    }
    for (;;) {
      const int n = port.read(s.reply.data() + received, remaining);
      if (n == static_cast<int>(remaining)) {
        port.purge(kPurgeRxAbort | kPurgeRxClear);
        break;
      }
      pump(io);
      if (io.ui.interrupted()) return 0;
      if (n <= 0) {
        // The rest of the reply does not come: counted like a missing reply.
        if (++failures > kPollFailures) return 0;
        continue;
      }
      received += static_cast<std::size_t>(n);
      remaining -= static_cast<std::size_t>(n);
    }
    if (s.reply[0] != kStx) return 0;
    if (s.reply[1] == 0x20 || s.reply[1] == 0x80) {
      if (std::chrono::steady_clock::now() > busy_until) return 0;
      continue;
    }
    return 1;
  }
}

int WaitForAcknowledge(SerialState& s, SerialIo& io) {
  if (!s.portHandle) return 0;
  for (;;) {
    const int n = s.portHandle->read(s.reply.data(), 1);
    pump(io);
    if (n == 1) break;
    if (io.ui.interrupted()) return 0;
    // The caller loads the acknowledgement time-out into the timer's serial ticks; a line
    // that fails or stays silent past it ends the wait.
    if (n < 0 || io.timer.SerialTicksLeft == 0) return 0;
  }
  if (s.reply[0] != kAck) return 0;
  if (PollScannerStatus(s, io) == 0) return 0;
  return s.reply[1] == 0x00 ? 1 : 0;
}

bool serial_file_suits(const FirmwareState& file) {
  return file.FirmwareTargetCode == 3 || file.FirmwareTargetCode == 4;
}

void refuse_serial_file(Ui& ui) {
  ui.message_box(table_string(kStrDownLoadCaption), table_string(kStrFileNotForScanner));
}

int SerialDownload(SerialState& s, SerialIo& io, const FirmwareState& file) {
  s.frames_sent = 0;
  // A file for another scanner never reaches the line: the scanner would take its first
  // 0x20000 bytes as its own firmware.
  if (!serial_file_suits(file)) {
    refuse_serial_file(io.ui);
    return 0;
  }
  io.ui.wait_cursor();
  ArrowOnExit restore_cursor(io.ui);
  pump(io);
  // A failure the user's interrupt caused is not reported.
  auto fail = [&](std::string_view text) {
    CloseSerialPort(s);
    if (!io.ui.interrupted()) io.ui.message_box(kCaption, text);
    return 0;
  };
  ResetSerialSettings(s);
  if (OpenSerialPort(s, io) == 0) {
    CloseSerialPort(s);
    io.ui.message_box("Serial Communication error", "Serial Open Error");
    return 0;
  }
  pump(io);
  std::uint32_t remaining = kSerialImageSize;
  if (PollScannerStatus(s, io) == 0) {
    return fail("No Scanner !");
  }
  pump(io);
  if (file.image.size() < kSerialImageSize) {
    return fail("Sending Start code failed !");
  }

  // Before the end frame the scanner has saved nothing: a stop asked for leaves it as it was.
  auto stopped = [&] {
    if (!io.ui.stop_requested()) return false;
    CloseSerialPort(s);
    return true;
  };
  if (stopped()) return 0;
  const std::uint8_t unit = file.download_target_code;
  const std::uint8_t marker[6] = {unit, 0, 0, 0, 0, 0};
  std::size_t length = build_frame(s.transmit, kCommandTransfer, marker);
  io.timer.SerialTicksLeft = kAcknowledgeTicks;
  if (!write_frame(s, io, length, "Sending Startcode failed !") || WaitForAcknowledge(s, io) == 0) {
    return fail("Sending Start code failed !");
  }

  ProgressMeter progress(io.ui);
  std::uint8_t block[2 + 4 + kSerialBlock];
  for (std::uint32_t offset = 0; offset < kSerialImageSize; offset += kSerialBlock) {
    if (stopped()) return 0;
    block[0] = unit;
    block[1] = 0;
    block[2] = static_cast<std::uint8_t>(offset >> 24);
    block[3] = static_cast<std::uint8_t>(offset >> 16);
    block[4] = static_cast<std::uint8_t>(offset >> 8);
    block[5] = static_cast<std::uint8_t>(offset);
    std::memcpy(block + 6, file.image.data() + offset, kSerialBlock);
    length = build_frame(s.transmit, kCommandTransfer, block);
    io.timer.SerialTicksLeft = kAcknowledgeTicks;
    if (!write_frame(s, io, length, "Sending Intermediate code failed !") ||
        WaitForAcknowledge(s, io) == 0) {
      return fail("Sending Intermediate code failed !");
    }
    remaining -= kSerialBlock;
    progress.report(static_cast<int>(100 - remaining * 100u / kSerialImageSize));
    pump(io);
  }

  if (stopped()) return 0;
  length = build_frame(s.transmit, kCommandTransfer, marker);
  io.timer.SerialTicksLeft = kAcknowledgeTicks;
  io.ui.scanner_saving(true);
  const bool saved =
      write_frame(s, io, length, "Sending End code failed !") && WaitForAcknowledge(s, io) == 1;
  io.ui.scanner_saving(false);
  if (saved) {
    CloseSerialPort(s);
    return 1;
  }
  return fail("Sending End code failed !");
}

int plan_serial_download(SerialState& s, SerialIo& io) {
  ResetSerialSettings(s);
  if (OpenSerialPort(s, io) == 0) {
    CloseSerialPort(s);
    io.ui.message_box("Serial Communication error", "Serial Open Error");
    return 0;
  }
  const int present = PollScannerStatus(s, io);
  CloseSerialPort(s);
  if (present == 0 && !io.ui.interrupted()) io.ui.message_box(kCaption, "No Scanner !");
  return present;
}

ScannerRows ReadScannerInfoSerial(SerialState& s, SerialIo& io) {
  bool failed = false;
  ResetSerialSettings(s);
  if (OpenSerialPort(s, io) == 0) {
    CloseSerialPort(s);
    io.ui.arrow_cursor();
    io.ui.message_box(kCaption, "Serial Open Error !");
    failed = true;
  }
  if (!failed && PollScannerStatus(s, io) == 0) {
    failed = true;
    CloseSerialPort(s);
    io.ui.arrow_cursor();
    if (!io.ui.interrupted()) io.ui.message_box(kCaption, "No scanner !");
  }
  if (!failed) {
    const std::uint8_t zeros[8] = {};
    const std::size_t length = build_frame(s.transmit, kCommandIdentity, zeros);
    io.timer.SerialTicksLeft = kAcknowledgeTicks;
    // The reply must carry both version fields (16 data bytes); a shorter one is a failed
    // query, not versions made of whatever the buffer held.
    if (!write_frame(s, io, length, "Sending Startcode error !") ||
        WaitForAcknowledge(s, io) == 0 || reply_length(s) < 16) {
      failed = true;
      CloseSerialPort(s);
      io.ui.arrow_cursor();
      if (!io.ui.interrupted()) io.ui.message_box(kCaption, "Can't get Version !");
    }
  }

  ScannerRows rows;
  rows.version_label = {std::string(table_string(kStrMechaControlVersion)),
                        std::string(table_string(kStrImprinterVersion)), "", ""};
  rows.host_label = std::string(table_string(kStrSerialPortId));
  rows.host = s.portName;
  rows.target_label = std::string();
  rows.target = "";
  if (failed) {
    const std::string none(kNoDevice);
    rows.vendor = rows.product = none;
    rows.version_value = {none, none, "", ""};
  } else {
    // The two version texts end at data offset 16.
    const std::uint8_t* data = s.reply.data() + 5;
    s.reply[5 + 16] = 0;
    auto text = [&](std::size_t offset) {
      const char* t = reinterpret_cast<const char*>(data + offset);
      return std::string(t, strnlen(t, 4));
    };
    const bool supported = data[4] == 0x02 && data[5] == 0x00;
    rows.vendor = supported ? "Q.T.R." : "Undefined !";
    rows.product = supported ? "TR-MV730" : "Undefined !";
    rows.version_value = {text(8), data[12] == 0 ? std::string(table_string(kStrNone)) : text(12),
                          "", ""};
  }
  CloseSerialPort(s);
  return rows;
}

}  // namespace fwload
