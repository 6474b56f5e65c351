#include "scsi/sense.h"

#include <cstdio>

#include "res/string_table.h"

namespace fwload {
namespace {

struct CodeRecord {
  std::uint32_t code;       // key * 0x10000 + ASC * 0x100 + ASCQ
  std::uint32_t string_id;  // 0 ends the list
};

constexpr std::uint32_t code_of(std::uint32_t key, std::uint32_t asc, std::uint32_t ascq) {
  return key * 0x10000 + asc * 0x100 + ascq;
}

// Searched in order; the first match wins.
constexpr CodeRecord kMessages[] = {
    {code_of(0x00, 0x00, 0x00), 17}, {code_of(0x02, 0x00, 0x00), 18},
    {code_of(0x02, 0x04, 0x01), 19}, {code_of(0x02, 0x04, 0x80), 20},
    {code_of(0x02, 0x04, 0x81), 21}, {code_of(0x03, 0x3A, 0x00), 22},
    {code_of(0x03, 0x80, 0x01), 23}, {code_of(0x03, 0x80, 0x02), 24},
    {code_of(0x03, 0x80, 0x03), 25}, {code_of(0x03, 0x80, 0x04), 26},
    {code_of(0x04, 0x08, 0x80), 27}, {code_of(0x04, 0x08, 0x81), 28},
    {code_of(0x04, 0x08, 0x82), 29}, {code_of(0x04, 0x44, 0x80), 30},
    {code_of(0x04, 0x44, 0x81), 31}, {code_of(0x04, 0x47, 0x00), 32},
    {code_of(0x04, 0x80, 0x01), 33}, {code_of(0x04, 0x80, 0x02), 34},
    {code_of(0x04, 0x80, 0x03), 35}, {code_of(0x04, 0x80, 0x04), 36},
    {code_of(0x04, 0x80, 0x05), 37}, {code_of(0x05, 0x1A, 0x00), 38},
    {code_of(0x05, 0x20, 0x00), 39}, {code_of(0x05, 0x24, 0x00), 40},
    {code_of(0x05, 0x25, 0x00), 41}, {code_of(0x05, 0x26, 0x00), 42},
    {code_of(0x05, 0x2C, 0x01), 43}, {code_of(0x05, 0x2C, 0x02), 44},
    {code_of(0x05, 0x2C, 0x80), 45}, {code_of(0x05, 0x2C, 0x81), 46},
    {code_of(0x05, 0x3D, 0x00), 47}, {code_of(0x06, 0x29, 0x00), 48},
    {code_of(0x0B, 0x1B, 0x00), 49}, {code_of(0x0B, 0x43, 0x00), 50},
    {code_of(0x0B, 0x49, 0x00), 51}, {code_of(0x0B, 0x80, 0x01), 52},
    {code_of(0x04, 0x0C, 0x80), 53}, {code_of(0x04, 0x81, 0x01), 54},
    {code_of(0xFF, 0x00, 0x00), 55}, {code_of(0xFF, 0x00, 0x01), 56},
    {code_of(0xFF, 0x00, 0x02), 60}, {code_of(0xFF, 0x00, 0x03), 61},
    {code_of(0xFF, 0x00, 0x04), 62}, {code_of(0xFF, 0x00, 0x05), 63},
    {code_of(0xFF, 0x00, 0x06), 64}, {code_of(0xFF, 0x00, 0x07), 65},
    {code_of(0xFF, 0x00, 0x08), 66}, {code_of(0xFF, 0x00, 0x09), 67},
    {code_of(0xFF, 0x00, 0x0A), 68}, {code_of(0xFF, 0x01, 0x00), 57},
    {code_of(0xFF, 0x01, 0x01), 58}, {code_of(0xFF, 0x01, 0x02), 59},
    {code_of(0xFF, 0x02, 0x01), 83}, {0, 0},
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
    if (r->code == code) return bounded(table_string(static_cast<int>(r->string_id)), kMessageMax);
  }
  std::string text = bounded(table_string(72), kMessageMax);
  char numbers[32];
  std::snprintf(numbers, sizeof numbers, "%.1x, %.2x, %.2x H", key, asc, ascq);
  text += numbers;
  return bounded(text, kMessageMax);
}

std::string scanner_message_caption(std::uint8_t key, std::uint8_t asc) {
  int id = 69;
  if (key == 0xFF) id = asc == 0x00 ? 70 : asc == 0x01 ? 71 : 82;
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
