#include "firmware/sum_writer.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "firmware/hex.h"

namespace fwload {
namespace {

// Output is collected and handed to the file in pieces of about this size.
constexpr std::size_t kFlushSize = 1 << 16;
// The longest line: "S2", length, address, 16 data bytes, checksum, CR LF.
constexpr std::size_t kMaxLine = 2 + 2 + 6 + 2 * kSumRecordBytes + 2 + 2;

struct HexPair {
  char high, low;
};
constexpr std::array<HexPair, 256> make_hex_pairs() {
  std::array<HexPair, 256> pairs{};
  for (int b = 0; b < 256; ++b) pairs[b] = {kHexDigits[b >> 4], kHexDigits[b & 0xF]};
  return pairs;
}
constexpr std::array<HexPair, 256> kHexPairs = make_hex_pairs();

char* put_byte(char* out, std::uint32_t value) {
  const HexPair& h = kHexPairs[value & 0xFF];
  out[0] = h.high;
  out[1] = h.low;
  return out + 2;
}

// Formats the S2 line for `data` at `address` into `out` (room for kMaxLine characters);
// returns the end of the line.
char* format_s2_record(char* out, std::uint32_t address, std::span<const std::uint8_t> data) {
  const std::uint32_t count = static_cast<std::uint32_t>(data.size());
  std::uint32_t sum =
      (count + 4) + ((address >> 16) & 0xFF) + ((address >> 8) & 0xFF) + (address & 0xFF);
  *out++ = 'S';
  *out++ = '2';
  out = put_byte(out, count + 4);
  out = put_byte(out, address >> 16);
  out = put_byte(out, address >> 8);
  out = put_byte(out, address);
  for (std::uint8_t b : data) {
    out = put_byte(out, b);
    sum += b;
  }
  out = put_byte(out, 0xFFu - (sum & 0xFFu));
  *out++ = '\r';
  *out++ = '\n';
  return out;
}

}  // namespace

void append_s2_record(std::string& out, std::uint32_t address, std::span<const std::uint8_t> data) {
  char line[kMaxLine + 2 * 256];
  out.append(line,
             format_s2_record(line, address, data.first(std::min<std::size_t>(data.size(), 255))));
}

void append_s8_record(std::string& out, std::uint32_t start_address) {
  const std::uint32_t sum =
      4 + ((start_address >> 16) & 0xFF) + ((start_address >> 8) & 0xFF) + (start_address & 0xFF);
  out += "S804";
  append_hex(out, start_address, 6);
  append_hex(out, 0xFFu - (sum & 0xFFu), 2);
  out += "\r\n";
}

bool write_sum_records(OutputFile& file, std::span<const std::uint8_t> image,
                       std::uint32_t start_address, std::uint32_t byte_count, Ui& ui) {
  static constexpr std::array<std::uint8_t, kSumRecordBytes> kBlank = [] {
    std::array<std::uint8_t, kSumRecordBytes> blank{};
    blank.fill(0xFF);
    return blank;
  }();
  ProgressMeter progress(ui);
  progress.report(0);
  std::vector<char> buffer(kFlushSize + kMaxLine);
  char* const begin = buffer.data();
  char* out = begin;
  auto flush = [&] {
    const bool ok = file.write(std::span(reinterpret_cast<const std::uint8_t*>(begin),
                                         static_cast<std::size_t>(out - begin)));
    out = begin;
    return ok;
  };
  std::uint32_t remaining = byte_count;
  std::uint32_t address = start_address;
  const bool narrow = byte_count <= 0xFFFFFFFFu / 100;
  while (remaining > 0) {
    const std::uint32_t count = remaining < kSumRecordBytes ? remaining : kSumRecordBytes;
    const auto record = image.subspan(address, count);
    if (std::memcmp(record.data(), kBlank.data(), count) != 0) {
      out = format_s2_record(out, address, record);
      if (static_cast<std::size_t>(out - begin) >= kFlushSize && !flush()) return false;
    }
    address += count;
    remaining -= count;
    // 32-bit arithmetic for every range of the image; 64-bit only for larger counts.
    progress.report(static_cast<int>(
        100 - (narrow ? remaining * 100u / byte_count
                      : static_cast<std::uint32_t>(std::uint64_t{remaining} * 100 / byte_count))));
    ui.pump_one();
    ui.wait_cursor();
  }
  std::string tail;
  append_s8_record(tail, start_address);
  tail += '\x1A';
  std::memcpy(out, tail.data(), tail.size());
  out += tail.size();
  return flush();
}

}  // namespace fwload
