#include "scsi/info.h"

#include <cstdio>
#include <cstring>
#include <utility>

#include "res/string_table.h"
#include "scsi/commands.h"
#include "scsi/discovery.h"

namespace fwload {
namespace {

constexpr std::uint8_t kVersionSizes[] = {12, 20, 24};

// A 4-character field of the reply, cut at a zero byte.
std::string field(const std::array<std::uint8_t, 32>& reply, std::size_t offset) {
  const char* text = reinterpret_cast<const char*>(reply.data() + offset);
  return std::string(text, strnlen(text, 4));
}

std::string field_or_none(const std::array<std::uint8_t, 32>& reply, std::size_t offset) {
  return reply[offset] == 0 ? std::string(table_string(kStrNone)) : field(reply, offset);
}

std::string label(StringId id) {
  return std::string(table_string(id));
}

}  // namespace

namespace {

// The version rows of the reply level the scanner answered (0: none answered).
void fill_version_rows(ScannerInfo& info, const ScsiState& s, int level,
                       const std::array<std::uint8_t, 32>& reply) {
  switch (level) {
    case 1:
      info.version_label = {label(kStrBootVersion), label(kStrProgramVersion),
                            label(kStrImageTableVersion), ""};
      info.version_value = {field(reply, 0), field(reply, 4), field(reply, 8), ""};
      break;
    case 2:
      info.version_label = {label(kStrScsiUnitVersion), label(kStrMechaControlVersion),
                            label(kStrImprinterVersion), ""};
      info.version_value = {field(reply, 4), field(reply, 12), field_or_none(reply, 16), ""};
      break;
    case 3:
      info.version_label = {label(kStrMechaControlVersion), label(kStrPreImprinterVersion),
                            label(kStrPostImprinterVersion), ""};
      info.version_value = {field(reply, 4), field_or_none(reply, 20), field_or_none(reply, 16),
                            ""};
      break;
    default:
      info.version_label = {label(kStrProgramVersion), "", "", ""};
      info.version_value = {info.vendor == kNoDeviceText ? std::string(kNoDeviceText)
                                                         : std::string(s.scanner_revision.view()),
                            "", "", ""};
      break;
  }
}

// Asks the selected scanner for all three reply sizes; the last one answered decides the
// layout.
int read_version_reply(ScsiState& s, ScsiIo& io, std::array<std::uint8_t, 32>& reply) {
  int level = 0;
  for (int i = 0; i < 3; ++i) {
    if (read_versions(s, io, s.target_id, reply.data(), kVersionSizes[i]) == 0) level = i + 1;
  }
  return level;
}

}  // namespace

namespace {

// Searches afresh (the search the state is set up for) and waits for the scanner found to be
// ready, at most 11 tries; false when none answered, its identity then "No device !".
bool find_again(ScsiState& s, ScsiIo& io, ScannerInfo& info) {
  release_aspi(s);
  if (find_scanner(s, io, /*quiet=*/true) == 0) {
    s.scanner_vendor.assign(kNoDeviceText);
    s.scanner_product.assign(kNoDeviceText);
    s.scanner_revision.assign(kNoDeviceText.substr(0, 4));
    info.vendor = info.product = info.host = info.target = std::string(kNoDeviceText);
    return false;
  }
  char id[16];
  std::snprintf(id, sizeof id, "#%u", static_cast<unsigned>(s.host_adapter_id));
  info.host = id;
  std::snprintf(id, sizeof id, "#%u", static_cast<unsigned>(s.target_id));
  info.target = id;
  info.vendor = std::string(s.scanner_vendor.view());
  info.product = std::string(s.scanner_product.view());
  for (int attempt = 0; attempt < 11; ++attempt) {
    if (test_unit_ready(s, io, s.target_id) == 0) break;
  }
  return true;
}

}  // namespace

ScannerInfo read_scanner_info_scsi(ScsiState& s, ScsiIo& io) {
  ScannerInfo info;
  int level = 0;
  std::array<std::uint8_t, 32> reply{};
  if (find_again(s, io, info)) level = read_version_reply(s, io, reply);
  fill_version_rows(info, s, level, reply);
  return info;
}

VersionReading read_version_rows(ScsiState& s, ScsiIo& io) {
  VersionReading out;
  out.rows.vendor = std::string(s.scanner_vendor.view());
  out.rows.product = std::string(s.scanner_product.view());
  std::array<std::uint8_t, 32> reply{};
  out.level = read_version_reply(s, io, reply);
  fill_version_rows(out.rows, s, out.level, reply);
  return out;
}

VersionReading read_versions_again(ScsiState& s, ScsiIo& io, int level) {
  VersionReading out;
  const auto searched = s.search_only;
  s.search_only = std::make_pair(s.host_adapter_id, s.target_id);
  const bool found = find_again(s, io, out.rows);
  s.search_only = searched;
  std::array<std::uint8_t, 32> reply{};
  if (found) {
    // One read that fails on its way must not change which bytes are taken for which unit.
    for (int reading = 0; reading < 2; ++reading) {
      if (io.ui.stop_requested()) break;
      out.level = read_version_reply(s, io, reply);
      if (out.level == level) break;
    }
  }
  fill_version_rows(out.rows, s, out.level, reply);
  return out;
}

}  // namespace fwload
