#include "firmware/write_file.h"

#include "firmware/identify.h"
#include "firmware/messages.h"
#include "firmware/open_file.h"
#include "firmware/sum_writer.h"

namespace fwload {

std::string proposed_sum_name(std::string_view open_name) {
  std::string name(open_name);
  if (ends_with_any_case(name, ".mot")) name.replace(name.size() - 4, 4, ".sum");
  return name;
}

int write_sum_file(FirmwareState& s, FirmwareIo& io) {
  s.WriteResult = 0;
  // An unidentified file has no range to write; saying so beats an empty file reported as
  // written.
  const SumRange range = sum_range_for(s);
  if (range.count == 0 || s.image.size() != kImageSize) {
    io.ui.message_box(msg::kFileWriteError, msg::kFileWriteFailed);
    return 0;
  }

  FileDialogRequest request;
  request.kind = FileDialogRequest::Kind::Save;
  request.initial_dir = io.profile.read("Open File", "Directory", "None", kPathMax);
  if (request.initial_dir == "None") request.initial_dir = io.fs.system_directory();
  std::string name = io.profile.read("Open File", "File Name", "None", kPathMax);
  if (name == "None") name.clear();
  request.file_name = proposed_sum_name(name);
  request.filters = {{std::string(msg::kSumFilesFilter), "*.sum"}};
  const FileDialogResult chosen = io.ui.file_dialog(request);
  if (chosen.outcome == FileDialogResult::Outcome::Failed) {
    io.ui.message_box(msg::kFileWriteError, msg::kFileWriteFailed);
    return 0;
  }
  if (chosen.outcome == FileDialogResult::Outcome::Cancelled) {
    s.WriteResult = 2;
    return 1;
  }

  io.ui.wait_cursor();
  std::unique_ptr<OutputFile> file = io.fs.create(chosen.path);
  if (!file) {
    io.ui.arrow_cursor();
    io.ui.message_box(msg::kFileWriteError, msg::kFileWriteFailed);
    return 0;
  }
  const bool written = write_sum_records(*file, s.image, range.first, range.count, io.ui);
  const bool closed = file->close();
  io.ui.arrow_cursor();
  if (!written || !closed) {
    io.fs.remove_partial(chosen.path);
    io.ui.message_box(msg::kFileWriteError, msg::kFileWriteFailed);
    return 0;
  }

  const PathParts parts = split_path(chosen.path, io.fs.path_separator());
  io.profile.write("Inifile", "Name", kProfileFileName);
  io.profile.write("Write File", "Directory", parts.folder);
  io.profile.write("Write File", "File Name", parts.name);
  s.WriteResult = 1;
  return 1;
}

}  // namespace fwload
