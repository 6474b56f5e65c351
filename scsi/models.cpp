#include "scsi/models.h"

namespace fwload {
namespace {

constexpr ScannerModel kModels[] = {
    // vendor, product, class, imprinter rule, service, firmware name, kind, family length
    // (in the order a product is matched: "TR-MM73" before "TR-MM").
    {"Q.T.R.  ", "TR-MM73", 2, ImprinterRule::MM730n, false, "", 0, 0},
    {"Q.T.R.  ", "TR-MM", 1, ImprinterRule::None, false, "", 0, 0},
    {"ZENTARIO", "TR-M316", 3, ImprinterRule::SuffixAt9, false, "", 0, 0},
    {"PELKO   ", "TR-M718", 4, ImprinterRule::SuffixAt9, false, "", 0, 0},
    {"VIREX   ", "PL-5170", 4, ImprinterRule::SuffixAt8, false, "", 0, 0},
    // Firmware goes over SCSI to the HV Scanner families only (the first 13 characters).
    {"ORVEL   ", "HV Scanner 3600", 3, ImprinterRule::InquiryBytes, true, "HVS 3600", 5, 13},
    {"ORVEL   ", "HV Scanner 2600", 4, ImprinterRule::InquiryBytes, true, "HVS 2600", 7, 13},
};

bool starts(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

}  // namespace

std::span<const ScannerModel> scanner_models() {
  return kModels;
}

const ScannerModel* scanner_model_for(std::string_view product) {
  for (const ScannerModel& m : kModels) {
    if (starts(product, m.product)) return &m;
  }
  return nullptr;
}

const ScannerModel* firmware_family_for(std::string_view product) {
  for (const ScannerModel& m : kModels) {
    if (m.family_length > 0 && starts(product, m.product.substr(0, m.family_length))) return &m;
  }
  return nullptr;
}

bool is_known_vendor(std::string_view vendor) {
  for (const ScannerModel& m : kModels) {
    if (vendor == m.vendor) return true;
  }
  return false;
}

bool serves_command_dialog(std::string_view product) {
  const ScannerModel* m = scanner_model_for(product);
  return m != nullptr && m->service;
}

}  // namespace fwload
