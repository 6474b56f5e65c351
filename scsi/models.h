// The scanners the tool knows over SCSI, one row each: how discovery recognises a product, its
// model class and imprinter rule, whether the service commands (Command dialog, set-default,
// serial-number) serve it, and which firmware a download may send it. Adding a model is one
// row here (and one in the emulator's model list, emulator/scanner.cpp, naming this row).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace fwload {

// How the fitted imprinters are read for a product.
enum class ImprinterRule : std::uint8_t {
  None,
  InquiryBytes,  // the vendor's rule: INQUIRY byte 37 bit 4 pre-, byte 39 bit 4 post-imprinter
  MM730n,        // "TR-MM730" followed by 'n': a post-imprinter
  SuffixAt9,     // 10th character 'f': pre (11th 'b': also post); 10th 'b': post
  SuffixAt8,     // 9th character 'f': pre; 'b': post
};

struct ScannerModel {
  std::string_view vendor;   // INQUIRY vendor identification, 8 characters
  std::string_view product;  // the product identification starts with this
  std::uint8_t model_class;  // 1 TR-MM, 2 TR-MM73, 3 and 4: the models with a serial number
  ImprinterRule imprinter;
  bool service;                    // regional defaults and serial number
  std::string_view firmware_name;  // scanner name of the firmware files it takes ("": none)
  std::uint8_t firmware_kind;      // model code of its own firmware (imprinter units: 6 and 8)
  // A download compares this many first characters of `product`: the firmware family.
  std::size_t family_length;
};

// In the order a product is matched: the first row whose `product` starts it.
std::span<const ScannerModel> scanner_models();

// The row of a product identification, or null.
const ScannerModel* scanner_model_for(std::string_view product);
// The row of the firmware family of a product (its first `family_length` characters), or
// null: the scanners a download may go to.
const ScannerModel* firmware_family_for(std::string_view product);
// Whether `vendor` is one of the vendors of the table.
bool is_known_vendor(std::string_view vendor);
// Whether the service commands serve this product.
bool serves_command_dialog(std::string_view product);
// Model classes 3 and 4 keep a serial number (the TESTBOX-Serial template, serial-number).
inline bool has_serial_number_class(std::uint8_t model_class) {
  return model_class == 3 || model_class == 4;
}

}  // namespace fwload
