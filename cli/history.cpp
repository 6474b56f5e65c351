#include "cli/history.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <deque>
#include <utility>
#include <vector>

#include "app/about_dialog.h"
#include "cli/support.h"
#include "firmware/hex.h"
#include "platform/history_file.h"

namespace fwload {
namespace {

Json versions_object(const VersionRows& rows) {
  Json out = Json::object();
  for (const auto& [key, value] : rows) out[key] = json_text(value);
  return out;
}

std::string text_of(const Json& record, const char* key) {
  const auto it = record.find(key);
  return it != record.end() && it->is_string() ? it->get<std::string>() : std::string("-");
}

// A version row before and after, as the record holds them: the first row the transfer
// changed, else the first row.
std::string unit_versions(const Json& record) {
  const auto before = record.find("versions_before");
  const auto after = record.find("versions_after");
  if (after == record.end() || !after->is_object() || after->empty()) return "-";
  auto value = [](const Json& versions, const std::string& key) {
    const auto it = versions.find(key);
    return it != versions.end() && it->is_string() ? it->get<std::string>() : std::string("-");
  };
  const Json none = Json::object();
  const Json& old_rows = before != record.end() && before->is_object() ? *before : none;
  std::string key = after->begin().key();
  for (auto it = after->begin(); it != after->end(); ++it) {
    if (value(old_rows, it.key()) != value(*after, it.key())) {
      key = it.key();
      break;
    }
  }
  return value(old_rows, key) + " -> " + value(*after, key);
}

// One transfer of the history on standard output: the record (--json), or its row.
bool print_history_record(CliEnv& env, const Json& record, bool json) {
  if (json) return std::fprintf(env.out, "%s\n", record.dump().c_str()) > 0;
  return std::fprintf(env.out, "%-20s  %-12s  %-16s  %-16s  %-13s %-4s  %-14s  %-11s  %s\n",
                      text_of(record, "time").c_str(), text_of(record, "address").c_str(),
                      text_of(record, "product").c_str(), text_of(record, "serial_number").c_str(),
                      text_of(record, "file_unit_name").c_str(),
                      text_of(record, "file_version").c_str(), unit_versions(record).c_str(),
                      text_of(record, "result").c_str(), text_of(record, "file").c_str()) > 0;
}

}  // namespace

std::string history_path(const CliArgs& args) {
  return args.log.empty() ? default_history_path() : absolute_path(args.log);
}

Json transfer_record(const JobOutcome& job, const FileFacts& file) {
  const FirmwareState& f = *file.state;
  Json record = Json::object();
  if (!job.id.empty()) record["id"] = job.id;
  record["time"] = job.time;
  record["host"] = json_text(host_name());
  record["user"] = json_text(user_name());
  record["program_version"] = program_version();
  record["route"] = job.route;
  record["address"] = json_text(job.address);
  record["vendor"] = json_text(job.vendor);
  record["product"] = json_text(job.product);
  record["serial_number"] = job.serial_number ? Json(json_text(*job.serial_number)) : Json(nullptr);
  record["versions_before"] = versions_object(job.before);
  record["versions_after"] = versions_object(job.after);
  record["file"] = json_text(file.path);
  record["file_sha256"] = file.sha256;
  record["file_scanner_name"] = json_text(f.scanner_name);
  record["file_unit_name"] = json_text(f.unit_name);
  record["file_version"] = json_text(f.file_version);
  record["sum_value"] = hex_digits(f.sum_value, 2);
  record["result"] = result_name(job.result);
  record["message"] = job.message.empty() ? Json(nullptr) : Json(json_text(job.message));
  record["seconds"] = static_cast<double>(static_cast<long long>(job.seconds * 10 + 0.5)) / 10;
  return record;
}

namespace {

// Cuts the longest texts of `record` until its line fits the history's bound; the keys cut
// are listed in "cut". False when nothing was cut.
bool fit_record(Json& record, std::string& line) {
  std::vector<std::string> cut;
  line = record.dump();
  while (line.size() + 1 > kMaxHistoryLine) {
    std::string* longest = nullptr;
    std::string key;
    for (auto it = record.begin(); it != record.end(); ++it) {
      if (it->is_string() &&
          (longest == nullptr || it->get_ref<std::string&>().size() > longest->size())) {
        longest = &it->get_ref<std::string&>();
        key = it.key();
      }
    }
    if (longest == nullptr || longest->size() < 16) break;
    // Half of it, cut between two UTF-8 sequences.
    std::size_t keep = longest->size() / 2;
    while (keep > 0 && (static_cast<unsigned char>((*longest)[keep]) & 0xC0) == 0x80) --keep;
    longest->resize(keep);
    if (std::find(cut.begin(), cut.end(), key) == cut.end()) cut.push_back(key);
    record["cut"] = cut;
    line = record.dump();
  }
  return !cut.empty();
}

// One line after another from a file, each at most kMaxHistoryLine bytes held: a longer line
// is read through and given back empty, marked too long.
class LineReader {
 public:
  explicit LineReader(std::FILE* file) : file_(file), piece_(64 * 1024) {}
  // False at the end of the file or on a read error (error() tells which).
  bool next(std::string& line, bool& too_long) {
    line.clear();
    too_long = false;
    bool any = false;
    for (;;) {
      if (at_ == got_) {
        got_ = std::fread(piece_.data(), 1, piece_.size(), file_);
        at_ = 0;
        if (got_ == 0) return any;  // the last line may lack its end
      }
      any = true;
      const char* begin = piece_.data() + at_;
      const void* end = std::memchr(begin, '\n', got_ - at_);
      const std::size_t n = end != nullptr ? static_cast<const char*>(end) - begin : got_ - at_;
      if (!too_long && line.size() + n < kMaxHistoryLine) {
        line.append(begin, n);
      } else if (!too_long) {
        too_long = true;
        line.clear();
        line.shrink_to_fit();
      }
      at_ += n;
      if (end != nullptr) {
        ++at_;
        return true;
      }
    }
  }
  bool error() const { return std::ferror(file_) != 0; }

 private:
  std::FILE* file_;
  std::vector<char> piece_;
  std::size_t at_ = 0, got_ = 0;
};

// Transfers whose "started" record has no outcome yet, at most this many held while reading:
// beyond it the oldest is told as unfinished at once.
constexpr std::size_t kMaxPending = 256;

}  // namespace

Json started_record(const JobOutcome& job, const FileFacts& file) {
  Json record = transfer_record(job, file);
  record["result"] = "started";
  record["message"] = nullptr;
  record["seconds"] = 0;
  return record;
}

void append_record(CliEnv& env, const std::string& path, Json record) {
  std::string error = "no folder for it (neither XDG_STATE_HOME nor HOME is set)";
  std::string line;
  if (fit_record(record, line)) {
    std::fprintf(env.err,
                 "fwload-cli: warning: the transfer record was too long for the history; cut: %s\n",
                 record["cut"].dump().c_str());
  }
  if (!path.empty() && append_line_durably(path, line, &error)) return;
  std::fprintf(env.err, "fwload-cli: warning: the transfer history could not be written: %s\n",
               error.c_str());
  std::fflush(env.err);
}

int history(const CliArgs& args, CliEnv& env) {
  const std::string path = history_path(args);
  if (path.empty()) {
    std::fprintf(env.err, "fwload-cli: no transfer history yet (no folder for it)\n");
    return kExitOk;
  }
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) {
    const int error = errno;
    if (error == ENOENT) {
      std::fprintf(env.err, "fwload-cli: no transfer history at %s yet\n", path.c_str());
      return kExitOk;
    }
    std::fprintf(env.err, "fwload-cli: %s: %s\n", path.c_str(), std::strerror(error));
    return kExitFailure;
  }
  std::deque<Json> kept;  // --last N: the last N transfers
  bool out_ok = true;
  auto show = [&](Json record) {
    if (!args.history_serial.empty()) {
      const auto it = record.find("serial_number");
      if (it == record.end() || !it->is_string() || *it != args.history_serial) return;
    }
    if (args.last > 0) {
      kept.push_back(std::move(record));
      if (kept.size() > static_cast<std::size_t>(args.last)) kept.pop_front();
      return;
    }
    out_ok = print_history_record(env, record, args.json) && out_ok;
  };
  std::vector<std::pair<std::string, Json>> pending;  // "started" records by id, oldest first
  auto unfinished = [](Json record) {
    record["result"] = "unfinished";
    return record;
  };
  LineReader reader(file);
  std::string line;
  bool too_long = false;
  for (long number = 1; reader.next(line, too_long); ++number) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() && !too_long) continue;
    Json record = too_long ? Json() : Json::parse(line, nullptr, /*allow_exceptions=*/false);
    if (too_long || record.is_discarded() || !record.is_object()) {
      std::fprintf(env.err, "fwload-cli: %s line %ld is damaged; skipped\n", path.c_str(), number);
      continue;
    }
    const auto id = record.find("id");
    if (id == record.end() || !id->is_string()) {
      show(std::move(record));  // a record of one transfer, written once (no id)
      continue;
    }
    const std::string key = id->get<std::string>();
    const auto open =
        std::find_if(pending.begin(), pending.end(), [&](const auto& p) { return p.first == key; });
    if (record.value("result", "") == "started") {
      if (open != pending.end()) continue;  // told once
      if (pending.size() == kMaxPending) {
        show(unfinished(std::move(pending.front().second)));
        pending.erase(pending.begin());
      }
      pending.emplace_back(key, std::move(record));
      continue;
    }
    if (open != pending.end()) pending.erase(open);
    show(std::move(record));
  }
  const bool read_error = reader.error();
  const int error = errno;
  std::fclose(file);
  if (read_error) {
    std::fprintf(env.err, "fwload-cli: %s: %s\n", path.c_str(), std::strerror(error));
    return kExitFailure;
  }
  // A transfer whose outcome never came: killed, or still going on.
  for (auto& [key, record] : pending) show(unfinished(std::move(record)));
  for (const Json& record : kept) out_ok = print_history_record(env, record, args.json) && out_ok;
  return out_ok && std::fflush(env.out) == 0 ? kExitOk : kExitFailure;
}

}  // namespace fwload
