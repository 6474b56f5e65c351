#include "emulator/scanner.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>

#include "scsi/models.h"

namespace fwload::emulator {
namespace {

std::array<std::uint8_t, 24> version_bytes(std::string_view text) {
  std::array<std::uint8_t, 24> bytes{};
  for (std::size_t i = 0; i < text.size() && i < bytes.size(); ++i) {
    bytes[i] = text[i] == '_' ? 0 : static_cast<std::uint8_t>(text[i]);
  }
  return bytes;
}

// Version replies: 4-character fields at 0, 4, 8, 12, 16 and 20; "_" stands for a zero byte.
// Level 1 models fill boot (0), program (4) and image table (8); level 2 models SCSI unit (4),
// mecha-control (12) and imprinter (16); level 3 models mecha-control (4), post-imprinter (16)
// and pre-imprinter (20).
std::vector<Model> make_models() {
  return {
      {"mm40", "TR-MM", "TR-MM40         ", "2.10", 0, 0, 1,
       version_bytes("1.00"
                     "2.10"
                     "1.30"),
       0x00},
      {"mm730", "TR-MM73", "TR-MM730        ", "3.02", 0, 0, 1,
       version_bytes("1.10"
                     "3.02"
                     "1.40"),
       0x00},
      {"mm730n", "TR-MM73", "TR-MM730n       ", "3.02", 0, 0, 1,
       version_bytes("1.10"
                     "3.02"
                     "1.40"),
       0x00},
      {"m3160", "TR-M316", "TR-M3160        ", "1.20", 0, 0, 2,
       version_bytes("____"
                     "1.20"
                     "____"
                     "1.21"
                     "____"),
       0x08},
      {"m3160fb", "TR-M316", "TR-M3160 fb     ", "1.20", 0, 0, 2,
       version_bytes("____"
                     "1.20"
                     "____"
                     "1.21"
                     "0.90"),
       0x08},
      {"m7180", "TR-M718", "TR-M7180        ", "2.00", 0, 0, 2,
       version_bytes("____"
                     "2.00"
                     "____"
                     "2.01"
                     "____"),
       0x00},
      {"pl5170f", "PL-5170", "PL-5170Uf       ", "1.05", 0, 0, 2,
       version_bytes("____"
                     "1.00"
                     "____"
                     "1.10"
                     "1.00"),
       0x00},
      {"hvs3600", "HV Scanner 3600", "HV Scanner 3600 ", "1.00", 0x10, 0x10, 3,
       version_bytes("____"
                     "1.00"
                     "____"
                     "____"
                     "2.00"
                     "2.10"),
       0x08},
      {"hvs3600-pre", "HV Scanner 3600", "HV Scanner 3600 ", "1.00", 0x10, 0x00, 3,
       version_bytes("____"
                     "1.00"
                     "____"
                     "____"
                     "____"
                     "2.10"),
       0x08},
      {"hvs3600-plain", "HV Scanner 3600", "HV Scanner 3600 ", "1.00", 0x00, 0x00, 3,
       version_bytes("____"
                     "1.00"
                     "____"
                     "____"
                     "____"
                     "____"),
       0x00},
      {"hvs2600", "HV Scanner 2600", "HV Scanner 2600 ", "1.10", 0x10, 0x10, 3,
       version_bytes("____"
                     "1.10"
                     "____"
                     "____"
                     "2.20"
                     "2.30"),
       0x08},
  };
}

bool parse_int(std::string_view text, int& value) {
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc() && end == text.data() + text.size();
}

std::string hex(std::uint32_t value, int digits) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%0*X", digits, value);
  return buffer;
}

std::uint32_t be24(const std::uint8_t* p) {
  return (static_cast<std::uint32_t>(p[0]) << 16) | (static_cast<std::uint32_t>(p[1]) << 8) | p[2];
}

// Checksum blocks of a buffer: [first, last], the last byte being the checksum.
std::vector<std::pair<std::uint32_t, std::uint32_t>> blocks_for(const Model& m, std::uint8_t id) {
  if (m.product.rfind("TR-MM40", 0) == 0) {
    return {{0x00000, 0x03FFF}, {0x04000, 0x1BFFF}, {0x1C000, 0x1FFFF}, {0x20000, 0x6FFFF}};
  }
  if (m.product.rfind("TR-MM73", 0) == 0 || id != 0) return {{0x00000, 0x1FFFF}};
  return {{0x00000, 0x6FFFF}};
}

}  // namespace

const std::vector<Model>& models() {
  static const std::vector<Model> all = make_models();
  return all;
}

std::string commit_digest(const std::vector<std::uint8_t>& bytes) {
  std::uint32_t h = 2166136261u;
  for (std::uint8_t b : bytes) h = (h ^ b) * 16777619u;
  return hex(h, 8);
}

std::string_view vendor_of(const Model& model) {
  for (const ScannerModel& row : scanner_models()) {
    if (row.product == model.row) return row.vendor;
  }
  return "        ";
}

const Model* find_model(std::string_view name) {
  for (const Model& m : models()) {
    if (m.name == name) return &m;
  }
  return nullptr;
}

std::string emulator_help() {
  std::string text = "MODEL[:FAULT,...]\n  models:";
  for (const Model& m : models()) text += " " + m.name;
  text +=
      "\n  faults: notready=N door busy=N block=K@P block=K@* busyblock=K@P busyblock=K@* commit\n"
      "          busycommit hang=inquiry|read|commit hangcommit badadapter supportinfo=S\n"
      "          noentry=info|send noscanner gone=N gone=commit"
      " nomanager latency=MS commit-ms=MS target=N adapter=A\n"
      "          reset=K staleversion hangblock=K failread=N@K\n"
      "  versions: mecha=V pre=V post=V sn=TEXT";
  return text;
}

std::optional<EmulatorConfig> parse_emulator_config(std::string_view spec, std::string* error) {
  auto fail = [&](std::string text) -> std::optional<EmulatorConfig> {
    if (error != nullptr) *error = std::move(text);
    return std::nullopt;
  };
  EmulatorConfig config;
  const std::size_t colon = spec.find(':');
  const std::string_view name = spec.substr(0, colon);
  config.model = find_model(name);
  if (config.model == nullptr) return fail("unknown scanner model '" + std::string(name) + "'");
  std::string_view rest =
      colon == std::string_view::npos ? std::string_view{} : spec.substr(colon + 1);
  Faults& f = config.faults;
  while (!rest.empty()) {
    const std::size_t comma = rest.find(',');
    const std::string_view item = rest.substr(0, comma);
    rest = comma == std::string_view::npos ? std::string_view{} : rest.substr(comma + 1);
    const std::size_t eq = item.find('=');
    const std::string_view key = item.substr(0, eq);
    const std::string_view value =
        eq == std::string_view::npos ? std::string_view{} : item.substr(eq + 1);
    bool ok = true;
    if (key == "notready") {
      ok = parse_int(value, f.not_ready) && f.not_ready >= 0;
    } else if (key == "door" && value.empty()) {
      f.door_open = true;
    } else if (key == "busy") {
      ok = parse_int(value, f.busy) && f.busy >= 0;
    } else if (key == "block" || key == "busyblock") {
      const std::size_t at = value.find('@');
      Faults::FailingBlock b;
      b.busy = key == "busyblock";
      ok = at != std::string_view::npos && parse_int(value.substr(0, at), b.block) && b.block >= 0;
      if (ok && value.substr(at + 1) == "*") {
        b.pass = 0;
      } else if (ok) {
        ok = parse_int(value.substr(at + 1), b.pass) && b.pass >= 1;
      }
      if (ok) f.failing_blocks.push_back(b);
    } else if (key == "commit" && value.empty()) {
      f.fail_commit = true;
    } else if (key == "hangcommit" && value.empty()) {
      f.hang_commit = true;
    } else if (key == "hang") {
      ok = value == "inquiry" || value == "read" || value == "commit";
      f.hang_inquiry = f.hang_inquiry || value == "inquiry";
      f.hang_read = f.hang_read || value == "read";
      f.hang_commit = f.hang_commit || value == "commit";
    } else if (key == "hangblock") {
      ok = parse_int(value, f.hang_block) && f.hang_block >= 0;
    } else if (key == "failread") {
      const std::size_t at = value.find('@');
      int size = 0, nth = 0;
      ok = at != std::string_view::npos && parse_int(value.substr(0, at), size) &&
           (size == 12 || size == 20 || size == 24) && parse_int(value.substr(at + 1), nth) &&
           nth >= 1;
      if (ok) f.failing_reads.emplace_back(size, nth);
    } else if (key == "mecha" || key == "pre" || key == "post") {
      // Only a model whose reply has that row can start with another version in it.
      const int level = config.model->version_level;
      ok = !value.empty() && value.size() <= 4 &&
           (key == "mecha" ? level >= 2 : level == 3 || (level == 2 && key == "pre"));
      (key == "mecha" ? f.mecha : key == "pre" ? f.pre : f.post) = std::string(value);
    } else if (key == "sn") {
      ok = !value.empty() && value.size() <= 16;
      f.serial_number = std::string(value);
    } else if (key == "staleversion" && value.empty()) {
      f.stale_version = true;
    } else if (key == "busycommit" && value.empty()) {
      f.busy_commit = true;
    } else if (key == "badadapter" && value.empty()) {
      f.invalid_adapter = true;
    } else if (key == "supportinfo") {
      ok = parse_int(value, f.support_status) && f.support_status >= 0 && f.support_status < 256;
    } else if (key == "noentry") {
      ok = value == "info" || value == "send";
      f.missing_entry = value == "info" ? "GetASPI32SupportInfo" : "SendASPI32Command";
    } else if (key == "gone" && value == "commit") {
      f.gone_after_commit = true;
    } else if (key == "gone") {
      ok = parse_int(value, f.gone_after) && f.gone_after >= 0;
    } else if (key == "noscanner" && value.empty()) {
      f.no_scanner = true;
    } else if (key == "nomanager" && value.empty()) {
      f.no_manager = true;
    } else if (key == "latency") {
      ok = parse_int(value, f.latency_ms) && f.latency_ms >= 0 && f.latency_ms <= 60000;
    } else if (key == "commit-ms") {
      ok = parse_int(value, f.commit_ms) && f.commit_ms >= 0 && f.commit_ms <= 600000;
    } else if (key == "reset") {
      ok = parse_int(value, f.reset_after_block) && f.reset_after_block >= 0;
    } else if (key == "target") {
      ok = parse_int(value, f.target) && f.target >= 0 && f.target <= 7;
    } else if (key == "adapter") {
      ok = parse_int(value, f.adapter) && f.adapter >= 0 && f.adapter <= 7;
    } else {
      ok = false;
    }
    if (!ok) return fail("bad emulator fault '" + std::string(item) + "'");
  }
  return config;
}

Scanner::Scanner(EmulatorConfig config)
    : config_(std::move(config)), versions_(config_.model->versions) {
  // The versions it starts with: level 3 replies hold mecha-control at 4, post-imprinter at 16
  // and pre-imprinter at 20; level 2 replies mecha-control at 12 and the imprinter at 16.
  const Faults& f = config_.faults;
  const bool level3 = config_.model->version_level == 3;
  auto set = [&](const std::string& text, std::size_t field) {
    if (text.empty()) return;
    for (std::size_t i = 0; i < 4; ++i) {
      versions_[field + i] =
          i < text.size() && text[i] != '_' ? static_cast<std::uint8_t>(text[i]) : 0;
    }
  };
  set(f.mecha, level3 ? 4 : 12);
  set(f.pre, level3 ? 20 : 16);
  set(f.post, 16);
  if (f.serial_number) {
    serial_number_ = std::string(16 - f.serial_number->size(), ' ') + *f.serial_number;
  }
}

void Scanner::remark(std::string line) {
  std::lock_guard<std::mutex> lock(mutex_);
  note(std::move(line));
}

void Scanner::note(std::string line) {
  if (sink_) sink_(line);
  log_.push_back(std::move(line));
}

Completion Scanner::check(std::uint8_t key, std::uint8_t asc, std::uint8_t ascq) {
  return {2, {key, asc, ascq}};
}

Completion Scanner::execute(const std::uint8_t* cdb, std::uint8_t cdb_length, std::uint8_t* data,
                            std::uint32_t length) {
  std::lock_guard<std::mutex> lock(mutex_);
  const Model& m = *config_.model;
  if (cdb_length == 0) return check(0x05, 0x20, 0x00);
  if (unit_attention_ && cdb[0] != 0x12) {
    // The first command after a reset learns of it (INQUIRY does not).
    unit_attention_ = false;
    note("UNIT ATTENTION");
    return check(0x06, 0x29, 0x00);
  }
  switch (cdb[0]) {
    case 0x00: {  // TEST UNIT READY
      note("TEST UNIT READY");
      const int n = test_unit_ready_count_++;
      if (n < config_.faults.busy) return {8, {}};
      if (n < config_.faults.busy + config_.faults.not_ready) return check(0x02, 0x00, 0x00);
      if (config_.faults.door_open) return check(0x02, 0x04, 0x80);
      return {};
    }
    case 0x12: {  // INQUIRY
      note("INQUIRY");
      ++inquiries_;
      std::array<std::uint8_t, 96> reply{};
      reply[0] = 0x06;
      reply[2] = 0x02;
      reply[3] = 0x02;
      reply[4] = 91;
      const std::string_view vendor = vendor_of(m);
      std::memcpy(reply.data() + 8, vendor.data(), std::min<std::size_t>(vendor.size(), 8));
      std::memcpy(reply.data() + 16, m.product.data(), 16);
      std::memcpy(reply.data() + 32, m.revision.data(), 4);
      reply[37] = m.byte37;
      reply[39] = m.byte39;
      std::memcpy(data, reply.data(), std::min<std::uint32_t>(length, 96));
      return {};
    }
    case 0x24:
      note("PREPARE DOWNLOAD");
      return {};
    case 0x3B:
      return write_buffer(cdb, data, length);
    case 0xE0: {  // vendor read
      const std::uint8_t code = cdb[2];
      if (code == 0x83) {
        const std::uint8_t n = cdb[8];
        note("READ VERSIONS " + std::to_string(n));
        const int level = n == 12 ? 1 : n == 20 ? 2 : n == 24 ? 3 : 0;
        if (level == 0 || level > m.version_level || length < n) return check(0x05, 0x24, 0x00);
        const int nth = ++version_reads_[n];
        for (const auto& [size, which] : config_.faults.failing_reads) {
          if (size == n && which == nth) {
            note("READ VERSIONS " + std::to_string(n) + " FAILS");
            return check(0x0B, 0x00, 0x00);
          }
        }
        std::memcpy(data, versions_.data(), n);
        return {};
      }
      if (code == 0x92) {
        note("READ SERIAL NUMBER");
        if ((m.capability25 & 0x08) == 0) return check(0x05, 0x24, 0x00);
        std::memcpy(data, serial_number_.data(), std::min<std::uint32_t>(length, 16));
        return {};
      }
      note("VENDOR READ code=" + hex(code, 2));
      return check(0x05, 0x24, 0x00);
    }
    case 0xE1: {  // vendor write
      const std::uint8_t code = cdb[2];
      std::string bytes;
      for (std::uint32_t i = 0; i < length; ++i) bytes += hex(data[i], 2);
      note("VENDOR WRITE code=" + hex(code, 2) + " data=" + bytes);
      if (code == 0x93 && length == 16 && (m.capability25 & 0x08) != 0) {
        serial_number_.assign(reinterpret_cast<const char*>(data), 16);
        return {};
      }
      if (code == 0x8A && length == 2) {
        set_default_.assign(data, data + 2);
        return {};
      }
      return check(0x05, 0x24, 0x00);
    }
    case 0x28: {  // READ(10) with a data type code
      note("READ data-type=" + hex(cdb[2], 2) + " length=" + std::to_string(be24(cdb + 6)));
      if (cdb[2] != 0x93) return check(0x05, 0x24, 0x00);
      std::array<std::uint8_t, 32> capability{};
      capability[25] = m.capability25;
      std::memcpy(data, capability.data(), std::min<std::uint32_t>(length, 32));
      return {};
    }
    default:
      note("UNKNOWN " + hex(cdb[0], 2));
      return check(0x05, 0x20, 0x00);
  }
}

Completion Scanner::write_buffer(const std::uint8_t* cdb, const std::uint8_t* data,
                                 std::uint32_t length) {
  const std::uint8_t id = cdb[2];
  const std::uint32_t offset = be24(cdb + 3);
  const std::uint32_t declared = be24(cdb + 6);
  note("WRITE BUFFER mode=" + hex(cdb[1], 2) + " id=" + std::to_string(id) + " offset=0x" +
       hex(offset, 6) + " length=" + std::to_string(declared));
  if (cdb[1] != 0x05 || declared != length) return check(0x05, 0x24, 0x00);
  if (length == 0) return commit(id);
  if (offset == 0) ++pass_;
  const Faults& f = config_.faults;
  const int block = static_cast<int>(offset / 0x2000);
  for (const Faults::FailingBlock& b : f.failing_blocks) {
    if (block == b.block && (b.pass == 0 || b.pass == pass_)) {
      if (b.busy) {
        note("BUSY");
        return {8, {}};
      }
      return check(0x0B, 0x80, 0x01);
    }
  }
  std::vector<std::uint8_t>& buffer = buffers_[id];
  if (offset == 0) buffer.clear();
  if (buffer.size() < offset + length) buffer.resize(offset + length, 0xFF);
  std::memcpy(buffer.data() + offset, data, length);
  if (block == f.reset_after_block && !reset_done_) {
    // Power dip: everything received is gone, and the host hears of it on its next command.
    reset_done_ = true;
    unit_attention_ = true;
    buffers_.clear();
    note("RESET");
  }
  return {};
}

Completion Scanner::commit(std::uint8_t id) {
  ++commits_;
  if (config_.faults.fail_commit) return check(0x04, 0x81, 0x01);
  if (config_.faults.busy_commit) {
    note("BUSY");
    return {8, {}};
  }
  const std::vector<std::uint8_t>& buffer = buffers_[id];
  // Only the blocks whose checksum byte arrived can be checked.
  for (const auto& [first, last] : blocks_for(*config_.model, id)) {
    if (buffer.size() <= last) continue;
    std::uint32_t sum = 0xFF;
    for (std::uint32_t a = first; a < last; ++a) sum += buffer[a];
    if ((sum & 0xFF) != buffer[last]) {
      note("COMMIT id=" + std::to_string(id) + " checksum wrong in block ending 0x" + hex(last, 5));
      return check(0x04, 0x0C, 0x80);
    }
  }
  committed_[id] = buffer;
  note("COMMIT id=" + std::to_string(id) + " " + std::to_string(buffer.size()) +
       " bytes digest=" + commit_digest(buffer));
  // The unit now runs the new firmware and reports its version: the four characters after
  // the firmware's "VERSION = " mark, in the field of the unit the buffer is for; unless it
  // keeps reporting the old one until it is switched off and on ("staleversion").
  if (config_.model->version_level == 3 && !config_.faults.stale_version) {
    static constexpr std::string_view kMark = "VERSION = ";
    const auto it = std::search(buffer.begin(), buffer.end(), kMark.begin(), kMark.end());
    const std::size_t field = id == 0 ? 4 : id == 2 ? 16 : id == 3 ? 20 : 0;
    if (it != buffer.end() && field != 0 && buffer.end() - it >= 14) {
      std::copy_n(it + static_cast<std::ptrdiff_t>(kMark.size()), 4, versions_.begin() + field);
    }
  }
  return {};
}

std::vector<std::string> Scanner::log() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return log_;
}

std::vector<std::uint8_t> Scanner::buffer(std::uint8_t id) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = buffers_.find(id);
  return it == buffers_.end() ? std::vector<std::uint8_t>{} : it->second;
}

std::vector<std::uint8_t> Scanner::committed(std::uint8_t id) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = committed_.find(id);
  return it == committed_.end() ? std::vector<std::uint8_t>{} : it->second;
}

bool Scanner::present() const {
  std::lock_guard<std::mutex> lock(mutex_);
  if (config_.faults.gone_after_commit && commits_ > 0) return false;
  return config_.faults.gone_after < 0 || inquiries_ < config_.faults.gone_after;
}

int Scanner::commits() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return commits_;
}

std::string Scanner::serial_number() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return serial_number_;
}

std::vector<std::uint8_t> Scanner::last_set_default() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return set_default_;
}

}  // namespace fwload::emulator
