// The ".sum" file layout: S2 records of 16 image bytes, blank runs left out, one S8 record,
// CR LF line ends and a final 0x1A byte.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "platform/filesystem.h"
#include "platform/ui.h"

namespace fwload {

inline constexpr std::uint32_t kSumRecordBytes = 16;

// The S2 line (with CR LF) for `data` at `address`.
void append_s2_record(std::string& out, std::uint32_t address, std::span<const std::uint8_t> data);

// The termination line "S804<address><checksum>" with CR LF.
void append_s8_record(std::string& out, std::uint32_t start_address);

// Writes the records for image[start .. start + count) and the terminator to `file`, moving
// the progress from 0 to 100 and serving the window between records. Returns false when a
// write failed.
bool write_sum_records(OutputFile& file, std::span<const std::uint8_t> image,
                       std::uint32_t start_address, std::uint32_t byte_count, Ui& ui);

}  // namespace fwload
