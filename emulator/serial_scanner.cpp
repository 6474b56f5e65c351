#include "emulator/serial_scanner.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>

namespace fwload::emulator {
namespace {

constexpr std::uint8_t kStx = 0x02, kEtx = 0x03, kEnq = 0x05, kAck = 0x06, kNak = 0x15;
constexpr std::uint32_t kImage = 0x20000;
constexpr std::size_t kLongestFrame = 5 + 262 + 2;

bool parse_int(std::string_view text, int& value) {
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc() && end == text.data() + text.size();
}

std::string hex(std::uint32_t v, int digits) {
  char b[16];
  std::snprintf(b, sizeof b, "%0*X", digits, v);
  return b;
}

}  // namespace

std::optional<SerialConfig> parse_serial_config(std::string_view model, std::string_view faults,
                                                std::string* error) {
  auto fail = [&](std::string text) -> std::optional<SerialConfig> {
    if (error != nullptr) *error = std::move(text);
    return std::nullopt;
  };
  SerialConfig c;
  if (model != "mv730" && model != "other")
    return fail("unknown serial model '" + std::string(model) + "'");
  c.model = std::string(model);
  SerialFaults& f = c.faults;
  while (!faults.empty()) {
    const std::size_t comma = faults.find(',');
    const std::string_view item = faults.substr(0, comma);
    faults = comma == std::string_view::npos ? std::string_view{} : faults.substr(comma + 1);
    const std::size_t eq = item.find('=');
    const std::string_view key = item.substr(0, eq);
    const std::string_view value =
        eq == std::string_view::npos ? std::string_view{} : item.substr(eq + 1);
    bool ok = true;
    if (key == "silent" && value.empty()) {
      f.silent = true;
    } else if (key == "nak") {
      ok = parse_int(value, f.nak_frame) && f.nak_frame >= 0;
    } else if (key == "error") {
      ok = parse_int(value, f.error_frame) && f.error_frame >= 0;
    } else if (key == "nostx" && value.empty()) {
      f.no_stx = true;
    } else if (key == "biglen" && value.empty()) {
      f.long_length = true;
    } else if (key == "busy") {
      ok = parse_int(value, f.busy_polls) && f.busy_polls >= 0;
    } else if (key == "shortid") {
      ok = parse_int(value, f.identity_bytes) && f.identity_bytes >= 0 && f.identity_bytes < 16;
    } else if (key == "noimprinter" && value.empty()) {
      f.no_imprinter = true;
    } else if (key == "reset") {
      ok = parse_int(value, f.reset_frame) && f.reset_frame >= 0;
    } else if (key == "writing") {
      ok = parse_int(value, f.busy_after_end) && f.busy_after_end >= 0;
    } else {
      ok = false;
    }
    if (!ok) return fail("bad serial fault '" + std::string(item) + "'");
  }
  return c;
}

SerialScanner::SerialScanner(SerialConfig config)
    : config_(std::move(config)),
      mecha_version_(config_.mecha),
      imprinter_version_(config_.imprinter) {
  busy_left_ = config_.faults.busy_polls;
  // Four characters each in the identity reply; a shorter version ends in zero bytes.
  mecha_version_.resize(4, '\0');
  imprinter_version_.resize(4, '\0');
}

void SerialScanner::note(std::string line) {
  log_.push_back(std::move(line));
}

std::vector<std::uint8_t> SerialScanner::receive(std::span<const std::uint8_t> bytes) {
  std::vector<std::uint8_t> out;
  if (config_.faults.silent) return out;
  for (std::uint8_t b : bytes) byte(b, out);
  return out;
}

void SerialScanner::byte(std::uint8_t b, std::vector<std::uint8_t>& out) {
  if (!in_frame_) {
    if (b == kEnq) {
      status_reply(out);
    } else if (b == kStx) {
      in_frame_ = true;
      frame_.assign(1, b);
    } else {
      note("stray byte " + hex(b, 2));
    }
    return;
  }
  frame_.push_back(b);
  if (frame_.size() == 5) {
    const std::size_t n = (static_cast<std::size_t>(frame_[3]) << 8) | frame_[4];
    if (n + 7 > kLongestFrame + 2) {
      note("frame " + std::to_string(frames_) + " too long: " + std::to_string(n));
      ++frames_;
      in_frame_ = false;
      out.push_back(kNak);
    }
    return;
  }
  if (frame_.size() > 5) {
    const std::size_t n = (static_cast<std::size_t>(frame_[3]) << 8) | frame_[4];
    if (frame_.size() == n + 7) frame_done(out);
  }
}

void SerialScanner::frame_done(std::vector<std::uint8_t>& out) {
  in_frame_ = false;
  const int index = frames_++;
  const std::size_t n = (static_cast<std::size_t>(frame_[3]) << 8) | frame_[4];
  std::uint8_t sum = frame_[1];
  for (std::size_t i = 2; i < n + 6; ++i) sum ^= frame_[i];
  const std::uint8_t command = frame_[1];
  // The faults name the frames of a transfer (0: its start frame); an identity query before
  // or after it is not counted.
  const bool counted = command == 0x60;
  const int fault_index = counted ? transfer_frames_++ : -1;
  const bool length_ok = (command == 0x60 && (n == 6 || n == 262)) || (command == 0x01 && n == 8);
  if (frame_[5 + n] != kEtx || sum != frame_[6 + n] || frame_[2] != 0 || !length_ok) {
    note("frame " + std::to_string(index) + " refused: command " + hex(command, 2) + " length " +
         std::to_string(n) + (sum != frame_[6 + n] ? " bad checksum" : ""));
    out.push_back(kNak);
    return;
  }
  if (counted && fault_index == config_.faults.nak_frame) {
    note("frame " + std::to_string(index) + " answered with NAK (fault)");
    out.push_back(kNak);
    return;
  }
  out.push_back(kAck);
  pending_status_ = 0x00;
  pending_data_.clear();
  const std::uint8_t* data = frame_.data() + 5;
  if (command == 0x01) {
    note("identity request");
    pending_data_.assign(16, 0);
    pending_data_[4] = config_.model == "mv730" ? 0x02 : 0x05;
    std::memcpy(pending_data_.data() + 8, mecha_version_.data(), 4);
    if (!config_.faults.no_imprinter)
      std::memcpy(pending_data_.data() + 12, imprinter_version_.data(), 4);
    pending_data_.resize(static_cast<std::size_t>(config_.faults.identity_bytes));
  } else if (n == 6) {
    if (!started_) {
      started_ = true;
      complete_ = false;
      unit_ = data[0];
      next_offset_ = 0;
      image_.assign(kImage, 0xFF);
      note("start U=" + std::to_string(unit_));
    } else if (next_offset_ == kImage && data[0] == unit_) {
      started_ = false;
      complete_ = true;
      busy_left_ = config_.faults.busy_after_end;
      note("end: image complete");
      static constexpr std::string_view kMark = "VERSION = ";
      const auto it = std::search(image_.begin(), image_.end(), kMark.begin(), kMark.end());
      if (it != image_.end() && image_.end() - it >= 14) {
        // A NUMBERING file (unit code 2) is the imprinter's; any other the mecha-control's.
        (unit_ == 2 ? imprinter_version_ : mecha_version_)
            .assign(it + static_cast<std::ptrdiff_t>(kMark.size()),
                    it + static_cast<std::ptrdiff_t>(kMark.size()) + 4);
      }
    } else {
      note("end frame out of place");
      pending_status_ = 0x42;
    }
  } else {
    const std::uint32_t offset = (static_cast<std::uint32_t>(data[2]) << 24) |
                                 (static_cast<std::uint32_t>(data[3]) << 16) |
                                 (static_cast<std::uint32_t>(data[4]) << 8) | data[5];
    if (!started_ || data[0] != unit_ || data[1] != 0 || offset != next_offset_) {
      note("data frame refused: U=" + std::to_string(data[0]) + " offset=" + hex(offset, 6) +
           " expected " + hex(next_offset_, 6));
      pending_status_ = 0x43;
    } else {
      std::memcpy(image_.data() + offset, data + 6, 256);
      next_offset_ += 256;
    }
  }
  if (counted && fault_index == config_.faults.reset_frame) {
    note("reset after frame " + std::to_string(index));
    started_ = false;
    next_offset_ = 0;
  }
  if (counted && fault_index == config_.faults.error_frame) {
    note("frame " + std::to_string(index) + " answered with an error status (fault)");
    pending_status_ = config_.faults.error_status;
  }
}

void SerialScanner::status_reply(std::vector<std::uint8_t>& out) {
  ++polls_;
  std::uint8_t status = pending_status_;
  std::vector<std::uint8_t> data = pending_data_;
  if (busy_left_ > 0) {
    --busy_left_;
    status = 0x20;
    data.clear();
  }
  const std::size_t start = out.size();
  out.push_back(config_.faults.no_stx ? 0x7E : kStx);
  out.push_back(status);
  out.push_back(0x00);
  const std::size_t length = config_.faults.long_length ? 0x0500 : data.size();
  out.push_back(static_cast<std::uint8_t>(length >> 8));
  out.push_back(static_cast<std::uint8_t>(length));
  out.insert(out.end(), data.begin(), data.end());
  out.push_back(kEtx);
  std::uint8_t sum = out[start + 1];
  for (std::size_t i = start + 2; i < out.size(); ++i) sum ^= out[i];
  out.push_back(sum);
}

}  // namespace fwload::emulator
