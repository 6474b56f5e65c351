// Recorder and in-memory implementations of the seam for the unit tests.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/filesystem.h"
#include "platform/ini_profile.h"
#include "platform/profile.h"
#include "platform/ui.h"

namespace fwload::test {

class RecorderUi : public Ui {
 public:
  struct Box {
    std::string caption;
    std::string text;
    bool task_modal;
  };
  std::vector<Box> boxes;
  std::vector<int> progress_log;
  std::vector<FileDialogRequest> dialogs;
  std::deque<FileDialogResult> dialog_answers;  // answered in order; none left = cancelled
  int pumps = 0;
  bool cursor_waiting = false;

  void message_box(std::string_view caption, std::string_view text, bool task_modal) override {
    boxes.push_back({std::string(caption), std::string(text), task_modal});
  }
  void progress(int percent) override { progress_log.push_back(percent); }
  std::string file_name;
  std::vector<int> countdown;
  void show_file_name(std::string_view name) override { file_name = name; }
  void writing_countdown(int seconds_left) override { countdown.push_back(seconds_left); }
  void pump_one() override { ++pumps; }
  int idles = 0;
  std::function<void()> on_idle;  // a message the wait dispatches
  int stop_at = -1;               // stop_requested() says yes from its (stop_at + 1)th call
  int stop_asks = 0;
  std::vector<bool> saving;  // scanner_saving calls
  bool stop_requested() override { return stop_at >= 0 && stop_asks++ >= stop_at; }
  void scanner_saving(bool on) override { saving.push_back(on); }
  void idle(int ms) override {
    ++idles;
    if (on_idle) on_idle();
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
  }
  void wait_cursor() override { cursor_waiting = true; }
  void arrow_cursor() override { cursor_waiting = false; }
  FileDialogResult file_dialog(const FileDialogRequest& request) override {
    dialogs.push_back(request);
    if (dialog_answers.empty()) return {FileDialogResult::Outcome::Cancelled, {}};
    FileDialogResult r = dialog_answers.front();
    dialog_answers.pop_front();
    return r;
  }

  // "Caption: Text" of every box, in order.
  std::vector<std::string> box_lines() const {
    std::vector<std::string> out;
    for (const Box& b : boxes) out.push_back(b.caption + ": " + b.text);
    return out;
  }
};

// Settings in memory, names compared as given.
class MemoryProfile : public Profile {
 public:
  std::map<std::string, std::string> values;  // "Section/Key" -> value
  int writes = 0;

  std::string read(std::string_view section, std::string_view key, std::string_view def,
                   std::size_t size) override {
    auto it = values.find(name(section, key));
    return fit_to_buffer(it == values.end() ? def : std::string_view(it->second), size);
  }
  bool write(std::string_view section, std::string_view key, std::string_view value) override {
    ++writes;
    values[name(section, key)] = value;
    return true;
  }
  std::string get(std::string_view section, std::string_view key) const {
    auto it = values.find(name(section, key));
    return it == values.end() ? "<absent>" : it->second;
  }
  static std::string name(std::string_view section, std::string_view key) {
    return std::string(section) + "/" + std::string(key);
  }
};

// Files in memory, with the failures a disk can have.
class MemoryFileSystem : public FileSystem {
 public:
  std::map<std::string, std::vector<std::uint8_t>> files;
  std::vector<std::string> removed;
  char separator = '/';
  std::string temp_name = "/tmp/fwl1.tmp";
  std::string system_dir = "/sys-dir";
  bool fail_create = false;
  // Bytes a created file takes before the "disk" is full; nullopt = unlimited.
  std::optional<std::size_t> disk_space;
  // A read of an opened file stops short after this many bytes; nullopt = never.
  std::optional<std::size_t> read_breaks_after;
  // No memory for a file's text.
  bool fail_allocate = false;

  void put(const std::string& path, std::string_view text) {
    files[path] = std::vector<std::uint8_t>(text.begin(), text.end());
  }
  std::string text(const std::string& path) const {
    auto it = files.find(path);
    return it == files.end() ? std::string() : std::string(it->second.begin(), it->second.end());
  }

  std::unique_ptr<InputFile> open_read(const std::string& path) override;
  std::unique_ptr<OutputFile> create(const std::string& path) override;
  std::unique_ptr<MemoryBlock> allocate_text(std::size_t size) override {
    return fail_allocate ? nullptr : FileSystem::allocate_text(size);
  }
  void remove_partial(const std::string& path) override {
    removed.push_back(path);
    files.erase(path);
  }
  std::string temp_file_name(std::string_view, unsigned) override { return temp_name; }
  std::string system_directory() override { return system_dir; }
  char path_separator() const override { return separator; }
};

// FWLOAD_TIME_FACTOR (a whole number, 1 when not set): how many times longer the tests' time
// bounds are on a slow machine (a guest under software emulation).
inline int time_factor() {
  const char* value = std::getenv("FWLOAD_TIME_FACTOR");
  const int factor = value != nullptr ? std::atoi(value) : 1;
  return factor >= 1 && factor <= 100 ? factor : 1;
}

// A folder of its own under the system's temporary folder, removed afterwards.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  const std::filesystem::path& path() const { return path_; }
  std::string file(std::string_view name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

}  // namespace fwload::test
