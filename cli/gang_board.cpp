#include "cli/gang_board.h"

namespace fwload {

std::size_t GangBoard::add(std::string label) {
  std::lock_guard<std::mutex> lock(mutex_);
  rows_.push_back({std::move(label), "", "waiting"});
  return rows_.size() - 1;
}

void GangBoard::set_label(std::size_t job, std::string label, std::string product) {
  std::lock_guard<std::mutex> lock(mutex_);
  rows_.at(job).label = std::move(label);
  rows_.at(job).product = std::move(product);
}

void GangBoard::phase(std::size_t job, std::string phase) {
  std::lock_guard<std::mutex> lock(mutex_);
  Row& row = rows_.at(job);
  if (row.phase == phase) return;
  row.phase = std::move(phase);
  row.percent = -1;
  if (terminal_) {
    draw_locked();
  } else {
    std::fprintf(err_, "%s %s\n", row.label.c_str(), row.phase.c_str());
    std::fflush(err_);
  }
}

void GangBoard::progress(std::size_t job, int percent) {
  std::lock_guard<std::mutex> lock(mutex_);
  Row& row = rows_.at(job);
  if (row.percent == percent) return;
  row.percent = percent;
  if (terminal_) draw_locked();
}

void GangBoard::saving(std::size_t job, int seconds_left) {
  std::lock_guard<std::mutex> lock(mutex_);
  Row& row = rows_.at(job);
  const bool new_phase = row.phase.rfind("saving", 0) != 0;
  row.phase = "saving, " + std::to_string(seconds_left) + " s left";
  row.percent = -1;
  if (terminal_) {
    draw_locked();
  } else if (new_phase) {
    std::fprintf(err_, "%s %s\n", row.label.c_str(), row.phase.c_str());
    std::fflush(err_);
  }
}

void GangBoard::message(std::size_t job, const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  line_locked(rows_.at(job).label + " " + text);
}

void GangBoard::warning_once(const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  // The seconds left differ from job to job: the warning is told once all the same.
  const std::string key = text.substr(0, text.find(';'));
  if (!warned_.insert(key).second) return;
  line_locked(text);
}

void GangBoard::finish() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (terminal_) draw_locked();
  drawn_ = 0;
}

void GangBoard::erase_locked() {
  if (drawn_ > 0) std::fprintf(err_, "\x1b[%dA\x1b[J", drawn_);
  drawn_ = 0;
}

void GangBoard::line_locked(const std::string& text) {
  if (terminal_) erase_locked();
  std::fprintf(err_, "%s\n", text.c_str());
  if (terminal_) draw_locked();
  std::fflush(err_);
}

void GangBoard::draw_locked() {
  if (drawn_ > 0) std::fprintf(err_, "\x1b[%dA", drawn_);
  for (const Row& row : rows_) {
    std::fprintf(err_, "\r\x1b[2K%-12s %-16s %s", row.label.c_str(), row.product.c_str(),
                 row.phase.c_str());
    if (row.percent >= 0) std::fprintf(err_, " %3d%%", row.percent);
    std::fprintf(err_, "\n");
  }
  drawn_ = static_cast<int>(rows_.size());
  std::fflush(err_);
}

void JobUi::message_box(std::string_view caption, std::string_view text, bool) {
  remember_message(caption, text);
  board_.message(job_, std::string(caption) + ": " + std::string(text));
}

}  // namespace fwload
