#include "cli/console_ui.h"

#include <cstdlib>
#include <thread>

#include "app/status_display.h"

namespace fwload {

void ConsoleUi::end_progress_line() {
  if (line_open_) {
    std::fputc('\n', err_);
    std::fflush(err_);
    line_open_ = false;
  }
}

void ConsoleUi::message_box(std::string_view caption, std::string_view text, bool) {
  remember_message(caption, text);
  end_progress_line();
  std::fprintf(err_, "%.*s: %.*s\n", static_cast<int>(caption.size()), caption.data(),
               static_cast<int>(text.size()), text.data());
  std::fflush(err_);
}

void ConsoleUi::progress(int percent) {
  if (!draw_progress_) return;
  constexpr int kWidth = 40;
  if (percent < 0) percent = 0;
  if (percent > 100) percent = 100;
  char bar[kWidth + 1];
  const int filled = percent * kWidth / 100;
  for (int i = 0; i < kWidth; ++i) bar[i] = i < filled ? '#' : '.';
  bar[kWidth] = '\0';
  std::fprintf(err_, "\r%-12s [%s] %3d%%", activity_.c_str(), bar, percent);
  std::fflush(err_);
  line_open_ = true;
  if (percent == 100) end_progress_line();
}

FileDialogResult ConsoleUi::file_dialog(const FileDialogRequest& request) {
  if (request.kind == FileDialogRequest::Kind::Save && !save_path_.empty()) {
    return {FileDialogResult::Outcome::Chosen, save_path_};
  }
  return {FileDialogResult::Outcome::Failed, {}};
}

}  // namespace fwload

namespace fwload {

bool ConsoleUi::stop_requested() {
  if (saving_ || held_ || interrupts_ == nullptr || interrupts_->load() <= heard_before_) {
    return false;
  }
  stopped_ = true;
  return true;
}

void ConsoleUi::scanner_saving(bool saving) {
  // The presses answered with the warning while the scanner saved stop nothing afterwards.
  if (saving_ && !saving && interrupts_ != nullptr) heard_before_ = interrupts_->load();
  saving_ = saving;
}

void ConsoleUi::interrupts_while_saving() {
  if (!saving_ || interrupts_ == nullptr) return;
  const int count = interrupts_->load();
  if (count >= 2) {
    end_progress_line();
    std::fprintf(err_, "Interrupted while the scanner was saving its firmware.\n");
    std::fflush(err_);
    std::fflush(nullptr);
    std::_Exit(130);
  }
  if (count == 1 && !warned_) {
    warned_ = true;
    std::string text = "The scanner is saving its firmware; do not switch it off.";
    if (timer_ != nullptr && timer_->WritingCountdownActive == 1) {
      text += " " + std::to_string(timer_->WritingSecondsLeft) + " s left.";
    }
    saving_warning(text);
  }
}

void ConsoleUi::saving_warning(const std::string& text) {
  end_progress_line();
  std::fprintf(err_, "%s\n", text.c_str());
  std::fflush(err_);
}

void ConsoleUi::tick() {
  interrupts_while_saving();
  if (timer_ == nullptr) return;
  const auto now = std::chrono::steady_clock::now();
  if (now < next_tick_) return;
  next_tick_ = now + std::chrono::seconds(1);
  timer_tick(*timer_, *this);
}

void ConsoleUi::idle(int ms) {
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
  tick();
}

void ConsoleUi::writing_countdown(int seconds) {
  const std::string text = writing_countdown_text(seconds);
  if (draw_progress_) {
    std::fprintf(err_, "\r%.*s   ", static_cast<int>(text.size()), text.data());
    line_open_ = true;
  } else if (last_countdown_printed_ < 0 || seconds % 10 == 0) {
    // Into a log, a line every ten seconds is enough.
    std::fprintf(err_, "%.*s\n", static_cast<int>(text.size()), text.data());
  }
  last_countdown_printed_ = seconds;
  std::fflush(err_);
}

}  // namespace fwload
