#include "cli/update_plan.h"

#include <algorithm>
#include <cstdio>

#include "res/string_table.h"

namespace fwload {
namespace {

std::string name_of(const std::string& path) {
  const std::size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string sum_text(std::uint8_t sum) {
  char text[8];
  std::snprintf(text, sizeof text, "%02X", static_cast<unsigned>(sum));
  return text;
}

// The files of one model code: the newest is chosen, or none when the newest cannot be told.
void choose_newest(Catalogue& c, const std::vector<std::size_t>& group) {
  auto version = [&](std::size_t i) -> const std::string& { return c.files[i].state.file_version; };
  std::vector<std::size_t> top;  // the files no other file is newer than
  for (std::size_t i : group) {
    const bool older = std::any_of(group.begin(), group.end(), [&](std::size_t j) {
      return compare_versions(version(i), version(j)) == VersionOrder::Older;
    });
    if (!older) top.push_back(i);
  }
  const std::size_t first = top.front();
  for (std::size_t i : top) {
    CatalogueFile& f = c.files[i];
    if (i == first) continue;
    const CatalogueFile& other = c.files[first];
    if (compare_versions(version(i), version(first)) != VersionOrder::Equal) {
      f.status = "refused: its version " + trimmed(version(i)) + " cannot be ordered with " +
                 name_of(other.path) + "'s " + trimmed(version(first));
    } else if (f.state.sum_value != other.state.sum_value) {
      f.status = "refused: version " + trimmed(version(i)) + " as " + name_of(other.path) +
                 ", but another image (SUM VALUE " + sum_text(f.state.sum_value) + ", not " +
                 sum_text(other.state.sum_value) + ")";
    } else {
      f.status = "same firmware as " + name_of(other.path) + ", which is sent";
    }
  }
  const bool refused = std::any_of(top.begin(), top.end(), [&](std::size_t i) {
    return c.files[i].status.rfind("refused", 0) == 0;
  });
  CatalogueFile& chosen = c.files[first];
  if (refused) {
    // Each names the first; the first names the one it conflicts with.
    for (std::size_t i : top) {
      if (i != first && c.files[i].status.rfind("refused", 0) == 0) {
        chosen.status = "refused: conflicts with " + name_of(c.files[i].path);
        break;
      }
    }
    c.refused = true;
  } else {
    chosen.status = "newest";
    chosen.chosen = true;
    c.by_model[chosen.state.FirmwareTargetCode] = first;
  }
  for (std::size_t i : group) {
    if (std::find(top.begin(), top.end(), i) != top.end()) continue;
    c.files[i].status = "older: " + name_of(chosen.path) + " has " + trimmed(version(first));
  }
}

}  // namespace

Catalogue build_catalogue(std::vector<CatalogueFile> files) {
  Catalogue c;
  c.files = std::move(files);
  std::map<int, std::vector<std::size_t>> groups;
  for (std::size_t i = 0; i < c.files.size(); ++i) {
    CatalogueFile& f = c.files[i];
    if (!f.opened) {
      c.refused = true;
      continue;
    }
    if (f.listed_sha256 && f.listed_sha256->empty()) {
      f.status = "refused: not listed in SHA256SUMS";
      c.refused = true;
      continue;
    }
    if (f.listed_sha256 && *f.listed_sha256 != f.sha256) {
      f.status = "refused: its SHA-256 is not the one SHA256SUMS lists";
      c.refused = true;
      continue;
    }
    const int code = f.state.FirmwareTargetCode;
    if (code < 3) {
      f.status = "use transfer: no scanner reports a version row for its unit";
      continue;
    }
    groups[code].push_back(i);
  }
  for (const auto& [code, group] : groups) choose_newest(c, group);
  return c;
}

std::optional<ScannerFamily> scsi_family(std::uint8_t model_class) {
  if (model_class == 3) return ScannerFamily{5, 6, false};
  if (model_class == 4) return ScannerFamily{7, 8, false};
  return std::nullopt;
}

ScannerFamily serial_family() {
  return ScannerFamily{4, 3, true};
}

const char* action_name(UnitAction action) {
  switch (action) {
    case UnitAction::Update:
      return "update";
    case UnitAction::Current:
      return "current";
    case UnitAction::Newer:
      return "newer on the scanner";
    case UnitAction::Unknown:
      return "unknown";
    case UnitAction::NoFile:
      return "no file";
  }
  return "unknown";
}

std::vector<UnitPlan> plan_units(const VersionRows& rows, const std::vector<std::string>& fitted,
                                 const ScannerFamily& family, const Catalogue& catalogue,
                                 const UpdateOptions& options) {
  static const char* const kUnits[] = {"mecha_control", "pre_imprinter", "post_imprinter",
                                       "imprinter"};
  const std::string none(table_string(kStrNone));
  std::vector<UnitPlan> plan;
  const bool read = std::any_of(std::begin(kUnits), std::end(kUnits),
                                [&](const char* key) { return row_value(rows, key) != nullptr; });
  for (const char* key : kUnits) {
    const std::string* value = row_value(rows, key);
    const bool known = std::find(fitted.begin(), fitted.end(), key) != fitted.end();
    if (value == nullptr ? read || !known : trimmed(*value) == none) continue;
    UnitPlan u;
    u.unit = key;
    u.now = value != nullptr ? trimmed(*value) : std::string();
    u.post = u.unit == "post_imprinter";
    const int code = u.unit == "mecha_control" ? family.mecha_code : family.imprinter_code;
    const auto file = catalogue.by_model.find(code);
    if (file != catalogue.by_model.end()) {
      u.file = file->second;
      const std::string& version = catalogue.files[file->second].state.file_version;
      switch (u.now.empty() ? VersionOrder::Unknown : compare_versions(u.now, version)) {
        case VersionOrder::Older:
          u.action = UnitAction::Update;
          u.send = true;
          break;
        case VersionOrder::Equal:
          u.action = UnitAction::Current;
          u.send = options.allow_reinstall;
          break;
        case VersionOrder::Newer:
          u.action = UnitAction::Newer;
          u.send = options.allow_older;
          break;
        case VersionOrder::Unknown:
          u.action = UnitAction::Unknown;
          u.send = options.allow_older;
          break;
      }
    }
    plan.push_back(u);
  }
  return plan;
}

}  // namespace fwload
