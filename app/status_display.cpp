#include "app/status_display.h"

#include <algorithm>
#include <cstdio>

#include "firmware/open_file.h"
#include "res/resource.h"
#include "res/string_table.h"

namespace fwload {

ProgressFills progress_fills(PixelRect client, int percent) {
  const PixelRect inner{client.left + 1, client.top + 1, client.right - 1, client.bottom - 1};
  const int width = inner.right - inner.left;
  ProgressFills fills;
  fills.filled = inner;
  fills.filled.right = std::min(inner.left + percent * width / 100, inner.right);
  fills.empty = inner;
  fills.empty.left = std::max(inner.right - width * (100 - percent) / 100, inner.left);
  return fills;
}

void show_status(MainWindow& window, int caption_id, int state_id, const FirmwareState& firmware) {
  window.set_text(IDC_STATUS_CAPTION, window.load_string(caption_id, 128));
  std::string state = window.load_string(state_id, 128);
  if (caption_id == kStrOpenFileCaption && state_id == kStrCompleted) {
    state += open_summary(firmware);
  }
  window.set_text(IDC_STATUS_TEXT, state);
}

std::string writing_countdown_text(int seconds_left) {
  char seconds[16];
  std::snprintf(seconds, sizeof seconds, " %.2d ", seconds_left);
  std::string text(table_string(kStrNowWriting));
  text += seconds;
  text += table_string(kStrSec);
  return text;
}

void MainWindow::show_file_name(std::string_view name) {
  set_text(IDC_FILE_NAME, name);
}

void MainWindow::writing_countdown(int seconds_left) {
  set_text(IDC_STATUS_TEXT, writing_countdown_text(seconds_left));
}

void timer_tick(TimerState& s, Ui& window) {
  if (s.WritingCountdownActive == 1 && s.WritingSecondsLeft != 0) {
    --s.WritingSecondsLeft;
    window.writing_countdown(s.WritingSecondsLeft);
  }
  if (s.SerialTicksLeft != 0) --s.SerialTicksLeft;
}

}  // namespace fwload
