#include "cli/support.h"

#include <filesystem>
#include <limits>
#include <system_error>
#include <vector>

#include "firmware/messages.h"
#include "platform/sha256.h"

namespace fwload {
namespace {

// The tool's own text for a file in which no scanner family mark was found (the dialog
// program shows nothing in that case).
constexpr std::string_view kUnknownFirmware = "Unknown firmware file !";

}  // namespace

int usage_error(CliEnv& env, std::string_view text) {
  std::fprintf(env.err, "fwload-cli: %.*s\n", static_cast<int>(text.size()), text.data());
  std::fprintf(env.err, "usage: fwload-cli COMMAND ... (fwload-cli --help for the list)\n");
  return kExitUsage;
}

std::string absolute_path(const std::string& path) {
  std::error_code ec;
  const std::filesystem::path p = std::filesystem::absolute(path, ec);
  return ec ? path : p.string();
}

// Opens FILE as the dialog program opens a file named on its command line, with the extension
// accepted in any case and no length limit on the path.
bool open_for_cli(FirmwareState& state, FirmwareIo& io, ConsoleUi& ui, const std::string& path) {
  ui.set_activity("Open File");
  std::string command_line = path;
  OpenOptions options;
  options.parse_switches = false;
  options.any_case_extension = true;
  options.max_command_line = std::numeric_limits<std::size_t>::max();
  if (open_firmware_file(state, io, command_line, options) == 1) return true;
  if (state.open_failure == OpenFailure::Identify) {
    ui.message_box(msg::kFileOpenError, kUnknownFirmware, false);
  }
  return false;
}

std::string file_sha256(FileSystem& fs, const std::string& path) {
  std::unique_ptr<InputFile> in = fs.open_read(path);
  if (!in) return {};
  std::vector<std::uint8_t> bytes;
  std::vector<std::uint8_t> piece(64 * 1024);
  for (;;) {
    const std::size_t n = in->read(piece);
    bytes.insert(bytes.end(), piece.begin(), piece.begin() + static_cast<std::ptrdiff_t>(n));
    if (n < piece.size()) break;
  }
  if (bytes.size() != in->size()) return {};
  return sha256_hex(bytes);
}

std::string trimmed(std::string_view text) {
  const std::size_t first = text.find_first_not_of(' ');
  if (first == std::string_view::npos) return {};
  return std::string(text.substr(first, text.find_last_not_of(' ') - first + 1));
}

void print_row(CliEnv& env, const std::string& label, const std::string& value) {
  if (label.empty()) return;
  std::fprintf(env.out, "%s %s\n", label.c_str(), value.c_str());
}

}  // namespace fwload
