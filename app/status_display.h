// The status area of the main window: caption and state texts, the hand-painted progress bar,
// and the one-second timer's countdown.
#pragma once

#include <cstdint>
#include <string>

#include "app/app_state.h"
#include "app/main_window.h"
#include "firmware/firmware_state.h"

namespace fwload {

// Progress bar colours, as Windows colour references (0x00BBGGRR).
inline constexpr std::uint32_t kProgressFilledColour = 0xC85A3C;  // RGB(60, 90, 200)
inline constexpr std::uint32_t kProgressEmptyColour = 0xFFFFFF;

struct PixelRect {
  int left = 0, top = 0, right = 0, bottom = 0;
  bool operator==(const PixelRect&) const = default;
};

// The two fills of the bar for `percent` inside the frame's client rectangle: both parts are
// truncated, so a pixel between them can keep what it showed.
struct ProgressFills {
  PixelRect filled;
  PixelRect empty;
};
ProgressFills progress_fills(PixelRect client, int percent);

// Shows the caption (control 109) and the state (control 1007); a completed open adds the
// checksum and address lines.
void show_status(MainWindow& window, int caption_id, int state_id, const FirmwareState& firmware);

// One tick of the one-second timer: counts down the writing seconds (shown in control 1007)
// and the serial time-out.
void timer_tick(TimerState& timer, Ui& window);
// "Now Writing... NN SEC": the status text while the scanner saves its firmware.
std::string writing_countdown_text(int seconds_left);

}  // namespace fwload
