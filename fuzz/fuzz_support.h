// Quiet, bounded stand-ins for the seam in the fuzz targets.
#pragma once

#include <cstdint>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "platform/filesystem.h"
#include "platform/ini_profile.h"
#include "platform/profile.h"
#include "platform/ui.h"

namespace fwload::fuzz {

class QuietUi : public Ui {
 public:
  int boxes = 0;
  void message_box(std::string_view, std::string_view, bool) override { ++boxes; }
  void progress(int percent) override {
    if (percent < 0 || percent > 100) __builtin_trap();
  }
  void show_file_name(std::string_view) override {}
  void writing_countdown(int) override {}
  void pump_one() override {}
  void idle(int) override {}
  void wait_cursor() override {}
  void arrow_cursor() override {}
  FileDialogResult file_dialog(const FileDialogRequest& r) override {
    if (r.kind == FileDialogRequest::Kind::Save)
      return {FileDialogResult::Outcome::Chosen, "/out.sum"};
    return {FileDialogResult::Outcome::Cancelled, {}};
  }
};

class MapProfile : public Profile {
 public:
  std::map<std::string, std::string> values;
  std::string read(std::string_view section, std::string_view key, std::string_view def,
                   std::size_t size) override {
    auto it = values.find(std::string(section) + "/" + std::string(key));
    return fit_to_buffer(it == values.end() ? def : std::string_view(it->second), size);
  }
  bool write(std::string_view section, std::string_view key, std::string_view value) override {
    values[std::string(section) + "/" + std::string(key)] = value;
    return true;
  }
};

class MemoryFiles : public FileSystem {
 public:
  std::map<std::string, std::vector<std::uint8_t>> files;
  class In : public InputFile {
   public:
    explicit In(const std::vector<std::uint8_t>& d) : data_(d) {}
    std::uint64_t size() const override { return data_.size(); }
    std::size_t read(std::span<std::uint8_t> b) override {
      const std::size_t n = std::min(b.size(), data_.size() - pos_);
      if (n > 0) std::memcpy(b.data(), data_.data() + pos_, n);
      pos_ += n;
      return n;
    }

   private:
    const std::vector<std::uint8_t>& data_;
    std::size_t pos_ = 0;
  };
  class Out : public OutputFile {
   public:
    explicit Out(std::vector<std::uint8_t>& d) : data_(d) {}
    bool write(std::span<const std::uint8_t> b) override {
      data_.insert(data_.end(), b.begin(), b.end());
      return true;
    }
    bool close() override { return true; }

   private:
    std::vector<std::uint8_t>& data_;
  };
  std::unique_ptr<InputFile> open_read(const std::string& p) override {
    auto it = files.find(p);
    return it == files.end() ? nullptr : std::make_unique<In>(it->second);
  }
  std::unique_ptr<OutputFile> create(const std::string& p) override {
    files[p].clear();
    return std::make_unique<Out>(files[p]);
  }
  void remove_partial(const std::string& p) override { files.erase(p); }
  std::string temp_file_name(std::string_view, unsigned) override { return "/fwl1.tmp"; }
  std::string system_directory() override { return "/"; }
  char path_separator() const override { return '/'; }
};

}  // namespace fwload::fuzz
