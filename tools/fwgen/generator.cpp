#include "tools/fwgen/generator.h"

#include <algorithm>
#include <stdexcept>
#include <string_view>

namespace fwgen {
namespace {

struct ModelMarks {
  std::string_view family;
  std::string_view unit;
  std::uint32_t end;
};

ModelMarks marks_for(int model) {
  switch (model) {
    case 1:
      return {"TR-MM40 ", "", 0x1A000};
    case 2:
      return {"TR-MM730", "SCANNER", 0x1F000};
    case 3:
      return {"TR-MM730", "NUMBERING", 0x1F000};
    case 4:
      return {"TR-MM730", "MECHA-CONTROL", 0x1F000};
    case 5:
      return {"HVS 3600", "MECHA-CONTROL", 0x6F000};
    case 6:
      return {"HVS 3600", "IMPRINTER", 0x1F000};
    case 7:
      return {"HVS 2600", "MECHA-CONTROL", 0x6F000};
    case 8:
      return {"HVS 2600", "IMPRINTER", 0x1F000};
    default:
      throw std::invalid_argument("model code must be 1..8");
  }
}

// Checksum bytes the model keeps blank in a ".mot" file.
std::vector<std::uint32_t> checksum_locations(int model) {
  if (model == 1) return {0x3FFF, 0x1BFFF, 0x1FFFF, 0x6FFFF};
  if (model == 5 || model == 7) return {0x6FFFF};
  return {0x1FFFF};
}

class Random {
 public:
  explicit Random(std::uint32_t seed) : state_(seed == 0 ? 0x9E3779B9u : seed) {}
  std::uint32_t next() {
    state_ ^= state_ << 13;
    state_ ^= state_ >> 17;
    state_ ^= state_ << 5;
    return state_;
  }

 private:
  std::uint32_t state_;
};

// Program-like bytes: instruction-looking runs, small lookup tables, message texts, zero
// padding and erased (0xFF) areas, in a pattern that repeats every 4 KiB with varying content.
void fill_program(std::vector<std::uint8_t>& image, std::uint32_t start, std::uint32_t end,
                  std::uint32_t seed) {
  static constexpr std::string_view kMessages[] = {"Paper jam at feeder", "Lamp warm-up",
                                                   "Door open", "Hopper empty", "Calibrating CCD"};
  Random rng(seed);
  for (std::uint32_t a = start; a < end;) {
    const std::uint32_t in_page = a & 0xFFF;
    std::uint32_t run = 0;
    if (in_page >= 0xF00) {  // erased tail of each 4 KiB page
      run = 0x1000 - in_page;
      std::fill_n(image.begin() + a, std::min(run, end - a), 0xFF);
    } else if (in_page >= 0xE00) {  // a table of small numbers
      run = 0xF00 - in_page;
      for (std::uint32_t i = 0; i < run && a + i < end; ++i) image[a + i] = (i * 7) & 0x3F;
    } else if (in_page == 0xD00) {  // a message text, zero padded
      const std::string_view text = kMessages[rng.next() % std::size(kMessages)];
      run = 0x100;
      for (std::uint32_t i = 0; i < run && a + i < end; ++i) {
        image[a + i] = i < text.size() ? static_cast<std::uint8_t>(text[i]) : 0;
      }
    } else {  // code: opcode-like bytes
      run = 0x100 - (in_page & 0xFF);
      for (std::uint32_t i = 0; i < run && a + i < end; ++i) {
        const std::uint32_t r = rng.next();
        image[a + i] = static_cast<std::uint8_t>((r >> 8) & 0xFF);
      }
    }
    a += run;
  }
}

void place(Firmware& fw, std::uint32_t address, std::string_view text) {
  if (address + text.size() > kImageSize) throw std::invalid_argument("mark beyond the image");
  for (std::size_t i = 0; i < text.size(); ++i) {
    fw.image[address + i] = static_cast<std::uint8_t>(text[i]);
  }
}

void append_hex(std::string& out, std::uint32_t value, int digits, bool lower_case) {
  const char* hex = lower_case ? "0123456789abcdef" : "0123456789ABCDEF";
  for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4) out += hex[(value >> shift) & 0xF];
}

std::string header_line(bool lower_case) {
  const std::string_view text = "fwgen synthetic";
  std::string out = "S0";
  std::uint32_t sum = static_cast<std::uint32_t>(text.size() + 3);
  append_hex(out, sum, 2, lower_case);
  out += "0000";
  for (char c : text) {
    append_hex(out, static_cast<std::uint8_t>(c), 2, lower_case);
    sum += static_cast<std::uint8_t>(c);
  }
  append_hex(out, 0xFF - (sum & 0xFF), 2, lower_case);
  return out + "\r\n";
}

std::string terminator_line(int type) {
  if (type == 1) return "S9030000FC\r\n";
  if (type == 2) return "S804000000FB\r\n";
  return "S70500000000FA\r\n";
}

void overwrite(Firmware& fw, std::uint32_t address, const std::vector<std::uint8_t>& data) {
  for (std::size_t i = 0; i < data.size(); ++i) {
    fw.image[address + i] = data[i];
    fw.present[address + i] = true;
  }
}

}  // namespace

Firmware build_firmware(const FirmwareSpec& spec) {
  const ModelMarks marks = marks_for(spec.model);
  const std::uint32_t end = spec.end != 0 ? spec.end : marks.end;
  if (spec.start >= end || end > kImageSize) throw std::invalid_argument("bad data range");
  Firmware fw{std::vector<std::uint8_t>(kImageSize, 0xFF), std::vector<bool>(kImageSize, false)};
  std::fill(fw.present.begin() + spec.start, fw.present.begin() + end, true);
  fill_program(fw.image, spec.start, end, spec.seed);

  const std::string family =
      spec.family_mark.empty() ? std::string(marks.family) : spec.family_mark;
  place(fw, spec.start + 0x100, family);
  if (spec.model == 1) {
    const std::uint32_t at = std::max<std::uint32_t>(0x4100, spec.start + 0x300);
    place(fw, at, spec.long_name.empty() ? "TR-MM40E2" : spec.long_name);
    // The family 1 version text stands one character after the mark's blank.
    if (spec.version_mark) place(fw, at + 0x100, "VERSION = V" + spec.version);
  } else {
    if (spec.unit_mark) {
      std::string unit = spec.unit.empty() ? std::string(marks.unit) : spec.unit;
      if (unit.size() < 13) unit.append(13 - unit.size(), ' ');
      place(fw, spec.start + 0x180, "UNIT = " + unit);
    }
    if (spec.version_mark) place(fw, spec.start + 0x200, "VERSION = " + spec.version);
  }
  for (std::uint32_t at : checksum_locations(spec.model)) fw.image[at] = 0xFF;
  return fw;
}

std::string srecord_line(int type, std::uint32_t address, const std::vector<std::uint8_t>& data,
                         bool lower_case) {
  const int address_bytes = type + 1;
  const std::uint32_t length = static_cast<std::uint32_t>(data.size()) + address_bytes + 1;
  std::string out = "S";
  out += static_cast<char>('0' + type);
  append_hex(out, length, 2, lower_case);
  append_hex(out, address, address_bytes * 2, lower_case);
  std::uint32_t sum = length;
  for (int i = 0; i < address_bytes; ++i) sum += (address >> (8 * i)) & 0xFF;
  for (std::uint8_t b : data) {
    append_hex(out, b, 2, lower_case);
    sum += b;
  }
  append_hex(out, 0xFF - (sum & 0xFF), 2, lower_case);
  return out + "\r\n";
}

std::string emit_srecords(Firmware& fw, const EmitOptions& o) {
  if (o.record_type < 1 || o.record_type > 3) throw std::invalid_argument("record type 1..3");
  const int max_bytes = 255 - (o.record_type + 1) - 1;
  if (o.record_bytes < 1 || o.record_bytes > max_bytes) {
    throw std::invalid_argument("record length out of range for the record type");
  }

  if (o.gaps) {
    // Holes well behind the marks: the loader leaves 0xFF there.
    auto first = std::find(fw.present.begin(), fw.present.end(), true);
    const std::uint32_t start = static_cast<std::uint32_t>(first - fw.present.begin());
    for (std::uint32_t hole : {start + 0x1010u, start + 0x2345u, start + 0x3800u}) {
      for (std::uint32_t a = hole; a < hole + 0x123 && a < kImageSize; ++a) {
        fw.present[a] = false;
        fw.image[a] = 0xFF;
      }
    }
  }

  std::vector<std::string> lines;
  bool non_hex_done = !o.non_hex;
  for (std::uint32_t a = 0; a < kImageSize;) {
    if (!fw.present[a]) {
      ++a;
      continue;
    }
    std::vector<std::uint8_t> data;
    const std::uint32_t address = a;
    while (a < kImageSize && fw.present[a] &&
           data.size() < static_cast<std::size_t>(o.record_bytes)) {
      data.push_back(fw.image[a++]);
    }
    if (o.skip_blank && std::all_of(data.begin(), data.end(), [](auto b) { return b == 0xFF; })) {
      continue;
    }
    if (o.record_type == 1 && address + data.size() > 0x10000) {
      throw std::invalid_argument("S1 records cannot address beyond 0xFFFF");
    }
    std::string line = srecord_line(o.record_type, address, data, o.lower_case);
    if (!non_hex_done && address >= 0x2000) {
      // The high digit of the record's first data byte becomes a "G", which reads as 15.
      line[4 + 2 * (o.record_type + 1)] = o.lower_case ? 'g' : 'G';
      fw.image[address] = static_cast<std::uint8_t>(0xF0 | (fw.image[address] & 0x0F));
      non_hex_done = true;
    }
    lines.push_back(std::move(line));
  }

  if (o.overlap) {
    auto first = std::find(fw.present.begin(), fw.present.end(), true);
    const std::uint32_t at = static_cast<std::uint32_t>(first - fw.present.begin()) + 0x1000;
    const std::vector<std::uint8_t> wide(24, 0xA5), narrow(8, 0x5A);
    lines.push_back(srecord_line(o.record_type, at, wide, o.lower_case));
    overwrite(fw, at, wide);
    lines.push_back(srecord_line(o.record_type, at + 8, narrow, o.lower_case));
    overwrite(fw, at + 8, narrow);
  }
  if (o.beyond && o.record_type >= 2) {
    const std::vector<std::uint8_t> data(16, 0x42);
    lines.push_back(srecord_line(o.record_type, kImageSize - 8, data, o.lower_case));
    lines.push_back(srecord_line(o.record_type, kImageSize, data, o.lower_case));
    lines.push_back(srecord_line(o.record_type, 0x7FFF0, data, o.lower_case));
    if (o.record_type == 3) lines.push_back(srecord_line(3, 0xFFFFFFF8u, data, o.lower_case));
  }

  if (o.bad_line != BadLine::None) {
    std::string bad =
        lines.empty() ? srecord_line(o.record_type, 0, {0}, o.lower_case) : lines[lines.size() / 2];
    switch (o.bad_line) {
      case BadLine::FirstChar:
        bad[0] = 'X';
        break;
      case BadLine::LengthCode:
        bad[3] = bad[3] == '0' ? '1' : '0';
        break;
      case BadLine::TypeS5:
        bad = "S5030010EC\r\n";
        break;
      case BadLine::BareLf:
        bad.erase(bad.size() - 2, 1);
        break;
      case BadLine::None:
        break;
    }
    lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(lines.size() / 2), bad);
  }

  std::string out;
  std::size_t total = 0;
  for (const std::string& l : lines) total += l.size();
  out.reserve(total + 64);
  if (o.header) out += header_line(o.lower_case);
  for (const std::string& l : lines) out += l;
  if (o.terminator) out += terminator_line(o.record_type);
  return out;
}

}  // namespace fwgen
