// Arbitrary bytes as a firmware file: the S-record reader, the open flow (identification,
// checksums, the temporary dump) and, when it opens, the sum file writer.
#include "firmware/open_file.h"
#include "firmware/write_file.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace fwload;
  if (size < 1) return 0;
  const std::uint8_t mode = data[0];
  fuzz::QuietUi ui;
  fuzz::MapProfile profile;
  fuzz::MemoryFiles fs;
  if (mode & 1) profile.values["Option/Temp"] = "ON";
  const std::string path = (mode & 2) ? "/fw/f.sum" : "/fw/f.mot";
  fs.files[path] = std::vector<std::uint8_t>(data + 1, data + size);
  FirmwareIo io{ui, profile, fs};
  FirmwareState state;
  std::string command_line = (mode & 4) ? "/T /C " + path : path;
  if (open_firmware_file(state, io, command_line) == 1) {
    if (state.image.size() != kImageSize) __builtin_trap();
    if (state.end_address >= kImageSize || state.start_address > state.end_address)
      __builtin_trap();
    write_sum_file(state, io);
    // What was written reads back to the same image within its range.
    if (state.WriteResult == 1 && fs.files.count("/out.sum")) {
      FirmwareState again;
      fs.files["/fw/again.sum"] = fs.files["/out.sum"];
      std::string again_line = "/fw/again.sum";
      if (open_firmware_file(again, io, again_line) != 1 &&
          again.open_failure != OpenFailure::Identify) {
        __builtin_trap();
      }
    }
  }
  return 0;
}
