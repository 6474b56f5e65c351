// The emulated scanners behind an ASPI manager: requests complete on threads of their own
// after the configured latency, as a real manager completes them, writing the results and then
// the status byte. Several scanners share one bus, each at its own adapter and target; each
// answers one command at a time, and different scanners answer at the same time (a scanner
// that saves its firmware does not hold the bus). The manager-wide faults (support info, entry
// points, no manager) are the first scanner's.
#pragma once

#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "emulator/scanner.h"
#include "platform/aspi.h"

namespace fwload::emulator {

class EmulatedAspi : public AspiModule {
 public:
  // With `own_thread` the requests complete on worker threads of this object (one per
  // scanner, one for the addresses without one); without it the caller completes each sent
  // request with complete() on a thread of its own.
  explicit EmulatedAspi(std::shared_ptr<Scanner> scanner, bool own_thread = true);
  explicit EmulatedAspi(std::vector<std::shared_ptr<Scanner>> scanners, bool own_thread = true);
  ~EmulatedAspi() override;

  bool has_entry(std::string_view entry) override;
  std::uint32_t get_support_info() override;
  void send_command(ScsiRequestBlock& srb) override;
  // Gives a pending block back at once, ended as aborted (a request not yet begun is never
  // executed); only a request a "hang" fault holds stays pending.
  void abort(ScsiRequestBlock& srb) override;
  std::string device_path(std::uint8_t adapter, std::uint8_t target) override;
  std::string manager_name() override { return "emulated ASPI manager"; }

  Scanner& scanner() { return *scanners_.front(); }
  // Whether a request is held pending for good (a "hang" fault).
  bool holds_hung_request();
  // Waits the configured latency, executes the request sent on `srb` and writes its results
  // and status (nothing when it was given back meanwhile).
  void complete(ScsiRequestBlock& srb);

 private:
  // One request: the block as it was sent and a copy of its data, so that a request given
  // back writes nothing of the caller's.
  struct Job {
    ScsiRequestBlock* srb = nullptr;  // the caller's block; null once given back
    ScsiRequestBlock sent{};
    std::vector<std::uint8_t> data;
    Scanner* scanner = nullptr;
    bool started = false;
  };
  struct Worker {
    std::deque<std::shared_ptr<Job>> queue;
    std::thread thread;
  };

  void run(Worker& worker);
  void execute(Job& job);
  // The request a "hang" fault of `scanner` holds, answered late (see Faults::hang_read) when
  // the next request to that scanner arrives.
  void answer_hung_request(Scanner* scanner);
  // Whether `srb` is the block of a request a fault holds (the lock held).
  bool held_locked(const ScsiRequestBlock& srb) const;
  int adapters() const;
  // The adapter a scanner is on ("badadapter" moves it off the invalid adapter 0).
  static int adapter_of(const Scanner& scanner);
  bool adapter_invalid(int adapter) const;
  Scanner* scanner_at(int adapter, int target) const;

  std::vector<std::shared_ptr<Scanner>> scanners_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::vector<std::shared_ptr<Job>> jobs_;  // sent and not ended
  std::map<Scanner*, Worker> workers_;      // null: the addresses without a scanner
  // Each scanner's "hang" faults: the request one keeps pending, and which have hung (each
  // hangs once). One scanner's hung request holds up no other scanner.
  struct Hang {
    std::shared_ptr<Job> job;
    bool inquiry = false, read = false, commit = false, block = false;
  };
  std::map<Scanner*, Hang> hangs_;
  bool stopping_ = false;
  bool own_thread_;
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
