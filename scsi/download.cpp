#include "scsi/download.h"

#include <chrono>

#include "scsi/commands.h"
#include "scsi/discovery.h"
#include "scsi/models.h"
#include "scsi/sense.h"

namespace fwload {

int writing_seconds_for(std::uint8_t kind) {
  switch (kind) {
    case 2:
      return 11;
    case 3:
      return 350;
    case 4:
    case 6:
    case 8:
      return 130;
    case 5:
    case 7:
      return 16;
    default:
      return 50;
  }
}

int download_buffer_for(const ScsiState& s, const FirmwareState& f, int imprinter_side) {
  const ScannerModel* family = firmware_family_for(s.scanner_product.view());
  if (family == nullptr) return -1;
  const std::uint8_t kind = f.FirmwareTargetCode;
  const bool any_imprinter = s.pre_imprinter_fitted != 0 || s.post_imprinter_fitted != 0;
  if (kind == 6 || kind == 8) {
    if (!any_imprinter) return -1;
    // Unit files go to the imprinter chosen in the main window.
    if (imprinter_side == 0) return s.pre_imprinter_fitted != 0 ? 3 : -1;
    return s.post_imprinter_fitted != 0 ? 2 : -1;
  }
  if (kind == family->firmware_kind && f.scanner_name == family->firmware_name) {
    return f.download_target_code;
  }
  return -1;
}

int plan_download_over_scsi(ScsiState& s, ScsiIo& io, FirmwareState& f, int imprinter_side) {
  if (find_scanner(s, io) == 0) return -1;
  return check_ready_and_suitable(s, io, f, imprinter_side);
}

int check_ready_and_suitable(ScsiState& s, ScsiIo& io, FirmwareState& f, int imprinter_side,
                             bool* unsuitable) {
  if (unsuitable != nullptr) *unsuitable = false;
  std::uint16_t result = 0;
  bool ready = false;
  for (int attempt = 0; attempt < kReadinessTries && !ready; ++attempt) {
    if (io.ui.stop_requested()) return -1;
    result = test_unit_ready(s, io, s.target_id);
    ready = result == 0 || (is_check_condition(result) &&
                            is_ignorable_condition(s.sense_key, s.sense_asc, s.sense_ascq));
  }
  if (!ready) {
    if (io.ui.interrupted()) return -1;
    if (is_check_condition(result)) {
      show_scanner_message(io.ui, s.sense_key, s.sense_asc, s.sense_ascq);
    } else {
      show_scanner_message(io.ui, kScannerBusy);
    }
    return -1;
  }

  const int buffer = download_buffer_for(s, f, imprinter_side);
  if (buffer < 0 || f.image.size() != kImageSize) {
    if (unsuitable != nullptr) *unsuitable = true;
    show_scanner_message(io.ui, kFileNotForScanner);
    return -1;
  }
  return buffer;
}

int download_over_scsi(ScsiState& s, ScsiIo& io, FirmwareState& f, int imprinter_side) {
  io.ui.wait_cursor();
  ArrowOnExit restore_cursor(io.ui);
  const int buffer = plan_download_over_scsi(s, io, f, imprinter_side);
  if (buffer < 0) return 0;
  return send_download_over_scsi(s, io, f, static_cast<std::uint8_t>(buffer));
}

int send_download_over_scsi(ScsiState& s, ScsiIo& io, FirmwareState& f, std::uint8_t buffer_id) {
  io.ui.wait_cursor();
  ArrowOnExit restore_cursor(io.ui);
  f.download_target_code = buffer_id;
  std::uint16_t result = 0;

  prepare_download(s, io, s.target_id);

  const std::uint32_t total = f.end_address + 1;
  bool sent = false;
  for (int pass = 0; pass < kDownloadPasses && !sent; ++pass) {
    std::uint32_t position = 0;
    std::uint32_t remaining = total;
    bool failed = false;
    while (remaining > 0 && !failed) {
      if (io.ui.stop_requested()) return 0;  // the scanner keeps its old firmware
      const std::uint32_t length = remaining > kDownloadBlock - 1 ? kDownloadBlock : remaining;
      result =
          write_buffer(s, io, s.target_id, length, f.image.data() + position, position, buffer_id);
      // Anything but GOOD means the block was not taken (BUSY included): the pass fails and
      // the next one starts again from offset 0.
      if (result != 0) {
        failed = true;
        break;
      }
      position += kDownloadBlock;
      remaining -= length;
      io.ui.progress(static_cast<int>(100 - static_cast<std::uint64_t>(remaining) * 100 / total));
      io.ui.pump_one();
      io.ui.wait_cursor();
    }
    sent = !failed;
  }
  if (!sent) {
    if (!io.ui.interrupted()) show_scanner_message(io.ui, s.sense_key, s.sense_asc, s.sense_ascq);
    return 0;
  }

  // The scanner saves the firmware while the countdown runs; the wait for it is bounded well
  // beyond the expected time.
  if (io.ui.stop_requested()) return 0;
  const int seconds = writing_seconds_for(f.FirmwareTargetCode);
  io.timer.WritingSecondsLeft = seconds;
  io.timer.WritingCountdownActive = 1;
  io.ui.scanner_saving(true);
  result = write_buffer(s, io, s.target_id, 0, f.image.data(), 0, buffer_id,
                        std::chrono::seconds(2 * seconds + 60));
  io.ui.scanner_saving(false);
  io.timer.WritingCountdownActive = 0;
  // A commit answered with anything but GOOD saved nothing.
  if (result != 0) {
    show_scanner_message(io.ui, s.sense_key, s.sense_asc, s.sense_ascq);
    return 0;
  }
  return 1;
}

}  // namespace fwload
