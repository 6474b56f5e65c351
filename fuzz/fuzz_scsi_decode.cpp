// Arbitrary bytes as what SCSI devices answer: INQUIRY replies (identity, device type,
// imprinter bytes), sense data and version replies, through discovery and the scanner
// information; and the sense table with arbitrary triples.
#include <algorithm>

#include "fuzz/fuzz_support.h"
#include "scsi/discovery.h"
#include "scsi/info.h"
#include "scsi/sense.h"

namespace {

// A manager whose devices answer from the input, request after request.
class FuzzAspi : public fwload::AspiModule {
 public:
  FuzzAspi(const std::uint8_t* d, std::size_t s) : d_(d), s_(s) {}
  bool has_entry(std::string_view) override { return true; }
  std::uint32_t get_support_info() override { return 0x0100 | (take() % 3); }
  void send_command(fwload::ScsiRequestBlock& srb) override {
    srb.target_status = take() % 3 == 0 ? 2 : 0;
    for (std::size_t i = 0; i < sizeof srb.sense; ++i) srb.sense[i] = take();
    for (std::uint32_t i = 0; i < srb.data_length && srb.data_buffer != nullptr; ++i) {
      if (srb.flags & fwload::kSrbDirIn) srb.data_buffer[i] = take();
    }
    const std::uint8_t statuses[] = {1, 1, 1, 4, 0x81, 0x82, 0xE4, 2};
    fwload::store_status(srb, statuses[take() % 8]);
  }
  void abort(fwload::ScsiRequestBlock& srb) override { fwload::store_status(srb, 2); }

 private:
  std::uint8_t take() { return pos_ < s_ ? d_[pos_++] : 0; }
  const std::uint8_t* d_;
  std::size_t s_;
  std::size_t pos_ = 0;
};

class FuzzLoader : public fwload::AspiLoader {
 public:
  FuzzLoader(const std::uint8_t* d, std::size_t s) : d_(d), s_(s) {}
  std::unique_ptr<fwload::AspiModule> load(std::string_view) override {
    return std::make_unique<FuzzAspi>(d_, s_);
  }

 private:
  const std::uint8_t* d_;
  std::size_t s_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace fwload;
  fuzz::QuietUi ui;
  TimerState timer;
  FuzzLoader loader(data, size);
  ScsiState state;
  ScsiIo io{ui, loader, timer};
  find_scanner(state, io);
  if (state.scanner_vendor.view().size() > 8 || state.scanner_product.view().size() > 16) {
    __builtin_trap();
  }
  const ScannerRows rows = read_scanner_info_scsi(state, io);
  for (const std::string& v : rows.version_value) {
    if (v.size() > 4 && v != "No device !") __builtin_trap();
  }
  if (size >= 3) {
    const std::string text = scanner_message_text(data[0], data[1], data[2]);
    if (text.empty() || text.size() > 179) __builtin_trap();
    is_ignorable_condition(data[0], data[1], data[2]);
    scanner_message_caption(data[0], data[1]);
  }
  const std::string_view product(reinterpret_cast<const char*>(data),
                                 std::min<std::size_t>(size, 16));
  model_class_of(product);
  imprinter_flags_of(product, product, size > 0 ? data[0] : 0, size > 1 ? data[1] : 0);
  return 0;
}
