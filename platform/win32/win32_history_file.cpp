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

HANDLE open_for_append(const std::string& path) {
  // FILE_APPEND_DATA alone: every write goes to the end, as one piece, whoever else appends.
  return CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                     OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
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
  const HANDLE file = open_for_append(path);
  if (file == INVALID_HANDLE_VALUE) {
    return fail(error, path + ": " + system_error_text(GetLastError()));
  }
  std::string text(line);
  text += '\n';
  DWORD written = 0;
  const BOOL ok = WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  const bool whole = ok && written == text.size();
  const DWORD write_error = whole ? 0 : GetLastError();
  const bool flushed = whole && FlushFileBuffers(file);
  const DWORD flush_error = flushed ? 0 : GetLastError();
  CloseHandle(file);
  if (!whole) return fail(error, path + ": " + system_error_text(write_error));
  if (!flushed) return fail(error, path + ": " + system_error_text(flush_error));
  return true;
}

bool can_append(const std::string& path, std::string* error) {
  if (!make_folder_of(path, error)) return false;
  const HANDLE file = open_for_append(path);
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
