// fwscanner: the emulated scanner on a serial line. It creates a pseudo-terminal, makes LINK a
// symbolic link to its terminal side, and answers there as the scanner does. With --scsi it
// puts emulated SCSI scanners behind the kernel's SCSI target instead (emulator/tcmu_*).
//
//   fwscanner --serial LINK [--model mv730|other] [--fault FAULT,...] [--pace]
//             [--mecha V] [--imprinter V] [--image-out FILE] [--log FILE]
//   fwscanner --scsi MODEL[:FAULT,...] [--scsi ...] [--log FILE]
//
// Runs until it is sent SIGTERM or SIGINT. With --pace it takes and delivers bytes at the line
// rate of 19200 baud, 8 data bits, even parity, 1 stop bit (11 bits a byte), each direction
// paced to absolute deadlines so that a late wake-up never adds up. On exit it reports the
// bytes carried each way and the time from the first byte to the last (stdout and the log).
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <thread>
#include <tuple>
#include <vector>

#include "emulator/serial_scanner.h"
#include "emulator/tcmu_scanner.h"
#include "res/version.h"

namespace {

volatile sig_atomic_t g_stop = 0;
void on_signal(int) {
  g_stop = 1;
}

using Clock = std::chrono::steady_clock;
// One byte at 19200 baud with 11 bits a byte: 572.9 us.
constexpr auto kByteTime = std::chrono::nanoseconds(11'000'000'000LL / 19200);

// One direction of the line: a byte is taken or delivered one byte time after the later of
// the previous byte's deadline and the moment it was there to go.
struct Direction {
  Clock::time_point free{};
  std::uint64_t bytes = 0;
  Clock::time_point deadline(Clock::time_point moment) {
    free = std::max(free, moment) + kByteTime;
    ++bytes;
    return free;
  }
};

struct Line {
  bool pace = false;
  Direction in, out;  // host to scanner, scanner to host
  Clock::time_point first{}, last{};
  void carried(Clock::time_point moment) {
    if (in.bytes + out.bytes == 1) first = moment;
    last = moment;
  }
  std::string report() const {
    const double seconds = std::chrono::duration<double>(last - first).count();
    char text[160];
    std::snprintf(text, sizeof text,
                  "line: %llu bytes host to scanner, %llu bytes scanner to host, %.6f s from the "
                  "first byte to the last",
                  static_cast<unsigned long long>(in.bytes),
                  static_cast<unsigned long long>(out.bytes), seconds);
    return text;
  }
};

const char* kUsage =
    "usage: fwscanner --serial LINK [--model mv730|other] [--fault FAULT,...] [--pace]\n"
    "                 [--mecha V] [--imprinter V] [--image-out FILE] [--log FILE]\n"
    "   or: fwscanner --scsi MODEL[:FAULT,...] [--scsi ...] [--log FILE]\n"
    "   or: fwscanner --help | --version\n"
    "\n"
    "An emulated TR-MM family scanner on a serial line: makes LINK a link to a pseudo-terminal\n"
    "and answers there as the scanner does (status to ENQ, ACK or NAK for every frame, the\n"
    "image reassembled, the identity reply), until it is ended (SIGINT or SIGTERM).\n"
    "\n"
    "  --serial LINK      the link to the pseudo-terminal to make (a program opens LINK)\n"
    "  --model MODEL      mv730 (the supported serial model, default) or other\n"
    "  --fault FAULT,...  what to do wrong; frames count from 0, a transfer's start frame:\n"
    "                     silent nak=K error=K nostx biglen busy=N writing=N noimprinter\n"
    "                     shortid=N reset=K\n"
    "  --pace             run the line at 19200 baud 8E1 (11 bits a byte), as a real one\n"
    "  --mecha V          the mecha-control unit version it starts with (default 1.23)\n"
    "  --imprinter V      the imprinter unit version it starts with (default 2.01); a\n"
    "                     complete image brings its unit's own version\n"
    "  --image-out FILE   write the image received to FILE when a transfer completes\n"
    "  --log FILE         write one line per frame and event to FILE (with --scsi, one line\n"
    "                     per command, each starting with the scanner's target)\n"
    "  --scsi MODEL[:FAULT,...]\n"
    "                     instead of a serial line, the emulated SCSI scanner MODEL (as\n"
    "                     fwload-cli --emulate names them, with its faults; target=N, default\n"
    "                     3) on this machine's SCSI stack, behind the kernel's SCSI target\n"
    "                     (target_core_user, tcm_loop; as root): prints MODEL /dev/sgN H:C:T:L\n"
    "                     once the kernel has attached it; once per scanner\n"
    "  -h, --help         print this help\n"
    "  -V, --version      print the version\n";

bool write_all(int fd, const std::uint8_t* data, std::size_t size, Line& line) {
  std::size_t sent = 0;
  const Clock::time_point written = Clock::now();
  bool due = false;  // paced: the next byte's deadline has been kept, it waits to be written
  while (sent < size && !g_stop) {
    const std::size_t chunk = line.pace ? 1 : size - sent;
    if (line.pace && !due) {
      std::this_thread::sleep_until(line.out.deadline(written));
      due = true;
    }
    const ssize_t n = write(fd, data + sent, chunk);
    if (n > 0) {
      if (!line.pace) line.out.bytes += static_cast<std::size_t>(n);
      due = false;
      sent += static_cast<std::size_t>(n);
      line.carried(Clock::now());
    } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
      return false;
    } else {
      pollfd p{fd, POLLOUT, 0};
      poll(&p, 1, 100);
    }
  }
  return sent == size;
}

}  // namespace

int main(int argc, char** argv) {
  std::string link, model, faults, image_out, log_path, mecha, imprinter;
  std::vector<std::string> scsi;
  Line line;
  for (int i = 1; i < argc; ++i) {
    const std::string_view a = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "fwscanner: %s needs a value\n%s", argv[i], kUsage);
        std::exit(2);
      }
      return argv[++i];
    };
    if (a == "--serial")
      link = value();
    else if (a == "--model")
      model = value();
    else if (a == "--fault")
      faults = value();
    else if (a == "--scsi")
      scsi.push_back(value());
    else if (a == "--mecha")
      mecha = value();
    else if (a == "--imprinter")
      imprinter = value();
    else if (a == "--pace")
      line.pace = true;
    else if (a == "--image-out")
      image_out = value();
    else if (a == "--log")
      log_path = value();
    else if (a == "-h" || a == "--help") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (a == "-V" || a == "--version") {
      std::printf("fwscanner %s\n", FWLOAD_VERSION_TEXT);
      return 0;
    } else {
      std::fprintf(stderr, "fwscanner: unknown option %s\n%s", argv[i], kUsage);
      return 2;
    }
  }
  if (!scsi.empty()) {
    // The SCSI scanners are served in this process; the serial options mean nothing there.
    if (!link.empty() || !model.empty() || !faults.empty() || line.pace || !image_out.empty() ||
        !mecha.empty() || !imprinter.empty()) {
      std::fprintf(stderr, "fwscanner: --scsi takes no serial line options (%s)\n%s",
                   !link.empty() ? "--serial"
                                 : "--model, --fault, --pace, --image-out, --mecha, --imprinter",
                   kUsage);
      return 2;
    }
    return fwload::emulator::run_tcmu_scanners(scsi, log_path);
  }
  if (link.empty()) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  if (model.empty()) model = "mv730";
  std::string error;
  auto config = fwload::emulator::parse_serial_config(model, faults, &error);
  if (!config) {
    std::fprintf(stderr, "fwscanner: %s\n", error.c_str());
    return 2;
  }
  for (const auto& [option, version, unit] :
       {std::tuple{"--mecha", &mecha, &config->mecha},
        std::tuple{"--imprinter", &imprinter, &config->imprinter}}) {
    if (version->empty()) continue;
    if (version->size() > 4) {
      std::fprintf(stderr, "fwscanner: %s takes at most 4 characters\n", option);
      return 2;
    }
    *unit = *version;
  }

  const int master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
    std::perror("fwscanner: pseudo-terminal");
    return 1;
  }
  const char* terminal = ptsname(master);
  if (terminal == nullptr) {
    std::perror("fwscanner: ptsname");
    return 1;
  }
  // The scanner keeps the terminal side open itself, so the line stays up while the tool opens
  // and closes the port between operations; and raw, so nothing is echoed before the tool sets
  // the line up.
  const int keep = open(terminal, O_RDWR | O_NOCTTY | O_CLOEXEC);
  termios line_at_rest{};
  const bool can_rest = keep >= 0 && tcgetattr(keep, &line_at_rest) == 0;
  if (can_rest) {
    cfmakeraw(&line_at_rest);
    tcsetattr(keep, TCSANOW, &line_at_rest);
  }
  unlink(link.c_str());
  if (symlink(terminal, link.c_str()) != 0) {
    std::fprintf(stderr, "fwscanner: cannot make %s: %s\n", link.c_str(), std::strerror(errno));
    return 1;
  }
  signal(SIGTERM, on_signal);
  signal(SIGINT, on_signal);
  std::printf("ready %s -> %s\n", link.c_str(), terminal);
  std::fflush(stdout);

  std::FILE* log = log_path.empty() ? nullptr : std::fopen(log_path.c_str(), "a");
  fwload::emulator::SerialScanner scanner(*config);
  std::size_t logged = 0;
  bool image_written = false;
  std::uint8_t buffer[512];
  auto last_traffic = std::chrono::steady_clock::now();
  bool at_rest = true;
  while (!g_stop) {
    pollfd p{master, POLLIN, 0};
    if (poll(&p, 1, 100) <= 0) {
      // A pseudo-terminal has no parity: the kernel drops the bit, and the C library then
      // refuses the next setting that asks for parity at an unchanged speed. A real line keeps
      // its settings; this one is put back to its first settings whenever it has been quiet a
      // while, so each new session of the tool sets it up from the start (raw all along, so
      // no byte is touched).
      if (!at_rest && can_rest &&
          std::chrono::steady_clock::now() - last_traffic > std::chrono::milliseconds(300)) {
        tcsetattr(keep, TCSANOW, &line_at_rest);
        at_rest = true;
      }
      continue;
    }
    last_traffic = std::chrono::steady_clock::now();
    at_rest = false;
    // What is there; paced, each byte is taken at its deadline as the line would bring it.
    const ssize_t n = read(master, buffer, sizeof buffer);
    if (n <= 0) {
      // No one has the terminal open right now: wait for the tool to open it again.
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      continue;
    }
    const Clock::time_point arrived = Clock::now();
    for (ssize_t i = 0; i < n && !g_stop; ++i) {
      if (line.pace) {
        std::this_thread::sleep_until(line.in.deadline(arrived));
      } else {
        ++line.in.bytes;
      }
      line.carried(Clock::now());
      const std::vector<std::uint8_t> answer = scanner.receive(std::span(buffer + i, 1));
      // A reply goes out at once, before the next byte is taken (the protocol waits for it).
      if (!answer.empty()) write_all(master, answer.data(), answer.size(), line);
    }
    if (log != nullptr) {
      for (; logged < scanner.log().size(); ++logged) {
        std::fprintf(log, "%s\n", scanner.log()[logged].c_str());
      }
      std::fflush(log);
    }
    if (scanner.image_complete() && !image_written && !image_out.empty()) {
      if (std::FILE* f = std::fopen(image_out.c_str(), "wb")) {
        std::fwrite(scanner.image().data(), 1, scanner.image().size(), f);
        std::fclose(f);
      }
      image_written = true;
    }
    if (!scanner.image_complete()) image_written = false;
  }
  const std::string report = line.report();
  std::printf("%s\n", report.c_str());
  if (log != nullptr) {
    std::fprintf(log, "%s\n", report.c_str());
    std::fclose(log);
  }
  unlink(link.c_str());
  if (keep >= 0) close(keep);
  close(master);
  return 0;
}
