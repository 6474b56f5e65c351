// The emulated scanner, SCSI side: a model's identity and version replies, the buffers it
// receives with WRITE BUFFER, the checksum check when a download is committed, and the faults
// it can be told to show. It answers one command at a time; emulated_aspi.h puts it behind an
// ASPI manager.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace fwload::emulator {

struct Model {
  std::string name;
  // The model table's row (scsi/models.h), by its product: the vendor comes from there.
  std::string_view row;
  std::string product;   // 16 characters
  std::string revision;  // 4 characters
  std::uint8_t byte37 = 0;
  std::uint8_t byte39 = 0;
  int version_level = 3;  // 1: answers the 12-byte read; 2: 12 and 20; 3: 12, 20 and 24
  std::array<std::uint8_t, 24> versions{};
  std::uint8_t capability25 = 0;  // capability data byte 25; bit 0x08: serial number
};

const std::vector<Model>& models();
// The INQUIRY vendor of a model: its row's.
std::string_view vendor_of(const Model& model);
const Model* find_model(std::string_view name);

// FNV-1a (32 bits) of `bytes`, as eight hex digits: what the log's COMMIT line shows, so that a
// test reading only the log can compare the committed buffer with an image.
std::string commit_digest(const std::vector<std::uint8_t>& bytes);

// What the emulator is told to do wrong; parsed from "MODEL:FAULT,FAULT,...".
struct Faults {
  int not_ready = 0;       // "notready=N": the first N TEST UNIT READY fail (02,00,00)
  bool door_open = false;  // "door": TEST UNIT READY reports the open door (02,04,80)
  int busy = 0;            // "busy=N": the first N TEST UNIT READY answer BUSY (status 8)
  // "block=K@P": WRITE BUFFER block K (from 0) of pass P (from 1) fails (0B,80,01);
  // "block=K@*" fails it in every pass; "busyblock=K@P" / "busyblock=K@*" answer it BUSY
  // instead. May be given more than once.
  struct FailingBlock {
    int block = 0;
    int pass = 0;  // 0: every pass
    bool busy = false;
  };
  std::vector<FailingBlock> failing_blocks;
  bool fail_commit = false;  // "commit": the commit fails (04,81,01)
  bool busy_commit = false;  // "busycommit": the commit is answered BUSY, nothing saved
  // "hang=inquiry|read|commit" (given more than once for several; "hangcommit" is
  // "hang=commit"): the first such request never ends by itself; the manager accepts an abort
  // of it but keeps it pending. A hung INQUIRY or read (any other incoming data) is answered
  // late, GOOD with 0xEE bytes, when the next request to the same scanner reaches the manager;
  // a hung commit stays pending for good. Each scanner's hang holds up no other scanner.
  bool hang_inquiry = false;
  bool hang_read = false;
  bool hang_commit = false;
  int hang_block = -1;  // "hangblock=K": WRITE BUFFER block K of the first pass is held
  // "failread=N@K": the K-th (from 1) version read of N bytes (12, 20 or 24) fails (0B,00,00);
  // may be given more than once.
  std::vector<std::pair<int, int>> failing_reads;
  // "mecha=V", "pre=V", "post=V": the versions the scanner starts with (1 to 4 characters;
  // "_" for a row that reads "None"); "sn=TEXT": its serial number (at most 16 characters).
  std::string mecha, pre, post;
  std::optional<std::string> serial_number;
  bool invalid_adapter = false;    // "badadapter": adapter 0 is invalid, the scanner is on 1
  int support_status = 1;          // "supportinfo=S": the manager's status byte
  std::string missing_entry;       // "noentry=info|send": an entry point is missing
  bool no_scanner = false;         // "noscanner": no supported scanner on the bus
  int gone_after = -1;             // "gone=N": after N INQUIRYs the scanner answers nothing
  bool gone_after_commit = false;  // "gone=commit": after its commit it answers nothing (it
                                   //   restarts, or was switched off)
  bool no_manager = false;         // "nomanager": the manager cannot be loaded
  int latency_ms = 1;              // "latency=MS": time each request takes
  int commit_ms = -1;              // "commit-ms=MS": time the commit takes (default: latency)
  int target = 3;                  // "target=N": the scanner's target id
  int adapter = 0;                 // "adapter=A": the host adapter it is on (several scanners)
  bool stale_version = false;      // "staleversion": after a commit the scanner still reports
                                   //   the versions it had (until switched off and on)
  int reset_after_block = -1;      // "reset=K": the scanner resets after block K of the first
                                   //   pass: buffers lost, the next command gets UNIT ATTENTION
};

struct EmulatorConfig {
  const Model* model = nullptr;
  Faults faults;
};

// Parses "MODEL[:FAULT,...]"; an error text when it is not understood.
std::optional<EmulatorConfig> parse_emulator_config(std::string_view spec, std::string* error);
std::string emulator_help();

// Sense data the emulated scanner reports.
struct Sense {
  std::uint8_t key = 0, asc = 0, ascq = 0;
};

struct Completion {
  std::uint8_t target_status = 0;  // 0 good, 2 check condition, 8 busy
  Sense sense;
};

class Scanner {
 public:
  explicit Scanner(EmulatorConfig config);

  // Executes one command. `data` holds `length` bytes to send (out) or room for them (in).
  Completion execute(const std::uint8_t* cdb, std::uint8_t cdb_length, std::uint8_t* data,
                     std::uint32_t length);

  const EmulatorConfig& config() const { return config_; }
  // What the scanner received, one line per command ("WRITE BUFFER id=0 offset=0x000000 ...").
  std::vector<std::string> log() const;
  // The bytes received for buffer `id` (offset 0 upwards) and what was committed; the log's
  // COMMIT line carries the committed bytes' digest (commit_digest).
  std::vector<std::uint8_t> buffer(std::uint8_t id) const;
  std::vector<std::uint8_t> committed(std::uint8_t id) const;
  int commits() const;
  // Whether the scanner still answers on the bus ("gone=N").
  bool present() const;
  std::string serial_number() const;
  std::vector<std::uint8_t> last_set_default() const;
  // Adds a line to the log from the manager's side of the bus.
  void remark(std::string line);
  // Called with each log line as it is written (for the Windows test library's log file).
  void set_log_sink(std::function<void(const std::string& line)> sink) { sink_ = std::move(sink); }

 private:
  void note(std::string line);
  Completion check(std::uint8_t key, std::uint8_t asc, std::uint8_t ascq);
  Completion write_buffer(const std::uint8_t* cdb, const std::uint8_t* data, std::uint32_t length);
  Completion commit(std::uint8_t id);

  EmulatorConfig config_;
  std::array<std::uint8_t, 24> versions_;  // what the scanner reports; a commit updates it
  mutable std::mutex mutex_;
  std::vector<std::string> log_;
  std::map<std::uint8_t, std::vector<std::uint8_t>> buffers_;
  std::map<std::uint8_t, std::vector<std::uint8_t>> committed_;
  int test_unit_ready_count_ = 0;
  int inquiries_ = 0;
  int pass_ = 0;
  bool unit_attention_ = false;
  bool reset_done_ = false;
  int commits_ = 0;
  std::map<int, int> version_reads_;  // by size
  std::string serial_number_ = "     SN-00012345";
  std::vector<std::uint8_t> set_default_;
  std::function<void(const std::string&)> sink_;
};

}  // namespace fwload::emulator
