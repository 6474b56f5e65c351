#include "scsi/discovery.h"

#include "res/string_table.h"
#include "scsi/commands.h"
#include "scsi/models.h"
#include "scsi/sense.h"

namespace fwload {
namespace {

constexpr std::uint8_t kScannerDeviceType = 6;
constexpr int kTargets = 8;

std::string_view bytes_as_text(const std::array<std::uint8_t, kInquiryLength>& data,
                               std::size_t first, std::size_t count) {
  return std::string_view(reinterpret_cast<const char*>(data.data()) + first, count);
}

bool starts(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

char at(std::string_view text, std::size_t i) {
  return i < text.size() ? text[i] : '\0';
}

}  // namespace

void show_no_target_device(Ui& ui) {
  ui.message_box("Scanner Error", table_string(kStrNoTargetDevice));
}

void release_aspi(ScsiState& state) {
  state.aspi_module.reset();
}

std::uint8_t model_class_of(std::string_view product) {
  const ScannerModel* m = scanner_model_for(product);
  return m != nullptr ? m->model_class : 0;
}

ImprinterFlags imprinter_flags_of(std::string_view vendor, std::string_view product,
                                  std::uint8_t byte37, std::uint8_t byte39) {
  ImprinterFlags f;
  // A vendor that reports its imprinters in the INQUIRY data does so for all its products.
  for (const ScannerModel& m : scanner_models()) {
    if (m.imprinter == ImprinterRule::InquiryBytes && vendor == m.vendor) {
      f.pre = (byte37 & 0x10) != 0 ? 1 : 0;
      f.post = (byte39 & 0x10) != 0 ? 1 : 0;
      return f;
    }
  }
  const ScannerModel* m = scanner_model_for(product);
  switch (m != nullptr ? m->imprinter : ImprinterRule::None) {
    case ImprinterRule::MM730n:
      if (starts(product, "TR-MM730") && at(product, 8) == 'n') f.post = 1;
      break;
    case ImprinterRule::SuffixAt9:
      if (at(product, 9) == 'f') {
        f.pre = 1;
        if (at(product, 10) == 'b') f.post = 1;
      }
      if (at(product, 9) == 'b') f.post = 1;
      break;
    case ImprinterRule::SuffixAt8:
      if (at(product, 8) == 'f') f.pre = 1;
      if (at(product, 8) == 'b') f.post = 1;
      break;
    case ImprinterRule::None:
    case ImprinterRule::InquiryBytes:
      break;
  }
  return f;
}

namespace {

// Loads the manager if needed and checks it; the number of adapters, or -1 after the message.
int bind_manager(ScsiState& s, ScsiIo& io) {
  if (!s.aspi_module) {
    s.aspi_module = io.loader.load(kAspiLibraryName);
    if (!s.aspi_module) {
      show_scanner_message(io.ui, kLoadLibraryError);
      return -1;
    }
  }
  // The entry points are looked up on every search, so that a manager without them is never
  // called, however often the search is repeated.
  if (!s.aspi_module->has_entry("GetASPI32SupportInfo")) {
    show_scanner_message(io.ui, kSupportInfoMissing);
    return -1;
  }
  if (!s.aspi_module->has_entry("SendASPI32Command")) {
    show_scanner_message(io.ui, kSendCommandMissing);
    return -1;
  }
  const std::uint32_t info = s.aspi_module->get_support_info();
  if (((info >> 8) & 0xFF) != kSsComp) {
    show_scanner_message(io.ui, kAspiNotInitialized);
    return -1;
  }
  return static_cast<int>(info & 0xFF);
}

bool is_scanner(const std::array<std::uint8_t, kInquiryLength>& inquiry) {
  return (inquiry[0] & 0x1F) == kScannerDeviceType && is_known_vendor(bytes_as_text(inquiry, 8, 8));
}

// Whether the search may ask this address (--target limits it to one).
bool searched(const ScsiState& s, unsigned adapter, int target) {
  return !s.search_only || (s.search_only->first == adapter && s.search_only->second == target);
}

}  // namespace

int find_scanner(ScsiState& s, ScsiIo& io, bool quiet) {
  const int adapters = bind_manager(s, io);
  if (adapters < 0) return 0;
  for (unsigned adapter = 0; adapter < static_cast<unsigned>(adapters); ++adapter) {
    s.host_adapter_id = static_cast<std::uint8_t>(adapter);
    for (int target = 0; target < kTargets; ++target) {
      if (!searched(s, adapter, target)) continue;
      if (io.ui.interrupted()) return 0;
      const std::uint16_t result = inquiry(s, io, static_cast<std::uint8_t>(target));
      if (result == 0x100 + kSsInvalidHa || result == 0x100 + kSsFailedInit) break;
      if (result != 0) continue;
      const std::string_view vendor = bytes_as_text(s.inquiry_data, 8, 8);
      const std::string_view product = bytes_as_text(s.inquiry_data, 16, 16);
      s.scanner_vendor.assign(vendor);
      s.scanner_product.assign(product);
      s.scanner_revision.assign(bytes_as_text(s.inquiry_data, 32, 4));
      if (!is_scanner(s.inquiry_data)) continue;
      s.target_id = static_cast<std::uint8_t>(target);
      s.scanner_model_class = model_class_of(product);
      const ImprinterFlags flags =
          imprinter_flags_of(vendor, product, s.inquiry_data[37], s.inquiry_data[39]);
      s.pre_imprinter_fitted = flags.pre;
      s.post_imprinter_fitted = flags.post;
      return 1;
    }
  }
  if (!quiet && !io.ui.interrupted()) show_no_target_device(io.ui);
  return 0;
}

std::optional<std::vector<ScsiDevice>> scan_bus(ScsiState& s, ScsiIo& io) {
  const int adapters = bind_manager(s, io);
  if (adapters < 0) return std::nullopt;
  std::vector<ScsiDevice> found;
  for (unsigned adapter = 0; adapter < static_cast<unsigned>(adapters); ++adapter) {
    s.host_adapter_id = static_cast<std::uint8_t>(adapter);
    for (int target = 0; target < kTargets; ++target) {
      if (io.ui.interrupted()) return std::nullopt;
      const std::uint16_t result = inquiry(s, io, static_cast<std::uint8_t>(target));
      if (result == 0x100 + kSsInvalidHa || result == 0x100 + kSsFailedInit) break;
      ScsiDevice d;
      d.adapter = static_cast<std::uint8_t>(adapter);
      d.target = static_cast<std::uint8_t>(target);
      d.path = s.aspi_module->device_path(d.adapter, d.target);
      if (result != 0) {
        // Nothing answers there, or something the manager cannot reach (and can say why).
        d.problem = s.aspi_module->device_problem(d.adapter, d.target);
        if (!d.problem.empty()) found.push_back(d);
        continue;
      }
      d.type = s.inquiry_data[0] & 0x1F;
      d.vendor = bytes_as_text(s.inquiry_data, 8, 8);
      d.product = bytes_as_text(s.inquiry_data, 16, 16);
      d.revision = bytes_as_text(s.inquiry_data, 32, 4);
      d.scanner = is_scanner(s.inquiry_data);
      found.push_back(d);
    }
  }
  return found;
}

}  // namespace fwload
