// The emulated scanner behind an ASPI manager: requests complete on a thread of their own after
// the configured latency, as a real manager completes them, writing the results and then the
// status byte.
#pragma once

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

#include "emulator/scanner.h"
#include "platform/aspi.h"

namespace fwload::emulator {

class EmulatedAspi : public AspiModule {
 public:
  // With `own_thread` the requests complete on a worker thread of this object; without it the
  // caller completes each sent request with complete() on a thread of its own.
  explicit EmulatedAspi(std::shared_ptr<Scanner> scanner, bool own_thread = true);
  ~EmulatedAspi() override;

  bool has_entry(std::string_view entry) override;
  std::uint32_t get_support_info() override;
  void send_command(ScsiRequestBlock& srb) override;
  void abort(ScsiRequestBlock& srb) override;

  Scanner& scanner() { return *scanner_; }
  // Whether a request is held pending for good ("hangcommit").
  bool holds_hung_request();
  // Waits the configured latency, executes the request and writes its results and status.
  void complete(ScsiRequestBlock& srb);

 private:
  void run();
  int adapters() const;

  std::shared_ptr<Scanner> scanner_;
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
  explicit EmulatedAspiLoader(std::shared_ptr<Scanner> scanner) : scanner_(std::move(scanner)) {}
  std::unique_ptr<AspiModule> load(std::string_view name) override;
  int loads() const { return loads_; }

 private:
  std::shared_ptr<Scanner> scanner_;
  int loads_ = 0;
};

}  // namespace fwload::emulator
