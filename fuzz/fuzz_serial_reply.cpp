// Arbitrary bytes from the serial line: the status poll, the acknowledgement wait and the
// identity query take whatever the line brings, in pieces of whatever size.
#include <algorithm>
#include <deque>

#include "fuzz/fuzz_support.h"
#include "serial/serial.h"

namespace {

class FuzzLine : public fwload::SerialPort {
 public:
  FuzzLine(const std::uint8_t* data, std::size_t size, fwload::TimerState& timer)
      : data_(data), size_(size), timer_(timer) {}
  void setup_queues(std::size_t, std::size_t) override {}
  void set_timeouts(const fwload::SerialTimeouts&) override {}
  void purge(unsigned flags) override {
    // Discarding what was received: the next byte of the input decides how much of it.
    if ((flags & fwload::kPurgeRxClear) && pos_ < size_) pos_ += data_[pos_] % 8;
  }
  bool configure(const fwload::LineSettings&) override { return true; }
  void set_dtr(bool) override {}
  int read(std::uint8_t* buffer, std::size_t want) override {
    if (pos_ >= size_) {
      if (++empty_ % 2 == 0 && timer_.SerialTicksLeft > 0) --timer_.SerialTicksLeft;
      return 0;
    }
    // The first byte of each piece says how long the piece is.
    std::size_t n = 1 + data_[pos_++] % 16;
    n = std::min({n, want, size_ - pos_});
    std::memcpy(buffer, data_ + pos_, n);
    pos_ += n;
    return static_cast<int>(n);
  }
  int write(const std::uint8_t*, std::size_t size) override { return static_cast<int>(size); }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
  int empty_ = 0;
  fwload::TimerState& timer_;
};

class FuzzDevices : public fwload::SerialDevices {
 public:
  FuzzDevices(const std::uint8_t* d, std::size_t s, fwload::TimerState& t) : d_(d), s_(s), t_(t) {}
  std::unique_ptr<fwload::SerialPort> open(const std::string&) override {
    return std::make_unique<FuzzLine>(d_, s_, t_);
  }

 private:
  const std::uint8_t* d_;
  std::size_t s_;
  fwload::TimerState& t_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace fwload;
  fuzz::QuietUi ui;
  TimerState timer;
  FuzzDevices devices(data, size, timer);
  SerialState state;
  SerialIo io{ui, devices, timer, PortList{0, {"COM1"}}};
  ResetSerialSettings(state);
  if (OpenSerialPort(state, io) == 1) {
    PollScannerStatus(state, io);
    timer.SerialTicksLeft = kAcknowledgeTicks;
    WaitForAcknowledge(state, io);
    CloseSerialPort(state);
  }
  ReadScannerInfoSerial(state, io);
  return 0;
}
