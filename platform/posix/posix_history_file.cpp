#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "platform/history_file.h"

namespace fwload {
namespace {

bool fail(std::string* error, const std::string& text) {
  if (error != nullptr) *error = text;
  return false;
}

}  // namespace

std::string default_history_path() {
  const char* state = std::getenv("XDG_STATE_HOME");
  if (state != nullptr && state[0] == '/') return std::string(state) + "/fwload/transfers.jsonl";
  const char* home = std::getenv("HOME");
  if (home != nullptr && home[0] != '\0') {
    return std::string(home) + "/.local/state/fwload/transfers.jsonl";
  }
  return {};
}

bool append_line_durably(const std::string& path, std::string_view line, std::string* error) {
  if (!make_folder_of(path, error)) return false;
  // O_EXCL first tells whether this call creates the file (its folder entry must then reach
  // the disk too). Read access lets the end of the file be checked; a file this user may only
  // write to is appended to without that check.
  bool created = true;
  int fd = ::open(path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0 && errno == EEXIST) {
    created = false;
    fd = ::open(path.c_str(), O_RDWR | O_APPEND | O_CLOEXEC);
    if (fd < 0 && errno == EACCES) fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
  }
  if (fd < 0) return fail(error, path + ": " + std::strerror(errno));
  struct stat st {};
  const bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  // A line cut short by an earlier writer (a full disk, a file size limit) gets its end here,
  // in the same write, so that this line is not taken for the rest of that one. Another
  // writer between the check and the write leaves at most an empty line, which readers skip.
  std::string text;
  char last = '\n';
  if (regular && st.st_size > 0 && ::pread(fd, &last, 1, st.st_size - 1) == 1 && last != '\n') {
    text += '\n';
  }
  text += line;
  text += '\n';
  ssize_t n;
  do {
    n = ::write(fd, text.data(), text.size());
  } while (n < 0 && errno == EINTR);
  const int write_error = n < 0 ? errno : 0;
  const bool whole = n == static_cast<ssize_t>(text.size());
  // A device (/dev/null) or a pipe has nothing to flush to a disk.
  const bool synced = whole && (!regular || ::fsync(fd) == 0);
  const int sync_error = errno;
  ::close(fd);
  if (!whole) {
    return fail(
        error,
        path + ": " + (write_error != 0 ? std::strerror(write_error) : "the line was cut short"));
  }
  if (!synced) return fail(error, path + ": " + std::strerror(sync_error));
  if (created) {
    const std::string folder = std::filesystem::path(path).parent_path().string();
    const int dir =
        ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
      ::fsync(dir);
      ::close(dir);
    }
  }
  return true;
}

bool can_append(const std::string& path, std::string* error) {
  if (!make_folder_of(path, error)) return false;
  const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return fail(error, path + ": " + std::strerror(errno));
  ::close(fd);
  return true;
}

std::string host_name() {
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) != 0) return {};
  return name;
}

// From the environment: the C library's user lookup would tie the statically linked program
// to the system's NSS libraries.
std::string user_name() {
  for (const char* variable : {"USER", "LOGNAME"}) {
    const char* value = std::getenv(variable);
    if (value != nullptr && value[0] != '\0') return value;
  }
  return "uid " + std::to_string(::getuid());
}

}  // namespace fwload
