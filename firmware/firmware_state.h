// The firmware image and everything the open, write and download flows know about it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/filesystem.h"
#include "platform/profile.h"
#include "platform/ui.h"

namespace fwload {

// The scanner's program store: byte k is the byte for scanner address k.
inline constexpr std::uint32_t kImageSize = 0x70000;
inline constexpr std::string_view kUnknownText = "I don't know.";

// Why the last open failed (the open's return value says only that it did).
enum class OpenFailure {
  None,
  Extension,  // a command-line name without ".mot" or ".sum"
  Dialog,     // the file dialog failed
  Cancelled,  // the user cancelled the file dialog
  FileOpen,   // the file could not be opened or read
  Memory,     // the image or the file text could not be allocated
  Parse,      // a line of the file was refused
  Identify,   // no scanner family mark in the image
  Checksum,   // a checksum location already held data
};

struct FirmwareState {
  // Allocated (kImageSize bytes) by the first open that gets that far; empty before.
  std::vector<std::uint8_t> image;
  std::uint32_t start_address = 0xFFFFFFFF;  // lowest address a data record wrote
  std::uint32_t end_address = 0;             // highest address a data record wrote
  std::uint32_t data_size = 0;
  // Model code 0..8 of the loaded file; 0 = not identified.
  std::uint8_t FirmwareTargetCode = 0;
  // 0..2: the serial download's unit code and the SCSI download's WRITE BUFFER buffer id.
  std::uint8_t download_target_code = 0;
  std::uint32_t sum_address = 0;    // where the image's checksum byte lies
  std::uint8_t sum_value = 0;       // the image byte at sum_address after the checksum step
  int OpenResult = 0;               // 0 no file, 1 file opened, 2 the user cancelled the dialog
  int WriteResult = 0;              // 0 at the start of a write, 1 written, 2 cancelled
  bool TransferAfterOpen = false;   // "/T " on the command line
  bool CloseAfterTransfer = false;  // "/C " on the command line
  OpenFailure open_failure = OpenFailure::None;

  // Target description of the loaded file.
  std::string scanner_name{kUnknownText};
  std::string unit_name{kUnknownText};
  std::string file_version{kUnknownText};

  std::string file_path;  // the file last opened
};

// What the firmware flows use of the platform.
struct FirmwareIo {
  Ui& ui;
  Profile& profile;
  FileSystem& fs;
};

}  // namespace fwload
