#include "firmware/open_file.h"

#include <algorithm>
#include <array>
#include <limits>
#include <memory>
#include <new>

#include "firmware/checksum.h"
#include "firmware/hex.h"
#include "firmware/identify.h"
#include "firmware/messages.h"
#include "firmware/srecord_reader.h"

namespace fwload {
namespace {

constexpr std::size_t kReadPiece = 32768;
constexpr std::size_t kExtensionLength = 4;

char lower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
}

bool extension_accepted(std::string_view ext, bool any_case) {
  if (any_case) {
    return ext.size() == kExtensionLength &&
           (ends_with_any_case(ext, ".mot") || ends_with_any_case(ext, ".sum"));
  }
  return ext == ".mot" || ext == ".sum" || ext == ".MOT" || ext == ".SUM";
}

// Remembered folder and name from the settings; "None" means none.
struct Remembered {
  std::string folder;
  std::string name;
};
Remembered remembered_file(FirmwareIo& io) {
  Remembered r;
  r.folder = io.profile.read("Open File", "Directory", "None", kPathMax);
  r.name = io.profile.read("Open File", "File Name", "None", kPathMax);
  if (r.folder == "None") r.folder = io.fs.system_directory();
  if (r.name == "None") r.name.clear();
  return r;
}

int fail(FirmwareState& s, OpenFailure why) {
  s.open_failure = why;
  return 0;
}

// Dumps the whole image to the temporary file "fwl1.tmp"-style name, when the settings ask.
void dump_image_to_temp(const FirmwareState& s, FirmwareIo& io) {
  if (io.profile.read("Option", "Temp", "OFF", 32) != "ON") return;
  const std::string path = io.fs.temp_file_name("fwl", 1);
  std::unique_ptr<OutputFile> file = path.empty() ? nullptr : io.fs.create(path);
  if (!file) {
    io.ui.message_box(msg::kFileOpenError, msg::kTempFileOpenFailed);
    return;
  }
  const bool written = file->write(s.image);
  if (!file->close() || !written) {
    // A dump cut short is worse than none: remove it and say so; the open goes on.
    io.fs.remove_partial(path);
    io.ui.message_box(msg::kFileOpenError, msg::kTempFileOpenFailed);
  }
}

}  // namespace

bool ends_with_any_case(std::string_view text, std::string_view suffix) {
  if (text.size() < suffix.size()) return false;
  const std::string_view tail = text.substr(text.size() - suffix.size());
  for (std::size_t i = 0; i < suffix.size(); ++i) {
    if (lower(tail[i]) != lower(suffix[i])) return false;
  }
  return true;
}

PathParts split_path(std::string_view path, char separator) {
  const auto last = path.rfind(separator);
  if (last == std::string_view::npos) return {"", std::string(path)};
  return {std::string(path.substr(0, last)), std::string(path.substr(last + 1))};
}

CommandLineRequest parse_command_line(std::string_view line, std::size_t max_length, bool any_case,
                                      bool parse_switches) {
  CommandLineRequest r;
  line = line.substr(0, max_length);
  std::size_t pos = 0;
  if (parse_switches && line.substr(pos, 3) == "/T ") {
    r.transfer_after_open = true;
    pos += 3;
  }
  if (parse_switches && line.substr(pos, 3) == "/C ") {
    r.close_after_transfer = true;
    pos += 3;
  }
  std::string_view path = line.substr(pos);
  // The extension starts at the last "."; with none, or one too close to the end of the
  // buffer for four characters, it is taken from the start of the path.
  const std::size_t limit = max_length >= kExtensionLength ? max_length - kExtensionLength : 0;
  std::size_t dot = path.rfind('.');
  if (dot == std::string_view::npos || dot > limit) dot = 0;
  path = path.substr(0, dot + kExtensionLength);
  r.extension_ok = extension_accepted(path.substr(dot), any_case);
  r.path = std::string(path);
  return r;
}

int open_firmware_file(FirmwareState& s, FirmwareIo& io, std::string& command_line,
                       const OpenOptions& options) {
  s.OpenResult = 0;
  s.open_failure = OpenFailure::None;
  std::string path;

  if (!command_line.empty()) {
    const CommandLineRequest request = parse_command_line(
        command_line, options.max_command_line, options.any_case_extension, options.parse_switches);
    command_line.clear();
    s.TransferAfterOpen = s.TransferAfterOpen || request.transfer_after_open;
    s.CloseAfterTransfer = s.CloseAfterTransfer || request.close_after_transfer;
    if (!request.extension_ok) {
      io.ui.message_box(msg::kFileOpenError, msg::kAttributeNotMotSum);
      return fail(s, OpenFailure::Extension);
    }
    path = request.path;
  } else {
    const Remembered remembered = remembered_file(io);
    FileDialogRequest request;
    request.kind = FileDialogRequest::Kind::Open;
    request.initial_dir = remembered.folder;
    request.file_name = remembered.name;
    request.filters = {{std::string(msg::kSumFilesFilter), "*.sum"},
                       {std::string(msg::kMotFilesFilter), "*.mot"}};
    const FileDialogResult chosen = io.ui.file_dialog(request);
    if (chosen.outcome == FileDialogResult::Outcome::Failed) {
      io.ui.message_box(msg::kFileOpenError, msg::kFileOpenFailed);
      return fail(s, OpenFailure::Dialog);
    }
    if (chosen.outcome == FileDialogResult::Outcome::Cancelled) {
      s.OpenResult = 2;
      return fail(s, OpenFailure::Cancelled);
    }
    path = chosen.path;
  }

  io.ui.wait_cursor();
  ArrowOnExit restore_cursor(io.ui);
  std::unique_ptr<InputFile> file = io.fs.open_read(path);
  if (!file) {
    io.ui.message_box(msg::kFileOpenError, msg::kFileOpenFailed);
    return fail(s, OpenFailure::FileOpen);
  }
  const std::uint64_t file_size = file->size();
  io.ui.show_file_name(split_path(path, io.fs.path_separator()).name);

  // The image of an earlier open goes first; the file text is kept with one zero byte behind
  // it, the way the text block is sized.
  s.image.clear();
  s.image.shrink_to_fit();
  // The text is not cleared first: the reads fill it, and only the byte behind it is set.
  std::unique_ptr<MemoryBlock> block;
  std::uint8_t* text = nullptr;
  try {
    if (file_size >= std::numeric_limits<std::size_t>::max()) throw std::bad_alloc();
    block = io.fs.allocate_text(static_cast<std::size_t>(file_size) + 1);
    if (!block) throw std::bad_alloc();
    text = block->data();
    text[static_cast<std::size_t>(file_size)] = 0;
    s.image.reserve(kImageSize);
    io.fs.will_fill(std::span(s.image.data(), s.image.capacity()));
    s.image.assign(kImageSize, 0xFF);
  } catch (const std::bad_alloc&) {
    block.reset();
    s.image = {};
    io.ui.message_box(msg::kFileOpenError, msg::kShortOfMemory);
    return fail(s, OpenFailure::Memory);
  }
  const std::uint64_t text_length = file_size + 1;

  ProgressMeter progress(io.ui);
  std::size_t got = 0;
  while (got < file_size) {
    const std::size_t want =
        static_cast<std::size_t>(std::min<std::uint64_t>(kReadPiece, file_size - got));
    const std::size_t n = file->read(std::span(text + got, want));
    got += n;
    if (n != want) {
      // The file ended early or could not be read: what was read is not the file.
      s.image = {};
      io.ui.message_box(msg::kFileOpenError, msg::kFileOpenFailed);
      return fail(s, OpenFailure::FileOpen);
    }
    progress.report(static_cast<int>(60 - (file_size - got) * 60 / text_length));
    io.ui.pump_one();
  }
  progress.report(60);
  file.reset();
  if (options.file_bytes) options.file_bytes(std::span<const std::uint8_t>(text, got));

  // The image was filled with 0xFF when it was allocated and has not been touched since.
  s.start_address = 0xFFFFFFFF;
  s.end_address = 0;

  std::array<std::uint8_t, kRecordDataSize> data{};
  const std::span<const std::uint8_t> file_text(text, static_cast<std::size_t>(file_size));
  std::size_t pos = 0;
  for (;;) {
    SRecordLine record;
    const std::size_t used = read_srecord_line(file_text.subspan(pos), data, record, io.ui);
    if (used == 0) {
      s.image = {};
      return fail(s, OpenFailure::Parse);
    }
    pos += used;
    progress.report(static_cast<int>(
        100 - (text_length - std::min<std::uint64_t>(pos, text_length)) * 40 / text_length));
    io.ui.pump_one();
    const std::uint32_t kind = record.length_word & 0xFF000000;
    if (kind == kRecordEnd) break;
    const std::uint32_t count = record.length_word;
    // Data records land in the image only when they lie wholly inside it; a record without
    // data bytes contributes nothing (it would otherwise move the end address below its
    // start).
    if (kind == 0 && count > 0 && record.address <= kImageSize - count) {
      std::copy_n(data.begin(), count, s.image.begin() + record.address);
      if (record.address <= s.start_address) s.start_address = record.address;
      if (record.address + count - 1 >= s.end_address) s.end_address = record.address + count - 1;
    }
  }
  s.data_size = s.end_address - s.start_address + 1;
  block.reset();

  dump_image_to_temp(s, io);

  if (identify_firmware(s) == 0) return fail(s, OpenFailure::Identify);

  const bool is_mot = ends_with_any_case(path, ".mot");
  const std::uint8_t model = s.FirmwareTargetCode;
  s.sum_address = sum_address_for(model);
  if (is_mot) {
    bool ok = true;
    if (model == 1) {
      ok = four_block_checksum(s.image, s.end_address + 1, io.ui);
    } else if (model >= 2 && model <= 8) {
      ok = single_block_checksum(s.image, s.sum_address + 1, io.ui);
    }
    if (!ok) return fail(s, OpenFailure::Checksum);
  }
  s.sum_value = s.image[s.sum_address];

  const PathParts parts = split_path(path, io.fs.path_separator());
  io.profile.write("Inifile", "Name", kProfileFileName);
  io.profile.write("Open File", "Directory", parts.folder);
  io.profile.write("Open File", "File Name", parts.name);
  s.file_path = path;
  s.OpenResult = 1;
  return 1;
}

std::string open_summary(const FirmwareState& s) {
  std::string out = "\nSUM VALUE = ";
  append_hex(out, s.sum_value, 2);
  out += " hex\nADDRESS    = ";
  append_hex(out, s.sum_address, 6);
  out += " hex";
  return out;
}

}  // namespace fwload
