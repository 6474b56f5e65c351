#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/filesystem.h"

namespace fwload {
namespace {

// Blocks from this size on come from an anonymous mapping of their own.
constexpr std::size_t kMappedBlockFrom = std::size_t{512} << 10;
// The size and alignment of a transparent huge page on the usual 4 KiB-page systems.
constexpr std::size_t kHugePage = std::size_t{2} << 20;

class MappedBlock : public MemoryBlock {
 public:
  MappedBlock(void* base, std::size_t length) : base_(base), length_(length) {}
  ~MappedBlock() override { munmap(base_, length_); }
  std::uint8_t* data() override { return static_cast<std::uint8_t*>(base_); }

 private:
  void* base_;
  std::size_t length_;
};

// A block of whole huge pages, aligned to one, asked to be backed by huge pages and populated
// in one call: a firmware text of a megabyte then costs one page fault instead of hundreds,
// which on a virtual machine is most of the time a conversion takes. Where the kernel offers
// no huge pages (or is older than the populate call) the block is ordinary memory.
std::unique_ptr<MemoryBlock> map_block(std::size_t size) {
  if (size > SIZE_MAX - 2 * kHugePage) return nullptr;
  const std::size_t length = (size + kHugePage - 1) / kHugePage * kHugePage;
  void* raw = mmap(nullptr, length + kHugePage, PROT_READ | PROT_WRITE,
                   MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (raw == MAP_FAILED) return nullptr;
  // Keep the aligned part of the mapping; give back the slack in front of it and behind it.
  const auto start = reinterpret_cast<std::uintptr_t>(raw);
  const std::uintptr_t aligned = (start + kHugePage - 1) / kHugePage * kHugePage;
  const std::size_t head = aligned - start;
  if (head != 0) munmap(raw, head);
  munmap(reinterpret_cast<void*>(aligned + length), kHugePage - head);
  void* base = reinterpret_cast<void*>(aligned);
#ifdef MADV_HUGEPAGE
  madvise(base, length, MADV_HUGEPAGE);
#endif
#ifdef MADV_POPULATE_WRITE
  madvise(base, size, MADV_POPULATE_WRITE);
#endif
  return std::make_unique<MappedBlock>(base, length);
}

class PosixFileSystem : public StdFileSystem {
 public:
  std::unique_ptr<MemoryBlock> allocate_text(std::size_t size) override {
    if (size < kMappedBlockFrom) return StdFileSystem::allocate_text(size);
    return map_block(size);
  }
  void will_fill(std::span<std::uint8_t> memory) override {
#ifdef MADV_POPULATE_WRITE
    // The whole pages inside the memory; a kernel without the call faults them in as before.
    const auto page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
    const auto begin = reinterpret_cast<std::uintptr_t>(memory.data());
    const std::uintptr_t first = (begin + page - 1) / page * page;
    const std::uintptr_t last = (begin + memory.size()) / page * page;
    if (last > first) madvise(reinterpret_cast<void*>(first), last - first, MADV_POPULATE_WRITE);
#else
    static_cast<void>(memory);
#endif
  }
  std::string temp_file_name(std::string_view prefix, unsigned unique) override {
    const char* dir = std::getenv("TMPDIR");
    std::string path = (dir != nullptr && dir[0] != '\0') ? dir : "/tmp";
    if (path.back() != '/') path += '/';
    // The same form as the Windows temporary names: prefix, the unique number in hex, ".tmp".
    char number[16];
    std::snprintf(number, sizeof number, "%x", unique & 0xFFFFu);
    return path + std::string(prefix) + number + ".tmp";
  }
  std::string system_directory() override { return "/"; }
  char path_separator() const override { return '/'; }
};

}  // namespace

std::unique_ptr<FileSystem> make_platform_filesystem() {
  return std::make_unique<PosixFileSystem>();
}

}  // namespace fwload
