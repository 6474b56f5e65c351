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
  explicit EmulatedAspi(std::shared_ptr<Scanner> scanner);
  ~EmulatedAspi() override;

  bool has_entry(std::string_view entry) override;
  std::uint32_t get_support_info() override;
  void send_command(ScsiRequestBlock& srb) override;
  void abort(ScsiRequestBlock& srb) override;

  Scanner& scanner() { return *scanner_; }

 private:
  void run();
  void complete(ScsiRequestBlock& srb);
  int adapters() const;

  std::shared_ptr<Scanner> scanner_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable done_;
  std::deque<ScsiRequestBlock*> queue_;
  ScsiRequestBlock* running_ = nullptr;
  bool stopping_ = false;
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
