#include "emulator/emulated_aspi.h"

#include <algorithm>
#include <chrono>
#include <cstring>

namespace fwload::emulator {
namespace {

constexpr std::uint8_t kHostSelectionTimeout = 0x11;

// A device that is no scanner: a disk of a supported vendor at target 0.
void answer_disk(ScsiRequestBlock& srb, std::uint8_t* data) {
  if (srb.cdb[0] == 0x12 && data != nullptr) {
    std::uint8_t reply[96] = {};
    reply[0] = 0x00;
    std::memcpy(reply + 8, "ORVEL   ", 8);
    std::memcpy(reply + 16, "Service Disk    ", 16);
    std::memcpy(reply + 32, "0001", 4);
    std::memcpy(data, reply, srb.data_length < 96 ? srb.data_length : 96);
  }
  srb.target_status = 0;
}

}  // namespace

EmulatedAspi::EmulatedAspi(std::shared_ptr<Scanner> scanner, bool own_thread)
    : EmulatedAspi(std::vector<std::shared_ptr<Scanner>>{std::move(scanner)}, own_thread) {}

EmulatedAspi::EmulatedAspi(std::vector<std::shared_ptr<Scanner>> scanners, bool own_thread)
    : scanners_(std::move(scanners)), own_thread_(own_thread) {
  if (!own_thread_) return;
  workers_[nullptr];
  for (const auto& s : scanners_) workers_[s.get()];
  for (auto& [scanner, worker] : workers_) {
    Worker* w = &worker;
    worker.thread = std::thread([this, w] { run(*w); });
  }
}

EmulatedAspi::~EmulatedAspi() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  for (auto& [scanner, worker] : workers_) {
    if (worker.thread.joinable()) worker.thread.join();
  }
  // Requests never completed are ended as aborted, so no caller waits on them; a request a
  // fault holds stays as it is.
  std::lock_guard<std::mutex> lock(mutex_);
  for (const auto& job : jobs_) {
    if (job->srb != nullptr && !held_locked(*job->srb)) store_status(*job->srb, kSsAborted);
  }
}

bool EmulatedAspi::held_locked(const ScsiRequestBlock& srb) const {
  for (const auto& [scanner, hang] : hangs_) {
    if (hang.job != nullptr && hang.job->srb == &srb) return true;
  }
  return false;
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
  for (const auto& [scanner, hang] : hangs_) {
    if (hang.job != nullptr) return true;
  }
  return false;
}

void EmulatedAspi::send_command(ScsiRequestBlock& srb) {
  Scanner* const scanner = srb.lun == 0 ? scanner_at(srb.host_adapter, srb.target) : nullptr;
  answer_hung_request(scanner);
  auto job = std::make_shared<Job>();
  job->srb = &srb;
  job->sent = srb;
  if (srb.data_buffer != nullptr && srb.data_length > 0) {
    job->data.assign(srb.data_buffer, srb.data_buffer + srb.data_length);
  }
  job->scanner = scanner;
  store_status(srb, kSsPending);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    // The block of a request the manager still holds belongs to the manager.
    if (held_locked(srb)) scanners_.front()->remark("REQUEST BLOCK REUSED WHILE PENDING");
    jobs_.push_back(job);
    if (own_thread_) workers_[job->scanner].queue.push_back(job);
  }
  wake_.notify_all();
}

void EmulatedAspi::answer_hung_request(Scanner* scanner) {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto it = hangs_.find(scanner);
  if (scanner == nullptr || it == hangs_.end()) return;
  std::shared_ptr<Job>& hung = it->second.job;
  // Only a request that reads is answered late; a held WRITE BUFFER or commit stays pending.
  if (hung == nullptr || (hung->sent.flags & kSrbDirIn) == 0) return;
  // The manager writes into the block and the data buffer it was given, whoever holds them now.
  ScsiRequestBlock& srb = *hung->srb;
  if (hung->sent.data_buffer != nullptr) {
    std::memset(hung->sent.data_buffer, 0xEE, hung->sent.data_length);
  }
  srb.host_status = 0;
  srb.target_status = 0;
  store_status(srb, kSsComp);
  scanner->remark("LATE ANSWER");
  std::erase(jobs_, hung);
  hung.reset();
}

void EmulatedAspi::abort(ScsiRequestBlock& srb) {
  std::lock_guard<std::mutex> lock(mutex_);
  // Accepted, and a request a fault holds stays pending.
  if (held_locked(srb)) return;
  for (auto it = jobs_.begin(); it != jobs_.end(); ++it) {
    if ((*it)->srb != &srb) continue;
    (*it)->srb = nullptr;
    jobs_.erase(it);
    store_status(srb, kSsAborted);
    break;
  }
  wake_.notify_all();
}

void EmulatedAspi::run(Worker& worker) {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    wake_.wait(lock, [&] { return stopping_ || !worker.queue.empty(); });
    if (stopping_) return;
    std::shared_ptr<Job> job = std::move(worker.queue.front());
    worker.queue.pop_front();
    if (job->srb == nullptr || job->started) continue;  // given back before it began
    job->started = true;
    lock.unlock();
    execute(*job);
    lock.lock();
  }
}

void EmulatedAspi::complete(ScsiRequestBlock& srb) {
  std::shared_ptr<Job> job;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& j : jobs_) {
      if (j->srb == &srb && !j->started) job = j;
    }
    if (job == nullptr) return;
    job->started = true;
  }
  execute(*job);
}

void EmulatedAspi::execute(Job& job) {
  ScsiRequestBlock& sent = job.sent;
  Scanner* scanner = job.scanner;
  const Faults& f = (scanner != nullptr ? scanner : scanners_.front().get())->config().faults;
  const bool commit = sent.cdb[0] == 0x3B && sent.data_length == 0;
  const bool inquiry = sent.cdb[0] == 0x12;
  const bool read = !inquiry && (sent.flags & kSrbDirIn) != 0;
  const int delay = commit && f.commit_ms >= 0 ? f.commit_ms : f.latency_ms;
  {
    // The latency passes unless the request is given back or the manager released.
    std::unique_lock<std::mutex> lock(mutex_);
    wake_.wait_for(lock, std::chrono::milliseconds(delay),
                   [&] { return stopping_ || job.srb == nullptr; });
    if (stopping_ || job.srb == nullptr) return;
    Hang* hang = scanner != nullptr ? &hangs_[scanner] : nullptr;
    if (hang != nullptr && hang->job == nullptr) {
      // "hangblock=K": the first WRITE BUFFER of block K, which is the first pass's.
      const std::uint32_t offset = (static_cast<std::uint32_t>(sent.cdb[3]) << 16) |
                                   (static_cast<std::uint32_t>(sent.cdb[4]) << 8) | sent.cdb[5];
      const bool block = sent.cdb[0] == 0x3B && sent.data_length > 0 && f.hang_block >= 0 &&
                         offset == static_cast<std::uint32_t>(f.hang_block) * 0x2000u;
      bool* once = commit && f.hang_commit     ? &hang->commit
                   : inquiry && f.hang_inquiry ? &hang->inquiry
                   : read && f.hang_read       ? &hang->read
                   : block                     ? &hang->block
                                               : nullptr;
      if (once != nullptr && !*once) {
        *once = true;
        for (const auto& j : jobs_) {
          if (j.get() == &job) hang->job = j;
        }
        scanner->remark(commit    ? "COMMIT HANGS"
                        : inquiry ? "INQUIRY HANGS"
                        : block   ? "WRITE BUFFER HANGS"
                                  : "READ HANGS");
        return;
      }
    }
  }

  std::uint8_t status = kSsComp;
  bool disk_here = false;  // a scanner on this adapter away from target 0 leaves a disk there
  for (const auto& s : scanners_) {
    disk_here =
        disk_here || (adapter_of(*s) == sent.host_adapter && s->config().faults.target != 0);
  }
  std::uint8_t* data = job.data.empty() ? nullptr : job.data.data();
  if (sent.command != kScExecScsiCmd) {
    status = kSsInvalidSrb;
  } else if (sent.host_adapter >= adapters() || adapter_invalid(sent.host_adapter)) {
    status = kSsInvalidHa;
  } else if (scanner != nullptr) {
    const Completion c = scanner->execute(sent.cdb, sent.cdb_length, data, sent.data_length);
    sent.target_status = c.target_status;
    if (c.target_status == 2) {
      std::memset(sent.sense, 0, sizeof sent.sense);
      sent.sense[0] = 0x70;
      sent.sense[2] = c.sense.key;
      sent.sense[7] = 10;
      sent.sense[12] = c.sense.asc;
      sent.sense[13] = c.sense.ascq;
      status = kSsErr;
    }
  } else if (sent.target == 0 && disk_here) {
    answer_disk(sent, data);
  } else {
    sent.host_status = kHostSelectionTimeout;
    status = kSsErr;
  }

  std::lock_guard<std::mutex> lock(mutex_);
  ScsiRequestBlock* srb = job.srb;
  if (srb == nullptr) return;  // given back meanwhile: nothing of the caller's is touched
  if ((sent.flags & kSrbDirIn) != 0 && data != nullptr) {
    std::memcpy(srb->data_buffer, data, sent.data_length);
  }
  srb->host_status = sent.host_status;
  srb->target_status = sent.target_status;
  std::memcpy(srb->sense, sent.sense, sizeof srb->sense);
  job.srb = nullptr;
  std::erase_if(jobs_, [&](const std::shared_ptr<Job>& j) { return j.get() == &job; });
  store_status(*srb, status);
}

std::unique_ptr<AspiModule> EmulatedAspiLoader::load(std::string_view) {
  ++loads_;
  if (scanners_.front()->config().faults.no_manager) return nullptr;
  return std::make_unique<EmulatedAspi>(scanners_);
}

}  // namespace fwload::emulator
