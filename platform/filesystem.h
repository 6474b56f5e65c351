// Files as the firmware flows use them: read a whole file in pieces, create (or truncate) a
// file and write it, remove a file left unfinished, and the platform's folders.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

namespace fwload {

class InputFile {
 public:
  virtual ~InputFile() = default;
  virtual std::uint64_t size() const = 0;
  // Reads up to buffer.size() bytes; fewer only at the end of the file or on a read error.
  virtual std::size_t read(std::span<std::uint8_t> buffer) = 0;
};

class OutputFile {
 public:
  virtual ~OutputFile() = default;
  // Returns false when not every byte could be written (disk full, I/O error).
  virtual bool write(std::span<const std::uint8_t> bytes) = 0;
  // Flushes and closes; returns false when the data did not reach the file.
  virtual bool close() = 0;
};

// A writable block of memory, released with the object.
class MemoryBlock {
 public:
  virtual ~MemoryBlock() = default;
  virtual std::uint8_t* data() = 0;
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;
  // Memory for a whole file's text (`size` bytes, contents unspecified); null when there is not
  // enough. The default takes it from the C++ heap; a platform may back large blocks with fewer,
  // larger pages, so that filling one costs a few page faults instead of one every 4 KiB.
  virtual std::unique_ptr<MemoryBlock> allocate_text(std::size_t size);
  // Memory the caller is about to fill whole, such as a new image: a platform may fault its
  // pages in with one call instead of one fault each. The contents are left as they are.
  virtual void will_fill(std::span<std::uint8_t> memory) { static_cast<void>(memory); }
  virtual std::unique_ptr<InputFile> open_read(const std::string& path) = 0;
  // Creates the file or truncates an existing one; null when that is not possible.
  virtual std::unique_ptr<OutputFile> create(const std::string& path) = 0;
  // Removes a file this program created and could not finish. Leaves anything that is not a
  // regular file (a device, a pipe) alone.
  virtual void remove_partial(const std::string& path) = 0;
  // Path of the temporary file with the given prefix and unique number in the platform's
  // temporary folder; empty when there is no such folder.
  virtual std::string temp_file_name(std::string_view prefix, unsigned unique) = 0;
  // Folder used when the settings name no folder ("None").
  virtual std::string system_directory() = 0;
  // "\\" on Windows, "/" on POSIX.
  virtual char path_separator() const = 0;
};

// Open, create, write and remove on the C and C++ standard libraries; the folders and the
// separator are left to the platform's subclass.
class StdFileSystem : public FileSystem {
 public:
  std::unique_ptr<InputFile> open_read(const std::string& path) override;
  std::unique_ptr<OutputFile> create(const std::string& path) override;
  void remove_partial(const std::string& path) override;
};

// The file system of the platform this program was built for.
std::unique_ptr<FileSystem> make_platform_filesystem();

}  // namespace fwload
