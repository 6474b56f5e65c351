#include "cli/history.h"

#include <cstdio>
#include <deque>
#include <fstream>

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

}  // namespace

std::string history_path(const CliArgs& args) {
  return args.log.empty() ? default_history_path() : absolute_path(args.log);
}

Json transfer_record(const JobOutcome& job, const FileFacts& file) {
  const FirmwareState& f = *file.state;
  Json record = Json::object();
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

void append_record(CliEnv& env, const std::string& path, const Json& record) {
  std::string error = "no folder for it (neither XDG_STATE_HOME nor HOME is set)";
  if (!path.empty() && append_line_durably(path, record.dump(), &error)) return;
  std::fprintf(env.err, "fwload-cli: warning: the transfer history could not be written: %s\n",
               error.c_str());
  std::fflush(env.err);
}

int history(const CliArgs& args, CliEnv& env) {
  const std::string path = history_path(args);
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::fprintf(env.err, "fwload-cli: no transfer history at %s yet\n",
                 path.empty() ? "(no folder for it)" : path.c_str());
    return kExitOk;
  }
  std::deque<Json> records;
  std::string line;
  for (long number = 1; std::getline(in, line); ++number) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    Json record = Json::parse(line, nullptr, /*allow_exceptions=*/false);
    if (record.is_discarded() || !record.is_object()) {
      std::fprintf(env.err, "fwload-cli: %s line %ld is damaged; skipped\n", path.c_str(), number);
      continue;
    }
    if (!args.history_serial.empty()) {
      const auto it = record.find("serial_number");
      if (it == record.end() || !it->is_string() || *it != args.history_serial) continue;
    }
    records.push_back(std::move(record));
    if (args.last > 0 && records.size() > static_cast<std::size_t>(args.last)) records.pop_front();
  }
  for (const Json& record : records) {
    if (args.json) {
      std::fprintf(env.out, "%s\n", record.dump().c_str());
      continue;
    }
    std::fprintf(env.out, "%-20s  %-12s  %-16s  %-16s  %-13s %-4s  %-14s  %-11s  %s\n",
                 text_of(record, "time").c_str(), text_of(record, "address").c_str(),
                 text_of(record, "product").c_str(), text_of(record, "serial_number").c_str(),
                 text_of(record, "file_unit_name").c_str(), text_of(record, "file_version").c_str(),
                 unit_versions(record).c_str(), text_of(record, "result").c_str(),
                 text_of(record, "file").c_str());
  }
  return std::fflush(env.out) == 0 ? kExitOk : kExitFailure;
}

}  // namespace fwload
