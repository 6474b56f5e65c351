#include "emulator/tcmu_scanner.h"

#include <poll.h>

#include <algorithm>
#include <array>
#include <cstdio>

namespace fwload::emulator {
namespace {

using Clock = std::chrono::steady_clock;

// A held command the kernel has failed by now (its time-out is 30 s) is completed when the ring
// is next served, so that its slot and data come back.
constexpr auto kKernelGaveUp = std::chrono::seconds(35);

constexpr std::uint8_t kGood = 0x00, kCheckCondition = 0x02;

// TCMU passes no data direction: it is the command's. Outgoing data: WRITE BUFFER, the vendor
// write, and the usual writes; everything else with data reads.
bool data_out(std::uint8_t opcode) {
  switch (opcode) {
    case 0x3B:  // WRITE BUFFER
    case 0xE1:  // the scanner's vendor write
    case 0x0A:  // WRITE(6)
    case 0x2A:  // WRITE(10)
    case 0x15:  // MODE SELECT(6)
    case 0x55:  // MODE SELECT(10)
      return true;
    default:
      return false;
  }
}

std::uint32_t be24(const std::uint8_t* p) {
  return (static_cast<std::uint32_t>(p[0]) << 16) | (static_cast<std::uint32_t>(p[1]) << 8) | p[2];
}

// The scanner as it is before any fault: the model, its starting versions and serial number.
EmulatorConfig without_faults(const EmulatorConfig& config) {
  EmulatorConfig clean;
  clean.model = config.model;
  clean.faults.mecha = config.faults.mecha;
  clean.faults.pre = config.faults.pre;
  clean.faults.post = config.faults.post;
  clean.faults.serial_number = config.faults.serial_number;
  return clean;
}

}  // namespace

TcmuScanner::TcmuScanner(const EmulatorConfig& config, tcmu_ring* ring,
                         std::function<void(const std::string&)> log)
    : ring_(ring), log_(std::move(log)), scanner_(config), attach_time_(without_faults(config)) {
  scanner_.set_log_sink(log_);
}

TcmuScanner::~TcmuScanner() {
  tcmu_ring_close(ring_);
}

void TcmuScanner::answer(std::uint16_t id, std::uint8_t status, std::uint8_t key, std::uint8_t asc,
                         std::uint8_t ascq) {
  std::array<std::uint8_t, 18> sense{};
  if (status == kCheckCondition) {
    sense[0] = 0x70;
    sense[2] = key;
    sense[7] = 10;
    sense[12] = asc;
    sense[13] = ascq;
  }
  tcmu_ring_complete(ring_, id, status, sense.data(), status == kCheckCondition ? sense.size() : 0);
  completed_ = true;
}

bool TcmuScanner::hangs(const tcmu_ring_request& q) {
  const Faults& f = scanner_.config().faults;
  const std::uint8_t op = q.cdb[0];
  const bool commit = op == 0x3B && be24(q.cdb + 6) == 0;
  const bool inquiry = op == 0x12;
  const bool read = !inquiry && !data_out(op) && q.data_length > 0;
  // "hangblock=K": the first WRITE BUFFER of block K, which is the first pass's.
  const bool block = op == 0x3B && !commit && f.hang_block >= 0 &&
                     be24(q.cdb + 3) == static_cast<std::uint32_t>(f.hang_block) * 0x2000u;
  bool* once = commit && f.hang_commit     ? &hung_commit_
               : inquiry && f.hang_inquiry ? &hung_inquiry_
               : read && f.hang_read       ? &hung_read_
               : block                     ? &hung_block_
                                           : nullptr;
  if (once == nullptr || *once || release_) return false;
  *once = true;
  scanner_.remark(commit    ? "COMMIT HANGS"
                  : inquiry ? "INQUIRY HANGS"
                  : block   ? "WRITE BUFFER HANGS"
                            : "READ HANGS");
  return true;
}

void TcmuScanner::arrive(const tcmu_ring_request& q) {
  // A scanner has no vital product data pages: the kernel's (and udev's) requests for them
  // are refused here and count for no fault.
  if (q.cdb[0] == 0x12 && (q.cdb[1] & 0x01) != 0) {
    answer(q.id, kCheckCondition, 0x05, 0x24, 0x00);
    return;
  }
  const bool faults = attached_;
  if (faults && !scanner_.present()) {  // "gone": nothing is there to answer
    answer(q.id, kCheckCondition, 0x05, 0x25, 0x00);
    return;
  }
  auto open = std::make_unique<Open>();
  open->request = q;
  open->arrived = Clock::now();
  if (faults && hangs(q)) {
    open->held = true;
  } else {
    // One command at a time, each after the time the scanner takes for it.
    const Faults& f = scanner_.config().faults;
    const bool commit = q.cdb[0] == 0x3B && be24(q.cdb + 6) == 0;
    const int ms = !faults ? 0 : commit && f.commit_ms >= 0 ? f.commit_ms : f.latency_ms;
    open->due = std::max(open->arrived, last_due_) + std::chrono::milliseconds(ms);
    last_due_ = open->due;
  }
  open_.push_back(std::move(open));
}

void TcmuScanner::execute(const Open& open) {
  const tcmu_ring_request& q = open.request;
  Scanner& s = attached_ ? scanner_ : attach_time_;
  std::vector<std::uint8_t> data(q.data_length);
  const bool out = data_out(q.cdb[0]);
  if (out) tcmu_ring_copy_out(ring_, &q, data.data(), data.size());
  const Completion c =
      s.execute(q.cdb, static_cast<std::uint8_t>(q.cdb_length),
                data.empty() ? nullptr : data.data(), static_cast<std::uint32_t>(data.size()));
  if (!out && c.target_status == kGood && !data.empty()) {
    tcmu_ring_copy_in(ring_, &q, data.data(), data.size());
  }
  answer(q.id, c.target_status, c.sense.key, c.sense.asc, c.sense.ascq);
}

void TcmuScanner::serve(const std::atomic<bool>& stop) {
  tcmu_ring_request q;
  while (!stop) {
    // Until the next answer is due, or a tenth of a second to look at `stop`.
    auto wait = std::chrono::milliseconds(100);
    for (const auto& o : open_) {
      if (o->held) continue;
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(o->due - Clock::now());
      wait = std::clamp(left, std::chrono::milliseconds(0), wait);
      break;  // answered in order: the first one waiting is the next due
    }
    pollfd p{tcmu_ring_fd(ring_), POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(wait.count())) > 0 && (p.revents & POLLIN) != 0) {
      tcmu_ring_acknowledge(ring_);
    }
    for (int got; (got = tcmu_ring_next(ring_, &q)) != 0;) {
      if (got < 0) {
        log_("RING DAMAGED: the kernel's entry does not fit in the ring");
        break;
      }
      if (q.kind == 2) {
        // An aborted command is answered at once, or the kernel's error handler waits on it.
        for (std::size_t i = 0; i < q.aborted_count; ++i) {
          const auto it = std::find_if(open_.begin(), open_.end(), [&](const auto& o) {
            return o->request.id == q.aborted[i];
          });
          if (it == open_.end()) continue;
          scanner_.remark("ABORTED " + std::to_string(q.aborted[i]));
          answer(q.aborted[i], kCheckCondition, 0x0B, 0x00, 0x00);
          open_.erase(it);
        }
        continue;
      }
      arrive(q);
    }
    const auto now = Clock::now();
    for (auto it = open_.begin(); it != open_.end();) {
      Open& o = **it;
      if (o.held ? now - o.arrived < kKernelGaveUp && !release_ : o.due > now) {
        if (!o.held) break;  // the ones behind it are due later
        ++it;
        continue;
      }
      if (o.held) {
        scanner_.remark(release_ ? "HELD COMMAND ANSWERED"
                                 : "HELD COMMAND COMPLETED AFTER THE KERNEL GAVE IT UP");
        answer(o.request.id, kCheckCondition, 0x02, 0x08, 0x00);
      } else {
        execute(o);
      }
      it = open_.erase(it);
    }
    if (completed_) {
      tcmu_ring_notify(ring_);
      completed_ = false;
    }
  }
  // Ended: every command still open gets its answer, a held one too.
  for (const auto& o : open_) {
    if (o->held) {
      answer(o->request.id, kCheckCondition, 0x02, 0x08, 0x00);
    } else {
      execute(*o);
    }
  }
  open_.clear();
  if (completed_) tcmu_ring_notify(ring_);
}

}  // namespace fwload::emulator
