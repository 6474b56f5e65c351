// The emulated scanner, serial side: the scanner's half of the line protocol. It answers ENQ
// with its status, acknowledges every valid frame (NAK for a bad one), checks each transfer
// frame (checksum, length, offsets in order, the same unit code), reassembles the 0x20000-byte
// image, and answers the identity request. Bytes in, bytes out: fwscanner puts it on a
// pseudo-terminal, the tests behind a loopback port.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace fwload::emulator {

struct SerialFaults {
  bool silent = false;  // "silent": never answers anything
  // Frames of a transfer are counted from 0, its start frame; identity queries are not.
  int nak_frame = -1;    // "nak=K": frame K (from 0, the start frame) gets NAK
  int error_frame = -1;  // "error=K": the poll after frame K's ACK reports an error
  std::uint8_t error_status = 0x41;
  bool no_stx = false;        // "nostx": status replies do not start with STX
  bool long_length = false;   // "biglen": status replies carry a length of 0x0500
  int busy_polls = 0;         // "busy=N": the first N polls answer busy (0x20)
  int busy_after_end = 2;     // "writing=N": polls answered busy after the end frame
  bool no_imprinter = false;  // "noimprinter": the identity reports no imprinter unit
  int identity_bytes = 16;    // "shortid=N": the identity reply carries only N data bytes
  int reset_frame = -1;  // "reset=K": the scanner restarts after frame K and forgets the transfer
};

struct SerialConfig {
  // "mv730": the supported serial model; "other": a model the tool does not know.
  std::string model = "mv730";
  SerialFaults faults;
  // The unit versions it starts with (4 characters; a file's own version replaces the unit's
  // once its image is complete).
  std::string mecha = "1.23";
  std::string imprinter = "2.01";
};

// Parses "FAULT,FAULT,..." for `model`; an error text when not understood.
std::optional<SerialConfig> parse_serial_config(std::string_view model, std::string_view faults,
                                                std::string* error);

class SerialScanner {
 public:
  explicit SerialScanner(SerialConfig config);

  // Bytes from the host; returns what the scanner sends back.
  std::vector<std::uint8_t> receive(std::span<const std::uint8_t> bytes);

  // The image the transfer reassembled (0x20000 bytes once complete).
  const std::vector<std::uint8_t>& image() const { return image_; }
  bool image_complete() const { return complete_; }
  std::uint8_t unit_code() const { return unit_; }
  int frames() const { return frames_; }
  int polls() const { return polls_; }
  const std::vector<std::string>& log() const { return log_; }

 private:
  void byte(std::uint8_t b, std::vector<std::uint8_t>& out);
  void frame_done(std::vector<std::uint8_t>& out);
  void status_reply(std::vector<std::uint8_t>& out);
  void note(std::string line);

  SerialConfig config_;
  std::vector<std::uint8_t> frame_;
  bool in_frame_ = false;
  int frames_ = 0;
  int transfer_frames_ = 0;  // the frames of transfers, as the faults count them
  int polls_ = 0;
  int busy_left_ = 0;
  std::uint8_t pending_status_ = 0;
  std::vector<std::uint8_t> pending_data_;
  bool started_ = false;
  bool complete_ = false;
  std::uint8_t unit_ = 0;
  std::uint32_t next_offset_ = 0;
  std::vector<std::uint8_t> image_;
  std::string mecha_version_;  // a complete image brings its unit's own version
  std::string imprinter_version_;
  std::vector<std::string> log_;
};

}  // namespace fwload::emulator
