#include "tests/unit/test_support.h"

#include <algorithm>
#include <atomic>
#include <cstring>

#include <unistd.h>

namespace fwload::test {
namespace {

class MemoryInput : public InputFile {
 public:
  MemoryInput(std::vector<std::uint8_t> data, std::optional<std::size_t> breaks_after)
      : data_(std::move(data)), breaks_after_(breaks_after) {}
  std::uint64_t size() const override { return data_.size(); }
  std::size_t read(std::span<std::uint8_t> buffer) override {
    std::size_t end = data_.size();
    if (breaks_after_) end = std::min(end, *breaks_after_);
    const std::size_t n = std::min(buffer.size(), end - std::min(end, pos_));
    std::memcpy(buffer.data(), data_.data() + pos_, n);
    pos_ += n;
    return n;
  }

 private:
  std::vector<std::uint8_t> data_;
  std::optional<std::size_t> breaks_after_;
  std::size_t pos_ = 0;
};

class MemoryOutput : public OutputFile {
 public:
  MemoryOutput(std::vector<std::uint8_t>& target, std::optional<std::size_t> space)
      : target_(target), space_(space) {}
  bool write(std::span<const std::uint8_t> bytes) override {
    std::size_t n = bytes.size();
    if (space_) n = std::min(n, *space_ - std::min(*space_, target_.size()));
    target_.insert(target_.end(), bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(n));
    return n == bytes.size();
  }
  bool close() override { return true; }

 private:
  std::vector<std::uint8_t>& target_;
  std::optional<std::size_t> space_;
};

}  // namespace

std::unique_ptr<InputFile> MemoryFileSystem::open_read(const std::string& path) {
  auto it = files.find(path);
  if (it == files.end()) return nullptr;
  return std::make_unique<MemoryInput>(it->second, read_breaks_after);
}

std::unique_ptr<OutputFile> MemoryFileSystem::create(const std::string& path) {
  if (fail_create) return nullptr;
  files[path].clear();
  return std::make_unique<MemoryOutput>(files[path], disk_space);
}

TempDir::TempDir() {
  static std::atomic<int> counter{0};
  path_ = std::filesystem::temp_directory_path() /
          ("fwload-test-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
  std::filesystem::create_directories(path_);
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

}  // namespace fwload::test
