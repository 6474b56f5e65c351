#include "cli/support.h"

#include <filesystem>
#include <limits>
#include <system_error>

#include "firmware/messages.h"
#include "platform/sha256.h"

namespace fwload {
namespace {

// The tool's own text for a file in which no scanner family mark was found (the dialog
// program shows nothing in that case).
constexpr std::string_view kUnknownFirmware = "Unknown firmware file !";
// When the system's library cannot make the digest that names the file in the history.
constexpr std::string_view kNoDigest = "The file's SHA-256 could not be computed !";

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

bool open_for_cli(FirmwareState& state, FirmwareIo& io, ConsoleUi& ui, const std::string& path,
                  std::string* sha256) {
  ui.set_activity("Open File");
  std::string command_line = path;
  OpenOptions options;
  options.parse_switches = false;
  options.any_case_extension = true;
  options.max_command_line = std::numeric_limits<std::size_t>::max();
  bool hashed = false;
  if (sha256 != nullptr) {
    options.file_bytes = [&](std::span<const std::uint8_t> bytes) {
      *sha256 = sha256_hex(bytes);
      hashed = true;
    };
  }
  if (open_firmware_file(state, io, command_line, options) != 1) {
    if (state.open_failure == OpenFailure::Identify) {
      ui.message_box(msg::kFileOpenError, kUnknownFirmware, false);
    }
    return false;
  }
  if (sha256 != nullptr && (!hashed || sha256->empty())) {
    ui.end_progress_line();
    ui.message_box(msg::kFileOpenError, kNoDigest, false);
    return false;
  }
  return true;
}

std::string windows_port_name(std::string_view port) {
  if (port.size() > 4 && (port.substr(0, 4) == "\\\\.\\" || port.substr(0, 4) == "//./")) {
    port.remove_prefix(4);
  }
  std::string name(port);
  for (char& c : name) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return name;
}

std::string canonical_port_name(const std::string& port) {
#ifdef _WIN32
  return windows_port_name(port);
#else
  std::error_code ec;
  const std::filesystem::path resolved = std::filesystem::canonical(port, ec);
  return ec ? port : resolved.string();
#endif
}

void print_row(CliEnv& env, const std::string& label, const std::string& value) {
  if (label.empty()) return;
  std::fprintf(env.out, "%s %s\n", label.c_str(), value.c_str());
}

}  // namespace fwload
