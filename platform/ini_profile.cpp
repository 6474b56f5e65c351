#include "platform/ini_profile.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace fwload {
namespace {

constexpr std::string_view kBlanks = " \t\r\n";

std::string_view trim(std::string_view s) {
  const auto first = s.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  const auto last = s.find_last_not_of(kBlanks);
  return s.substr(first, last - first + 1);
}

bool same_name(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

}  // namespace

// One line of the file, classified.
struct IniFileProfile::Line {
  std::string text;  // as in the file, without the line end
  enum class Kind { Other, Section, Entry } kind = Kind::Other;

  static Line parse(std::string text) {
    Line line{std::move(text)};
    const std::string_view t = trim(line.text);
    if (!t.empty() && t.front() == '[') {
      line.kind = Kind::Section;
    } else if (!t.empty() && t.front() != ';') {
      line.kind = Kind::Entry;
    }
    return line;
  }
  std::string_view name() const {
    const std::string_view t = trim(text);
    if (kind == Kind::Section) {
      const auto close = t.find(']');
      return trim(t.substr(1, close == std::string_view::npos ? t.size() - 1 : close - 1));
    }
    if (kind == Kind::Entry) return trim(t.substr(0, t.find('=')));
    return {};
  }
  std::string_view value() const {
    const std::string_view t = trim(text);
    const auto eq = t.find('=');
    std::string_view v = eq == std::string_view::npos ? std::string_view{} : trim(t.substr(eq + 1));
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) {
      v = v.substr(1, v.size() - 2);
    }
    return v;
  }
};

namespace {

using Line = IniFileProfile::Line;

// Index of the section's header line, or lines.size() when absent.
std::size_t find_section(const std::vector<Line>& lines, std::string_view section) {
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].kind == Line::Kind::Section && same_name(lines[i].name(), section)) return i;
  }
  return lines.size();
}

}  // namespace

std::string fit_to_buffer(std::string_view value, std::size_t size) {
  if (size == 0) return {};
  return std::string(value.substr(0, size - 1));
}

IniFileProfile::IniFileProfile(std::string path, bool deferred)
    : path_(std::move(path)), deferred_(deferred) {}

IniFileProfile::~IniFileProfile() {
  flush();
}

std::vector<IniFileProfile::Line>& IniFileProfile::lines() {
  // A deferred profile reads the file once; a direct one sees changes made by others.
  if (loaded_ && deferred_) return lines_;
  lines_.clear();
  on_disk_.clear();
  std::ifstream in(path_, std::ios::binary);
  std::string text;
  while (in && std::getline(in, text)) {
    on_disk_ += text;
    on_disk_ += '\n';
    if (!text.empty() && text.back() == '\r') text.pop_back();
    lines_.push_back(Line::parse(std::move(text)));
  }
  loaded_ = true;
  return lines_;
}

std::string IniFileProfile::read(std::string_view section, std::string_view key,
                                 std::string_view default_value, std::size_t size) {
  const std::vector<Line>& all = lines();
  const std::size_t start = find_section(all, section);
  for (std::size_t i = start + 1; i < all.size(); ++i) {
    if (all[i].kind == Line::Kind::Section) break;
    if (all[i].kind == Line::Kind::Entry && same_name(all[i].name(), key)) {
      return fit_to_buffer(all[i].value(), size);
    }
  }
  // The profile calls drop trailing blanks of the default.
  const auto last = default_value.find_last_not_of(' ');
  return fit_to_buffer(default_value.substr(0, last == std::string_view::npos ? 0 : last + 1),
                       size);
}

bool IniFileProfile::write(std::string_view section, std::string_view key, std::string_view value) {
  // A line break in a name or value would forge other entries of the file.
  for (std::string_view s : {section, key, value}) {
    if (s.find_first_of("\r\n") != std::string_view::npos) return false;
  }
  if (trim(section).empty() || trim(key).empty()) return false;

  std::vector<Line>& all = lines();
  std::string entry(key);
  entry += '=';
  entry += value;
  const std::size_t header = find_section(all, section);
  if (header == all.size()) {
    if (!all.empty() && !trim(all.back().text).empty()) all.push_back(Line::parse(""));
    std::string header_line = "[";
    header_line += section;
    header_line += ']';
    all.push_back(Line::parse(header_line));
    all.push_back(Line::parse(entry));
  } else {
    std::size_t insert_at = header + 1;
    bool replaced = false;
    for (std::size_t i = header + 1; i < all.size(); ++i) {
      if (all[i].kind == Line::Kind::Section) break;
      if (all[i].kind == Line::Kind::Entry && same_name(all[i].name(), key)) {
        all[i] = Line::parse(entry);
        replaced = true;
        break;
      }
      if (!trim(all[i].text).empty()) insert_at = i + 1;
    }
    if (!replaced) {
      all.insert(all.begin() + static_cast<std::ptrdiff_t>(insert_at), Line::parse(entry));
    }
  }
  dirty_ = true;
  if (deferred_) return true;
  const bool saved = save();
  dirty_ = false;  // a direct write that failed is not tried again later
  return saved;
}

bool IniFileProfile::flush() {
  return !dirty_ || save();
}

bool IniFileProfile::save() {
  std::string text;
  for (const Line& line : lines_) {
    text += line.text;
    text += '\n';
  }
  // Setting keys to the values they already hold leaves the file alone.
  if (text == on_disk_) {
    dirty_ = false;
    return true;
  }
  std::error_code ec;
  const std::filesystem::path target(path_);
  if (target.has_parent_path()) std::filesystem::create_directories(target.parent_path(), ec);
  const std::string temp = path_ + ".new";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    out << text;
    out.flush();
    if (!out) {
      out.close();
      std::filesystem::remove(temp, ec);
      return false;
    }
  }
  std::filesystem::rename(temp, target, ec);
  if (ec) {
    std::filesystem::remove(temp, ec);
    return false;
  }
  on_disk_ = std::move(text);
  dirty_ = false;
  return true;
}

std::string NullProfile::read(std::string_view, std::string_view, std::string_view default_value,
                              std::size_t size) {
  return fit_to_buffer(default_value, size);
}

}  // namespace fwload
