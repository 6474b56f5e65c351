// Scanner conditions, given as (sense key, ASC, ASCQ), turned into the scanner's messages, and
// the conditions under which the scanner can still take a command.
#pragma once

#include <cstdint>
#include <string>

#include "platform/ui.h"

namespace fwload {

struct SenseTriple {
  std::uint8_t key = 0;
  std::uint8_t asc = 0;
  std::uint8_t ascq = 0;
};

// The tool's own conditions, carried in the same form.
inline constexpr SenseTriple kLoadLibraryError{0xFF, 0x00, 0x02};
inline constexpr SenseTriple kSupportInfoMissing{0xFF, 0x00, 0x03};
inline constexpr SenseTriple kSendCommandMissing{0xFF, 0x00, 0x04};
inline constexpr SenseTriple kAspiNotInitialized{0xFF, 0x00, 0x08};
inline constexpr SenseTriple kScannerBusy{0xFF, 0x00, 0x0A};
inline constexpr SenseTriple kFileNotForScanner{0xFF, 0x02, 0x01};

// Text of the message table for the triple, or the fallback text with the triple's numbers.
std::string scanner_message_text(std::uint8_t key, std::uint8_t asc, std::uint8_t ascq);
// Caption for the triple.
std::string scanner_message_caption(std::uint8_t key, std::uint8_t asc);
// Shows the message: task-modal, warning icon, OK.
void show_scanner_message(Ui& ui, std::uint8_t key, std::uint8_t asc, std::uint8_t ascq);
inline void show_scanner_message(Ui& ui, SenseTriple t) {
  show_scanner_message(ui, t.key, t.asc, t.ascq);
}
// 1 when the triple is a door, paper, jam or unit condition that still allows commands.
int is_ignorable_condition(std::uint8_t key, std::uint8_t asc, std::uint8_t ascq);

}  // namespace fwload
