// The emulated scanner as a device of the kernel's SCSI target: it serves one backstore's
// command ring with the scanner model, as the in-process manager, the DLL and the pty server
// are its other front ends. The faults that live in a front end are here: the time a command
// takes (latency, commit-ms), and the commands held without an answer (hang=, hangblock=),
// which the kernel fails after its own time-out (30 s, NOT READY 08/00) or aborts.
#pragma once

#include <atomic>
#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "emulator/scanner.h"
#include "emulator/tcmu_ring.h"

namespace fwload::emulator {

class TcmuScanner {
 public:
  // Serves `ring` (taken over) with a scanner of `config`; `log` receives the scanner's log
  // lines and this front end's own.
  TcmuScanner(const EmulatorConfig& config, tcmu_ring* ring,
              std::function<void(const std::string&)> log);
  ~TcmuScanner();
  TcmuScanner(const TcmuScanner&) = delete;
  TcmuScanner& operator=(const TcmuScanner&) = delete;

  // From now on the commands reach the scanner with its faults: what the kernel asked while it
  // attached the device (INQUIRY, TEST UNIT READY) counted for none of them.
  void attached() { attached_ = true; }
  // From now on no command is held, and those held are answered: the scanner is about to be
  // taken away (while it is still served, so that the kernel can finish with it).
  void release_held() { release_ = true; }
  // Serves the ring until `stop` is set, then answers every command still held or waiting.
  void serve(const std::atomic<bool>& stop);

 private:
  struct Open {
    tcmu_ring_request request;
    std::chrono::steady_clock::time_point due;  // when it is answered
    std::chrono::steady_clock::time_point arrived;
    bool held = false;  // a fault holds it: no answer until aborted or the kernel fails it
  };
  void arrive(const tcmu_ring_request& request);
  void execute(const Open& open);
  void answer(std::uint16_t id, std::uint8_t status, std::uint8_t key, std::uint8_t asc,
              std::uint8_t ascq);
  bool hangs(const tcmu_ring_request& request);

  tcmu_ring* ring_;
  std::function<void(const std::string&)> log_;
  Scanner scanner_;      // the scanner with its faults, once attached
  Scanner attach_time_;  // the same model without faults, for the kernel's attach
  std::atomic<bool> attached_{false};
  std::atomic<bool> release_{false};
  std::deque<std::unique_ptr<Open>> open_;  // in the order they arrived
  std::chrono::steady_clock::time_point last_due_{};
  bool hung_inquiry_ = false, hung_read_ = false, hung_commit_ = false, hung_block_ = false;
  bool completed_ = false;  // completions not told to the kernel yet
};

}  // namespace fwload::emulator

namespace fwload::emulator {

// fwscanner --scsi MODEL[:FAULT,...] (one per scanner): puts the emulated scanners on this
// machine's SCSI stack behind the kernel's target, prints "MODEL /dev/sgN H:C:T:L" for each once
// the kernel has attached it, and serves them until SIGINT or SIGTERM; then it answers what is
// held, removes what it made and returns 0. 1 when the kernel's target cannot be used (one line
// says what to do), 2 for a fault that means nothing behind the kernel.
int run_tcmu_scanners(const std::vector<std::string>& specs, const std::string& log_path);

}  // namespace fwload::emulator
