// The "About Scanner" and "About Host" rows of the About dialog as the scanner information
// fills them, over SCSI or over serial.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace fwload {

// What a row shows for a scanner that did not answer.
inline constexpr std::string_view kNoDeviceText = "No device !";

struct ScannerRows {
  std::string vendor, product;
  std::string host, target;  // values of the two host rows
  // New texts for the labels of the two host rows; empty optional: the label stays.
  std::optional<std::string> host_label, target_label;
  std::array<std::string, 4> version_label;
  std::array<std::string, 4> version_value;
};

}  // namespace fwload
