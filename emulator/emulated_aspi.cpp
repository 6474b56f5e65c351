#include "emulator/emulated_aspi.h"

#include <algorithm>
#include <chrono>
#include <cstring>

namespace fwload::emulator {
namespace {

constexpr std::uint8_t kHostSelectionTimeout = 0x11;

// A device that is no scanner: a disk of a supported vendor at target 0.
void answer_disk(ScsiRequestBlock& srb) {
  if (srb.cdb[0] == 0x12 && srb.data_buffer != nullptr) {
    std::uint8_t reply[96] = {};
    reply[0] = 0x00;
    std::memcpy(reply + 8, "ORVEL   ", 8);
    std::memcpy(reply + 16, "Service Disk    ", 16);
    std::memcpy(reply + 32, "0001", 4);
    std::memcpy(srb.data_buffer, reply, srb.data_length < 96 ? srb.data_length : 96);
  }
  srb.target_status = 0;
}

}  // namespace

EmulatedAspi::EmulatedAspi(std::shared_ptr<Scanner> scanner, bool own_thread)
    : EmulatedAspi(std::vector<std::shared_ptr<Scanner>>{std::move(scanner)}, own_thread) {}

EmulatedAspi::EmulatedAspi(std::vector<std::shared_ptr<Scanner>> scanners, bool own_thread)
    : scanners_(std::move(scanners)), own_thread_(own_thread) {
  if (own_thread_) worker_ = std::thread([this] { run(); });
}

EmulatedAspi::~EmulatedAspi() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  if (worker_.joinable()) worker_.join();
  // Requests never completed are ended as aborted, so no caller waits on them.
  for (ScsiRequestBlock* srb : queue_) store_status(*srb, kSsAborted);
}

bool EmulatedAspi::has_entry(std::string_view entry) {
  return entry != scanners_.front()->config().faults.missing_entry &&
         (entry == "GetASPI32SupportInfo" || entry == "SendASPI32Command");
}

int EmulatedAspi::adapter_of(const Scanner& scanner) {
  const Faults& f = scanner.config().faults;
  return f.invalid_adapter && f.adapter == 0 ? 1 : f.adapter;
}

bool EmulatedAspi::adapter_invalid(int adapter) const {
  if (adapter != 0) return false;
  for (const auto& s : scanners_) {
    if (s->config().faults.invalid_adapter) return true;
  }
  return false;
}

int EmulatedAspi::adapters() const {
  int count = 1;
  for (const auto& s : scanners_) count = std::max(count, adapter_of(*s) + 1);
  return count;
}

Scanner* EmulatedAspi::scanner_at(int adapter, int target) const {
  for (const auto& s : scanners_) {
    const Faults& f = s->config().faults;
    if (adapter_of(*s) == adapter && f.target == target && !f.no_scanner && s->present()) {
      return s.get();
    }
  }
  return nullptr;
}

std::uint32_t EmulatedAspi::get_support_info() {
  const auto status = static_cast<std::uint32_t>(scanners_.front()->config().faults.support_status);
  return (status << 8) | static_cast<std::uint32_t>(adapters());
}

std::string EmulatedAspi::device_path(std::uint8_t adapter, std::uint8_t target) {
  const Scanner* s = scanner_at(adapter, target);
  return s != nullptr ? "emulated " + s->config().model->name : std::string();
}

bool EmulatedAspi::holds_hung_request() {
  std::lock_guard<std::mutex> lock(mutex_);
  return hung_ != nullptr;
}

void EmulatedAspi::send_command(ScsiRequestBlock& srb) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    // The block of a request the manager still holds belongs to the manager.
    if (&srb == hung_) scanners_.front()->remark("REQUEST BLOCK REUSED WHILE PENDING");
  }
  store_status(srb, kSsPending);
  if (!own_thread_) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    queue_.push_back(&srb);
  }
  wake_.notify_all();
}

void EmulatedAspi::abort(ScsiRequestBlock& srb) {
  {
    // Accepted, and the request stays pending.
    std::lock_guard<std::mutex> lock(mutex_);
    if (&srb == hung_) return;
  }
  if (!own_thread_) {
    // The completing thread is the caller's; the request ends when it has written the status.
    while (load_status(srb) == kSsPending)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return;
  }
  std::unique_lock<std::mutex> lock(mutex_);
  for (auto it = queue_.begin(); it != queue_.end(); ++it) {
    if (*it == &srb) {
      queue_.erase(it);
      store_status(srb, kSsAborted);
      return;
    }
  }
  done_.wait(lock, [&] { return running_ != &srb; });
}

void EmulatedAspi::run() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    wake_.wait(lock, [&] { return stopping_ || !queue_.empty(); });
    if (stopping_) return;
    running_ = queue_.front();
    queue_.pop_front();
    lock.unlock();
    complete(*running_);
    lock.lock();
    running_ = nullptr;
    done_.notify_all();
  }
}

void EmulatedAspi::complete(ScsiRequestBlock& srb) {
  Scanner* scanner = srb.lun == 0 ? scanner_at(srb.host_adapter, srb.target) : nullptr;
  const Faults& f = (scanner != nullptr ? scanner : scanners_.front().get())->config().faults;
  const bool commit = srb.cdb[0] == 0x3B && srb.data_length == 0;
  const int delay = commit && f.commit_ms >= 0 ? f.commit_ms : f.latency_ms;
  if (delay > 0) std::this_thread::sleep_for(std::chrono::milliseconds(delay));
  if (scanner != nullptr && commit && f.hang_commit) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (hung_ == nullptr) {
      hung_ = &srb;
      scanner->remark("COMMIT HANGS");
      return;
    }
  }

  std::uint8_t status = kSsComp;
  bool disk_here = false;  // a scanner on this adapter away from target 0 leaves a disk there
  for (const auto& s : scanners_) {
    disk_here = disk_here || (adapter_of(*s) == srb.host_adapter && s->config().faults.target != 0);
  }
  if (srb.command != kScExecScsiCmd) {
    status = kSsInvalidSrb;
  } else if (srb.host_adapter >= adapters() || adapter_invalid(srb.host_adapter)) {
    status = kSsInvalidHa;
  } else if (scanner != nullptr) {
    const Completion c =
        scanner->execute(srb.cdb, srb.cdb_length, srb.data_buffer, srb.data_length);
    srb.target_status = c.target_status;
    if (c.target_status == 2) {
      std::memset(srb.sense, 0, sizeof srb.sense);
      srb.sense[0] = 0x70;
      srb.sense[2] = c.sense.key;
      srb.sense[7] = 10;
      srb.sense[12] = c.sense.asc;
      srb.sense[13] = c.sense.ascq;
      status = kSsErr;
    }
  } else if (srb.target == 0 && disk_here) {
    answer_disk(srb);
  } else {
    srb.host_status = kHostSelectionTimeout;
    status = kSsErr;
  }
  store_status(srb, status);
}

std::unique_ptr<AspiModule> EmulatedAspiLoader::load(std::string_view) {
  ++loads_;
  if (scanners_.front()->config().faults.no_manager) return nullptr;
  return std::make_unique<EmulatedAspi>(scanners_);
}

}  // namespace fwload::emulator
