#include <windows.h>

#include <cstdlib>

#include "platform/history_file.h"
#include "platform/win32/spti_aspi.h"

namespace fwload {
namespace {

bool fail(std::string* error, const std::string& text) {
  if (error != nullptr) *error = text;
  return false;
}

// Read access lets the end of the file be checked; FlushFileBuffers needs GENERIC_WRITE, so the
// appends are writes at the end-of-file offset, which Windows makes one piece each as it does
// for a handle with FILE_APPEND_DATA alone.
HANDLE open_for_append(const std::string& path, bool* readable) {
  HANDLE file =
      CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  *readable = file != INVALID_HANDLE_VALUE;
  if (file == INVALID_HANDLE_VALUE && GetLastError() == ERROR_ACCESS_DENIED) {
    file = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                       OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  }
  return file;
}

// Whether the file's last byte is something other than a line end (a line cut short).
bool ends_without_newline(HANDLE file) {
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(file, &size) || size.QuadPart == 0) return false;
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>((size.QuadPart - 1) & 0xFFFFFFFF);
  at.OffsetHigh = static_cast<DWORD>((size.QuadPart - 1) >> 32);
  char last = '\n';
  DWORD got = 0;
  return ReadFile(file, &last, 1, &got, &at) && got == 1 && last != '\n';
}

}  // namespace

std::string default_history_path() {
  char folder[MAX_PATH + 1] = {};
  const DWORD n = GetEnvironmentVariableA("LOCALAPPDATA", folder, sizeof folder);
  if (n == 0 || n >= sizeof folder) return {};
  return std::string(folder, n) + "\\fwload\\transfers.jsonl";
}

bool append_line_durably(const std::string& path, std::string_view line, std::string* error) {
  if (!make_folder_of(path, error)) return false;
  bool readable = false;
  const HANDLE file = open_for_append(path, &readable);
  if (file == INVALID_HANDLE_VALUE) {
    return fail(error, path + ": " + system_error_text(GetLastError()));
  }
  const bool disk = GetFileType(file) == FILE_TYPE_DISK;
  // A line cut short by an earlier writer gets its end in the same write as this one.
  std::string text = disk && readable && ends_without_newline(file) ? "\n" : "";
  text += line;
  text += '\n';
  OVERLAPPED at_end{};
  at_end.Offset = 0xFFFFFFFF;
  at_end.OffsetHigh = 0xFFFFFFFF;
  DWORD written = 0;
  const BOOL ok = WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written,
                            disk ? &at_end : nullptr);
  const bool whole = ok && written == text.size();
  const DWORD write_error = whole ? 0 : GetLastError();
  // The NUL device or a pipe has nothing to flush to a disk.
  const bool flushed = whole && (!disk || FlushFileBuffers(file));
  const DWORD flush_error = flushed ? 0 : GetLastError();
  CloseHandle(file);
  if (!whole) return fail(error, path + ": " + system_error_text(write_error));
  if (!flushed) return fail(error, path + ": " + system_error_text(flush_error));
  return true;
}

bool can_append(const std::string& path, std::string* error) {
  if (!make_folder_of(path, error)) return false;
  bool readable = false;
  const HANDLE file = open_for_append(path, &readable);
  if (file == INVALID_HANDLE_VALUE) {
    return fail(error, path + ": " + system_error_text(GetLastError()));
  }
  CloseHandle(file);
  return true;
}

std::string host_name() {
  char name[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD size = sizeof name;
  return GetComputerNameA(name, &size) ? std::string(name, size) : std::string();
}

std::string user_name() {
  char name[257] = {};
  const DWORD n = GetEnvironmentVariableA("USERNAME", name, sizeof name);
  return n > 0 && n < sizeof name ? std::string(name, n) : std::string();
}

}  // namespace fwload
