// "Transfer File" over SCSI: finds the scanner, waits until it can take commands, checks that
// the file suits it, sends the image with WRITE BUFFER and commits it.
#pragma once

#include <cstdint>

#include "firmware/firmware_state.h"
#include "scsi/scsi_state.h"

namespace fwload {

inline constexpr std::uint32_t kDownloadBlock = 0x2000;
inline constexpr int kReadinessTries = 11;
inline constexpr int kDownloadPasses = 3;

// Seconds the scanner takes to save firmware of a file kind (model code).
int writing_seconds_for(std::uint8_t kind);

// The buffer id a file goes to on the selected scanner, or -1 when the file does not suit it.
// `imprinter_side`: 0 Pre, 1 Post.
int download_buffer_for(const ScsiState& scanner, const FirmwareState& file, int imprinter_side);

// Everything before the first byte is sent: finds the scanner, waits until it is ready and
// checks that the file suits it. Returns the buffer id the image would go to, or -1 after the
// message of the failure.
int plan_download_over_scsi(ScsiState& state, ScsiIo& io, FirmwareState& file, int imprinter_side);
// The plan without the search, for the scanner already selected; `unsuitable` (when given) says
// whether it was the file that did not suit.
int check_ready_and_suitable(ScsiState& state, ScsiIo& io, FirmwareState& file, int imprinter_side,
                             bool* unsuitable = nullptr);

// Returns 1 when the scanner took and saved the image, 0 after the message of the failure.
int download_over_scsi(ScsiState& state, ScsiIo& io, FirmwareState& file, int imprinter_side);

// The download after its plan: the image to `buffer_id` of the scanner selected and found
// ready, then the commit. Returns as download_over_scsi does.
int send_download_over_scsi(ScsiState& state, ScsiIo& io, FirmwareState& file,
                            std::uint8_t buffer_id);

}  // namespace fwload
