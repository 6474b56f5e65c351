// The emulated scanners behind an ASPI manager: requests complete on a thread of their own
// after the configured latency, as a real manager completes them, writing the results and then
// the status byte. Several scanners share one bus, each at its own adapter and target; the
// manager-wide faults (support info, entry points, no manager) are the first scanner's.
#pragma once

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "emulator/scanner.h"
#include "platform/aspi.h"

namespace fwload::emulator {

class EmulatedAspi : public AspiModule {
 public:
  // With `own_thread` the requests complete on a worker thread of this object; without it the
  // caller completes each sent request with complete() on a thread of its own.
  explicit EmulatedAspi(std::shared_ptr<Scanner> scanner, bool own_thread = true);
  explicit EmulatedAspi(std::vector<std::shared_ptr<Scanner>> scanners, bool own_thread = true);
  ~EmulatedAspi() override;

  bool has_entry(std::string_view entry) override;
  std::uint32_t get_support_info() override;
  void send_command(ScsiRequestBlock& srb) override;
  void abort(ScsiRequestBlock& srb) override;
  std::string device_path(std::uint8_t adapter, std::uint8_t target) override;
  std::string manager_name() override { return "emulated ASPI manager"; }

  Scanner& scanner() { return *scanners_.front(); }
  // Whether a request is held pending for good ("hangcommit").
  bool holds_hung_request();
  // Waits the configured latency, executes the request and writes its results and status.
  void complete(ScsiRequestBlock& srb);

 private:
  void run();
  int adapters() const;
  // The adapter a scanner is on ("badadapter" moves it off the invalid adapter 0).
  static int adapter_of(const Scanner& scanner);
  bool adapter_invalid(int adapter) const;
  Scanner* scanner_at(int adapter, int target) const;

  std::vector<std::shared_ptr<Scanner>> scanners_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable done_;
  std::deque<ScsiRequestBlock*> queue_;
  ScsiRequestBlock* running_ = nullptr;
  ScsiRequestBlock* hung_ = nullptr;  // the request "hangcommit" keeps pending
  bool stopping_ = false;
  bool own_thread_;
  std::thread worker_;
};

// Loads the emulated manager (every load shares the one scanner, as a real bus would).
class EmulatedAspiLoader : public AspiLoader {
 public:
  explicit EmulatedAspiLoader(std::shared_ptr<Scanner> scanner) : scanners_{std::move(scanner)} {}
  explicit EmulatedAspiLoader(std::vector<std::shared_ptr<Scanner>> scanners)
      : scanners_(std::move(scanners)) {}
  std::unique_ptr<AspiModule> load(std::string_view name) override;
  int loads() const { return loads_; }

 private:
  std::vector<std::shared_ptr<Scanner>> scanners_;
  int loads_ = 0;
};

}  // namespace fwload::emulator
