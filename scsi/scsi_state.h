// What the SCSI code knows between commands: the bound ASPI manager, the selected scanner and
// its identity, the two request blocks and the last sense.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>
#include <utility>

#include "core/scanner_rows.h"
#include "core/timer_state.h"
#include "platform/aspi.h"
#include "platform/srb.h"
#include "platform/ui.h"

namespace fwload {

inline constexpr std::size_t kInquiryLength = 96;

// Fixed text buffers of the identity: always terminated.
template <std::size_t N>
struct FixedText {
  std::array<char, N + 1> chars{};
  void assign(std::string_view text) {
    const std::size_t n = text.size() < N ? text.size() : N;
    for (std::size_t i = 0; i < n; ++i) chars[i] = text[i];
    chars[n] = '\0';
  }
  std::string_view view() const { return std::string_view(chars.data()); }
};

struct ScsiState {
  std::unique_ptr<AspiModule> aspi_module;  // kept loaded between searches
  std::uint8_t host_adapter_id = 0;
  std::uint8_t target_id = 0;
  std::array<std::uint8_t, kInquiryLength> inquiry_data{};
  FixedText<8> scanner_vendor;
  FixedText<16> scanner_product;
  FixedText<4> scanner_revision;
  std::uint8_t scanner_model_class = 0;
  std::uint8_t pre_imprinter_fitted = 0;
  std::uint8_t post_imprinter_fitted = 0;

  // The first block carries TEST UNIT READY and INQUIRY, the second every other command, each
  // with the data buffer a manager is given. A block whose request was abandoned but not given
  // back by the manager goes to the manager with its buffer (AspiModule::keep_abandoned) and
  // a fresh one takes its place.
  std::unique_ptr<RequestSlot> inquiry_block = std::make_unique<RequestSlot>();
  std::unique_ptr<RequestSlot> command_block = std::make_unique<RequestSlot>();
  // When set, discovery asks only this (adapter, target).
  std::optional<std::pair<std::uint8_t, std::uint8_t>> search_only;
  // The longest any request may stay pending (a setting for tests; normally no limit below
  // the commands' own bounds).
  std::chrono::milliseconds request_bound_limit = std::chrono::milliseconds::max();

  // The last sense, cleared at the start of every wait.
  std::uint8_t sense_eom = 0;
  std::uint8_t sense_ili = 0;
  std::uint8_t sense_key = 0;
  std::uint8_t sense_asc = 0;
  std::uint8_t sense_ascq = 0;
};

// What the SCSI operations use of the platform.
struct ScsiIo {
  Ui& ui;
  AspiLoader& loader;
  TimerState& timer;
};

}  // namespace fwload
