// fwgen: writes synthetic firmware files (see generator.h).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>
#include <string_view>

#include "tools/fwgen/generator.h"

namespace {

constexpr const char* kUsage =
    "usage: fwgen --model N -o OUT.mot [options]\n"
    "  --model N            model code 1..8 whose marks the firmware carries\n"
    "  --mark TEXT          8-character family mark (default: the model's)\n"
    "  --unit TEXT          text after \"UNIT = \" (default: the model's unit)\n"
    "  --long-name TEXT     family 1: the 9-character name searched from 0x401E\n"
    "  --version TEXT       version text (default 1.00)\n"
    "  --no-unit-mark, --no-version-mark\n"
    "  --start ADDR --end ADDR   data range (end exclusive; hex with 0x)\n"
    "  --full               data over the whole 0x70000-byte image\n"
    "  --seed N             content seed\n"
    "  --type 1|2|3         S1, S2 or S3 data records (default 2)\n"
    "  --record-bytes N     data bytes per record (default 32)\n"
    "  --lower              lower-case hex digits\n"
    "  --no-header, --no-terminator, --keep-blank\n"
    "  --gaps, --beyond, --overlap, --non-hex\n"
    "  --bad-line first-char|length|s5|lf\n"
    "  --image OUT.bin      also write the image a loader ends with (0x70000 bytes)\n";

bool write_file(const std::string& path, const void* data, std::size_t size) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  const bool ok = std::fwrite(data, 1, size, f) == size;
  return std::fclose(f) == 0 && ok;
}

std::uint32_t number(const char* text) {
  char* end = nullptr;
  const unsigned long v = std::strtoul(text, &end, 0);
  if (end == text || *end != '\0')
    throw std::invalid_argument(std::string("not a number: ") + text);
  return static_cast<std::uint32_t>(v);
}

}  // namespace

int main(int argc, char** argv) {
  fwgen::FirmwareSpec spec;
  fwgen::EmitOptions emit;
  std::string out, image_out;
  try {
    for (int i = 1; i < argc; ++i) {
      const std::string_view a = argv[i];
      auto value = [&]() -> const char* {
        if (i + 1 >= argc) throw std::invalid_argument(std::string(a) + " needs a value");
        return argv[++i];
      };
      if (a == "--model")
        spec.model = static_cast<int>(number(value()));
      else if (a == "--mark")
        spec.family_mark = value();
      else if (a == "--unit")
        spec.unit = value();
      else if (a == "--long-name")
        spec.long_name = value();
      else if (a == "--version")
        spec.version = value();
      else if (a == "--no-unit-mark")
        spec.unit_mark = false;
      else if (a == "--no-version-mark")
        spec.version_mark = false;
      else if (a == "--start")
        spec.start = number(value());
      else if (a == "--end")
        spec.end = number(value());
      else if (a == "--full") {
        spec.start = 0;
        spec.end = fwgen::kImageSize;
      } else if (a == "--seed")
        spec.seed = number(value());
      else if (a == "--type")
        emit.record_type = static_cast<int>(number(value()));
      else if (a == "--record-bytes")
        emit.record_bytes = static_cast<int>(number(value()));
      else if (a == "--lower")
        emit.lower_case = true;
      else if (a == "--no-header")
        emit.header = false;
      else if (a == "--no-terminator")
        emit.terminator = false;
      else if (a == "--keep-blank")
        emit.skip_blank = false;
      else if (a == "--gaps")
        emit.gaps = true;
      else if (a == "--beyond")
        emit.beyond = true;
      else if (a == "--overlap")
        emit.overlap = true;
      else if (a == "--non-hex")
        emit.non_hex = true;
      else if (a == "--bad-line") {
        const std::string_view kind = value();
        if (kind == "first-char")
          emit.bad_line = fwgen::BadLine::FirstChar;
        else if (kind == "length")
          emit.bad_line = fwgen::BadLine::LengthCode;
        else if (kind == "s5")
          emit.bad_line = fwgen::BadLine::TypeS5;
        else if (kind == "lf")
          emit.bad_line = fwgen::BadLine::BareLf;
        else
          throw std::invalid_argument("unknown bad line kind");
      } else if (a == "-o")
        out = value();
      else if (a == "--image")
        image_out = value();
      else if (a == "-h" || a == "--help") {
        std::fputs(kUsage, stdout);
        return 0;
      } else
        throw std::invalid_argument("unknown option " + std::string(a));
    }
    if (out.empty()) throw std::invalid_argument("no output file (-o)");
    fwgen::Firmware fw = fwgen::build_firmware(spec);
    const std::string text = fwgen::emit_srecords(fw, emit);
    if (!write_file(out, text.data(), text.size())) {
      std::fprintf(stderr, "fwgen: cannot write %s\n", out.c_str());
      return 1;
    }
    if (!image_out.empty() && !write_file(image_out, fw.image.data(), fw.image.size())) {
      std::fprintf(stderr, "fwgen: cannot write %s\n", image_out.c_str());
      return 1;
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "fwgen: %s\n%s", e.what(), kUsage);
    return 2;
  }
  return 0;
}
