// The settings file as an INI text file, read and written with the semantics of the Windows
// private profile calls. Used where those calls do not exist.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/profile.h"

namespace fwload {

class IniFileProfile : public Profile {
 public:
  // A deferred profile keeps its writes in memory until flush() or its end, so a command that
  // sets several keys rewrites the file once.
  explicit IniFileProfile(std::string path, bool deferred = false);
  ~IniFileProfile() override;
  std::string read(std::string_view section, std::string_view key, std::string_view default_value,
                   std::size_t size) override;
  // Rewrites the whole file through a temporary file and a rename, so a crash or a full disk
  // never leaves a half-written settings file.
  bool write(std::string_view section, std::string_view key, std::string_view value) override;
  // Writes what a deferred profile holds; true when nothing is left unwritten.
  bool flush();
  const std::string& path() const { return path_; }

  struct Line;  // one line of the file, classified

 private:
  std::vector<Line>& lines();
  bool save();

  std::string path_;
  bool deferred_;
  bool loaded_ = false;
  bool dirty_ = false;
  std::vector<Line> lines_;
  std::string on_disk_;  // the file's text as last read or written
};

// A profile without a file: reads give the defaults, writes are dropped.
class NullProfile : public Profile {
 public:
  std::string read(std::string_view, std::string_view, std::string_view default_value,
                   std::size_t size) override;
  bool write(std::string_view, std::string_view, std::string_view) override { return false; }
};

// The settings file of this platform: on Windows the private profile file "FWLOAD.INI" in the
// Windows folder; elsewhere $XDG_CONFIG_HOME/fwload/FWLOAD.INI (default ~/.config/fwload/).
std::unique_ptr<Profile> make_platform_profile();

// The text a buffer of `size` bytes holds of `value`: at most size - 1 characters.
std::string fit_to_buffer(std::string_view value, std::size_t size);

}  // namespace fwload
