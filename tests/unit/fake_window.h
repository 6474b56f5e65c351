// A main window without Windows: records what the dialog logic does to its controls.
#pragma once

#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "app/main_window.h"
#include "app/transport.h"
#include "res/string_table.h"
#include "tests/unit/test_support.h"

namespace fwload::test {

// The controls of a dialog: texts, enabled and checked states.
class FakeControls : public virtual DialogControls {
 public:
  std::map<int, std::string> texts;
  std::map<int, bool> enabled;  // absent: as the template made it
  std::map<int, bool> checked;
  int ended = 0;  // end_dialog result, 0 while open

  void set_text(int id, std::string_view text) override { texts[id] = text; }
  std::string text(int id, std::size_t max) override {
    return fit_to_buffer(texts.count(id) ? texts[id] : std::string(), max);
  }
  void enable(int id, bool on) override { enabled[id] = on; }
  bool is_checked(int id) override { return checked.count(id) && checked[id]; }
  void set_checked(int id, bool on) override { checked[id] = on; }
  std::string load_string(int id, std::size_t max) override {
    return fit_to_buffer(table_string(id), max);
  }
  void end_dialog(int result) override { ended = result; }

  bool is_enabled(int id) override {
    auto it = enabled.find(id);
    return it == enabled.end() || it->second;
  }
};

class FakeMainWindow : public MainWindow, public FakeControls {
 public:
  RecorderUi ui;  // message boxes, progress, dialogs, pumps, cursor
  std::map<int, std::vector<std::string>> lists;
  std::map<int, int> selected;
  std::vector<int> posted;
  int about_runs = 0;
  std::vector<bool> command_runs;  // serial template or not, per run

  void message_box(std::string_view c, std::string_view t, bool m) override {
    ui.message_box(c, t, m);
  }
  void progress(int p) override { ui.progress(p); }
  void pump_one() override { ui.pump_one(); }
  void idle(int ms) override { ui.idle(ms); }
  void wait_cursor() override { ui.wait_cursor(); }
  void arrow_cursor() override { ui.arrow_cursor(); }
  FileDialogResult file_dialog(const FileDialogRequest& r) override { return ui.file_dialog(r); }
  void add_list_item(int id, std::string_view text) override { lists[id].emplace_back(text); }
  void select_list_item(int id, int index) override { selected[id] = index; }
  int list_selection(int id) override { return selected.count(id) ? selected[id] : -1; }
  std::string list_text(int id, int index) override {
    const auto& items = lists[id];
    return index >= 0 && static_cast<std::size_t>(index) < items.size() ? items[index] : "";
  }
  void post_command(int id) override { posted.push_back(id); }
  void run_about_dialog() override { ++about_runs; }
  void run_command_dialog(bool serial) override { command_runs.push_back(serial); }
};

// A transport whose answers the test sets.
class FakeTransport : public Transport {
 public:
  int scsi_result = 0;
  int serial_result = 0;
  int found = 0;
  std::string product = "HV Scanner 3600  ";
  std::uint8_t model_class = 3;
  int scsi_downloads = 0, serial_downloads = 0, releases = 0, no_device = 0;
  int info_scsi = 0, info_serial = 0;

  int download_scsi() override {
    ++scsi_downloads;
    return scsi_result;
  }
  int download_serial() override {
    ++serial_downloads;
    return serial_result;
  }
  std::function<void()> during_find;  // what the discovery's wait dispatches
  int find_scanner() override {
    if (during_find) during_find();
    return found;
  }
  std::string scanner_product() const override { return product; }
  std::uint8_t scanner_model_class() const override { return model_class; }
  void set_no_device() override {
    ++no_device;
    product = "No device !";
  }
  void release_aspi() override { ++releases; }
  void scanner_info_scsi(DialogControls&) override { ++info_scsi; }
  void scanner_info_serial(DialogControls&) override { ++info_serial; }
};

}  // namespace fwload::test
