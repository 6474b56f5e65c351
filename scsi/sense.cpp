#include "scsi/sense.h"

#include <cstdio>

#include "res/string_table.h"

namespace fwload {
namespace {

struct CodeRecord {
  std::uint32_t code;  // key * 0x10000 + ASC * 0x100 + ASCQ
  int string_id;       // 0 ends the list
};

constexpr std::uint32_t code_of(std::uint32_t key, std::uint32_t asc, std::uint32_t ascq) {
  return key * 0x10000 + asc * 0x100 + ascq;
}

// Searched in order; the first match wins.
constexpr CodeRecord kMessages[] = {
    {code_of(0x00, 0x00, 0x00), kStrNoSense},
    {code_of(0x02, 0x00, 0x00), kStrNotReady},
    {code_of(0x02, 0x04, 0x01), kStrBecomingReady},
    {code_of(0x02, 0x04, 0x80), kStrDoorOpen},
    {code_of(0x02, 0x04, 0x81), kStrDoorOpenToo},
    {code_of(0x03, 0x3A, 0x00), kStrNoPaper},
    {code_of(0x03, 0x80, 0x01), kStrJam},
    {code_of(0x03, 0x80, 0x02), kStrJamToo},
    {code_of(0x03, 0x80, 0x03), kStrJamAgain},
    {code_of(0x03, 0x80, 0x04), kStrPaperRemains},
    {code_of(0x04, 0x08, 0x80), kStrParameterError},
    {code_of(0x04, 0x08, 0x81), kStrDmaError},
    {code_of(0x04, 0x08, 0x82), kStrCommandError},
    {code_of(0x04, 0x44, 0x80), kStrRamError},
    {code_of(0x04, 0x44, 0x81), kStrEepromError},
    {code_of(0x04, 0x47, 0x00), kStrScsiParityError},
    {code_of(0x04, 0x80, 0x01), kStrLampBroken},
    {code_of(0x04, 0x80, 0x02), kStrPaperDetectError},
    {code_of(0x04, 0x80, 0x03), kStrShortOfLight},
    {code_of(0x04, 0x80, 0x04), kStrHopperError},
    {code_of(0x04, 0x80, 0x05), kStrPaperSensorError},
    {code_of(0x05, 0x1A, 0x00), kStrParameterListLength},
    {code_of(0x05, 0x20, 0x00), kStrInvalidOpcode},
    {code_of(0x05, 0x24, 0x00), kStrInvalidCdbField},
    {code_of(0x05, 0x25, 0x00), kStrLunNotSupported},
    {code_of(0x05, 0x26, 0x00), kStrInvalidParameterField},
    {code_of(0x05, 0x2C, 0x01), kStrTooManyWindows},
    {code_of(0x05, 0x2C, 0x02), kStrInvalidWindowCombination},
    {code_of(0x05, 0x2C, 0x80), kStrShortOfMemoryForArea},
    {code_of(0x05, 0x2C, 0x81), kStrNoBackUnit},
    {code_of(0x05, 0x3D, 0x00), kStrInvalidIdentifyBits},
    {code_of(0x06, 0x29, 0x00), kStrUnitAttention},
    {code_of(0x0B, 0x1B, 0x00), kStrSyncTransferError},
    {code_of(0x0B, 0x43, 0x00), kStrMessageError},
    {code_of(0x0B, 0x49, 0x00), kStrInvalidMessage},
    {code_of(0x0B, 0x80, 0x01), kStrImageTransferError},
    {code_of(0x04, 0x0C, 0x80), kStrMicrocodeSaveFailed},
    {code_of(0x04, 0x81, 0x01), kStrEepromWriteError},
    {code_of(0xFF, 0x00, 0x00), kStrNoPaperSource},
    {code_of(0xFF, 0x00, 0x01), kStrShortOfMemory},
    {code_of(0xFF, 0x00, 0x02), kStrLoadLibraryError},
    {code_of(0xFF, 0x00, 0x03), kStrSupportInfoAddressError},
    {code_of(0xFF, 0x00, 0x04), kStrSendCommandAddressError},
    {code_of(0xFF, 0x00, 0x05), kStrNoAspiManagers},
    {code_of(0xFF, 0x00, 0x06), kStrAspiModeUnsupported},
    {code_of(0xFF, 0x00, 0x07), kStrAspiNotForWindows},
    {code_of(0xFF, 0x00, 0x08), kStrAspiNotInitialized},
    {code_of(0xFF, 0x00, 0x09), kStrNoTargetDevice},
    {code_of(0xFF, 0x00, 0x0A), kStrScannerBusy},
    {code_of(0xFF, 0x01, 0x00), kStrNameExists},
    {code_of(0xFF, 0x01, 0x01), kStrSizeInvalid},
    {code_of(0xFF, 0x01, 0x02), kStrClickPaperSize},
    {code_of(0xFF, 0x02, 0x01), kStrFileNotForScanner},
    {0, 0},
};

// The same record form with only the code column.
constexpr CodeRecord kIgnorable[] = {
    {code_of(0x02, 0x04, 0x80), 1}, {code_of(0x02, 0x04, 0x81), 1},
    {code_of(0x03, 0x3A, 0x00), 1}, {code_of(0x03, 0x80, 0x01), 1},
    {code_of(0x03, 0x80, 0x02), 1}, {code_of(0x03, 0x80, 0x03), 1},
    {code_of(0x03, 0x80, 0x04), 1}, {code_of(0x04, 0x08, 0x80), 1},
    {code_of(0x04, 0x08, 0x81), 1}, {code_of(0x04, 0x08, 0x82), 1},
    {code_of(0x04, 0x44, 0x80), 1}, {code_of(0x04, 0x44, 0x81), 1},
    {code_of(0x04, 0x47, 0x00), 1}, {code_of(0x04, 0x80, 0x01), 1},
    {code_of(0x04, 0x80, 0x02), 1}, {code_of(0x04, 0x80, 0x03), 1},
    {code_of(0x04, 0x80, 0x04), 1}, {code_of(0x04, 0x80, 0x05), 1},
    {code_of(0x05, 0x1A, 0x00), 1}, {code_of(0x05, 0x2C, 0x81), 1},
    {code_of(0x04, 0x81, 0x01), 1}, {0, 0},
};

constexpr std::size_t kMessageMax = 180;
constexpr std::size_t kCaptionMax = 128;

std::string bounded(std::string_view text, std::size_t max) {
  return std::string(text.substr(0, max - 1));
}

}  // namespace

std::string scanner_message_text(std::uint8_t key, std::uint8_t asc, std::uint8_t ascq) {
  const std::uint32_t code = code_of(key, asc, ascq);
  for (const CodeRecord* r = kMessages; r->string_id != 0; ++r) {
    if (r->code == code) return bounded(table_string(r->string_id), kMessageMax);
  }
  std::string text = bounded(table_string(kStrScannerErrorCode), kMessageMax);
  char numbers[32];
  std::snprintf(numbers, sizeof numbers, "%.1x, %.2x, %.2x H", key, asc, ascq);
  text += numbers;
  return bounded(text, kMessageMax);
}

std::string scanner_message_caption(std::uint8_t key, std::uint8_t asc) {
  StringId id = kStrScannerMessageCaption;
  if (key == 0xFF) {
    id = asc == 0x00   ? kStrSourceMessageCaption
         : asc == 0x01 ? kStrFreeSizeCaption
                       : kStrDownLoadCaption;
  }
  return bounded(table_string(id), kCaptionMax);
}

void show_scanner_message(Ui& ui, std::uint8_t key, std::uint8_t asc, std::uint8_t ascq) {
  ui.message_box(scanner_message_caption(key, asc), scanner_message_text(key, asc, ascq),
                 /*task_modal=*/true);
}

int is_ignorable_condition(std::uint8_t key, std::uint8_t asc, std::uint8_t ascq) {
  const std::uint32_t code = code_of(key, asc, ascq);
  for (const CodeRecord* r = kIgnorable; r->string_id != 0; ++r) {
    if (r->code == code) return 1;
  }
  return 0;
}

}  // namespace fwload
