#include "platform/win32/win32_serial.h"

#include <string>

namespace fwload {
namespace {

class Win32SerialPort : public SerialPort {
 public:
  explicit Win32SerialPort(HANDLE handle) : handle_(handle) {}
  ~Win32SerialPort() override { CloseHandle(handle_); }

  void setup_queues(std::size_t input, std::size_t output) override {
    SetupComm(handle_, static_cast<DWORD>(input), static_cast<DWORD>(output));
  }
  void set_timeouts(const SerialTimeouts& t) override {
    COMMTIMEOUTS c{};
    c.ReadIntervalTimeout = t.read_interval;
    c.ReadTotalTimeoutMultiplier = t.read_total_multiplier;
    c.ReadTotalTimeoutConstant = t.read_total_constant;
    c.WriteTotalTimeoutMultiplier = t.write_total_multiplier;
    c.WriteTotalTimeoutConstant = t.write_total_constant;
    SetCommTimeouts(handle_, &c);
  }
  void purge(unsigned flags) override { PurgeComm(handle_, flags); }
  bool configure(const LineSettings& settings) override {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    GetCommState(handle_, &dcb);
    fill_dcb(dcb, settings);
    return SetCommState(handle_, &dcb) != FALSE;
  }
  void set_dtr(bool raised) override { EscapeCommFunction(handle_, raised ? SETDTR : CLRDTR); }
  int read(std::uint8_t* buffer, std::size_t size) override {
    DWORD got = 0;
    if (!ReadFile(handle_, buffer, static_cast<DWORD>(size), &got, nullptr)) return -1;
    return static_cast<int>(got);
  }
  int write(const std::uint8_t* data, std::size_t size) override {
    DWORD sent = 0;
    if (!WriteFile(handle_, data, static_cast<DWORD>(size), &sent, nullptr)) return -1;
    return static_cast<int>(sent);
  }

 private:
  HANDLE handle_;
};

class Win32SerialDevices : public SerialDevices {
 public:
  std::unique_ptr<SerialPort> open(const std::string& name) override {
    HANDLE handle = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return nullptr;
    return std::make_unique<Win32SerialPort>(handle);
  }
};

}  // namespace

void fill_dcb(DCB& dcb, const LineSettings& s) {
  dcb.DCBlength = 28;
  dcb.BaudRate = s.baud_rate;
  dcb.fBinary = 1;
  dcb.fParity = 1;
  dcb.fOutxCtsFlow = (s.flow_flags & 0x02) ? 1 : 0;
  dcb.fOutxDsrFlow = (s.flow_flags & 0x01) ? 1 : 0;
  dcb.fDtrControl = (s.flow_flags & 0x01) ? DTR_CONTROL_HANDSHAKE : DTR_CONTROL_ENABLE;
  dcb.fDsrSensitivity = 0;
  dcb.fTXContinueOnXoff = 0;
  dcb.fOutX = (s.flow_flags & 0x04) ? 1 : 0;
  dcb.fInX = (s.flow_flags & 0x04) ? 1 : 0;
  dcb.fErrorChar = 0;
  dcb.fNull = 0;
  dcb.fRtsControl = RTS_CONTROL_HANDSHAKE;
  dcb.fAbortOnError = 0;
  dcb.fDummy2 = 0;
  dcb.wReserved = 0;
  dcb.XonLim = 100;
  dcb.XoffLim = 100;
  dcb.ByteSize = s.byte_size;
  dcb.Parity = s.parity;
  dcb.StopBits = s.stop_bits;
  dcb.XonChar = 0x11;
  dcb.XoffChar = 0x13;
  dcb.ErrorChar = 0;
  dcb.EofChar = 0;
  dcb.EvtChar = 0;
  dcb.wReserved1 = 0;
}

std::unique_ptr<SerialDevices> make_platform_serial_devices() {
  return std::make_unique<Win32SerialDevices>();
}

}  // namespace fwload
