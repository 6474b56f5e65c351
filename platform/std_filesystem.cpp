#include <cstdio>
#include <filesystem>
#include <new>
#include <system_error>

#include "platform/filesystem.h"

namespace fwload {
namespace {

class StdInputFile : public InputFile {
 public:
  StdInputFile(std::FILE* file, std::uint64_t size) : file_(file), size_(size) {}
  ~StdInputFile() override { std::fclose(file_); }
  std::uint64_t size() const override { return size_; }
  std::size_t read(std::span<std::uint8_t> buffer) override {
    return std::fread(buffer.data(), 1, buffer.size(), file_);
  }

 private:
  std::FILE* file_;
  std::uint64_t size_;
};

class StdOutputFile : public OutputFile {
 public:
  explicit StdOutputFile(std::FILE* file) : file_(file) {}
  ~StdOutputFile() override {
    if (file_ != nullptr) std::fclose(file_);
  }
  bool write(std::span<const std::uint8_t> bytes) override {
    if (file_ == nullptr) return false;
    return std::fwrite(bytes.data(), 1, bytes.size(), file_) == bytes.size();
  }
  bool close() override {
    if (file_ == nullptr) return false;
    bool ok = std::fflush(file_) == 0 && std::ferror(file_) == 0;
    ok = std::fclose(file_) == 0 && ok;
    file_ = nullptr;
    return ok;
  }

 private:
  std::FILE* file_;
};

class HeapBlock : public MemoryBlock {
 public:
  explicit HeapBlock(std::size_t size) : bytes_(new std::uint8_t[size]) {}
  std::uint8_t* data() override { return bytes_.get(); }

 private:
  std::unique_ptr<std::uint8_t[]> bytes_;
};

}  // namespace

std::unique_ptr<MemoryBlock> FileSystem::allocate_text(std::size_t size) {
  try {
    return std::make_unique<HeapBlock>(size);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

std::unique_ptr<InputFile> StdFileSystem::open_read(const std::string& path) {
  // Only regular files have a size to read up to; a device or a pipe is refused.
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) return nullptr;
  const std::uintmax_t size = std::filesystem::file_size(path, ec);
  if (ec) return nullptr;
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return nullptr;
  return std::make_unique<StdInputFile>(file, static_cast<std::uint64_t>(size));
}

std::unique_ptr<OutputFile> StdFileSystem::create(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return nullptr;
  // The writers hand over large pieces (64 KiB of records, a whole image): each goes out in
  // one write, not through a second, smaller buffer that splits it in two.
  std::setvbuf(file, nullptr, _IONBF, 0);
  return std::make_unique<StdOutputFile>(file);
}

void StdFileSystem::remove_partial(const std::string& path) {
  std::error_code ec;
  if (std::filesystem::is_regular_file(std::filesystem::symlink_status(path, ec))) {
    std::filesystem::remove(path, ec);
  }
}

}  // namespace fwload
