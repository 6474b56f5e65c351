#include "app/win32/win32_dialogs.h"

#include <commdlg.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "app/about_dialog.h"
#include "app/command_dialog.h"
#include "app/device_transport.h"
#include "app/entry.h"
#include "app/status_display.h"
#include "platform/aspi_loader.h"
#include "platform/ini_profile.h"
#include "res/resource.h"
#include "scsi/commands.h"

namespace fwload::win32 {
namespace {

constexpr std::size_t kPathBuffer = 256;

// Copies `text` into a buffer of `size` bytes, cut to fit, always terminated.
void copy_bounded(char* buffer, std::size_t size, std::string_view text) {
  const std::size_t n = text.size() < size - 1 ? text.size() : size - 1;
  std::memcpy(buffer, text.data(), n);
  buffer[n] = '\0';
}

// The common dialogs library pulls in much of the shell; it is loaded when a file dialog is
// first needed instead of at every start of the program.
struct CommonDialogs {
  BOOL(WINAPI* open)(LPOPENFILENAMEA) = nullptr;
  BOOL(WINAPI* save)(LPOPENFILENAMEA) = nullptr;
  DWORD(WINAPI* error)() = nullptr;
};

const CommonDialogs& common_dialogs() {
  static const CommonDialogs dialogs = [] {
    CommonDialogs d;
    if (HMODULE module = LoadLibraryA("comdlg32.dll")) {
      d.open = reinterpret_cast<decltype(d.open)>(
          reinterpret_cast<void*>(GetProcAddress(module, "GetOpenFileNameA")));
      d.save = reinterpret_cast<decltype(d.save)>(
          reinterpret_cast<void*>(GetProcAddress(module, "GetSaveFileNameA")));
      d.error = reinterpret_cast<decltype(d.error)>(
          reinterpret_cast<void*>(GetProcAddress(module, "CommDlgExtendedError")));
    }
    return d;
  }();
  return dialogs;
}

// The timer has no window; its callback finds the program here. This is the one piece of
// process-wide state of the Win32 layer, set for the lifetime of Program::run.
Program* g_timer_program = nullptr;

void CALLBACK timer_proc(HWND, UINT, UINT_PTR, DWORD) {
  if (g_timer_program != nullptr) timer_tick(g_timer_program->app.timer, g_timer_program->window);
}

INT_PTR CALLBACK main_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_INITDIALOG) {
    SetWindowLongPtrA(dialog, DWLP_USER, lparam);
    auto* program = reinterpret_cast<Program*>(lparam);
    program->window.attach(dialog);
    return program->dialog.on_init();
  }
  auto* program = reinterpret_cast<Program*>(GetWindowLongPtrA(dialog, DWLP_USER));
  if (program == nullptr) return FALSE;
  switch (message) {
    case WM_PAINT:
      program->dialog.on_paint();
      return FALSE;
    case WM_COMMAND:
      return program->dialog.on_command(LOWORD(wparam)) ? TRUE : FALSE;
    default:
      program->dialog.on_other_message();
      return FALSE;
  }
}

struct AboutContext {
  Program* program;
  Win32Controls controls;
};

INT_PTR CALLBACK about_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_INITDIALOG) {
    SetWindowLongPtrA(dialog, DWLP_USER, lparam);
    auto* context = reinterpret_cast<AboutContext*>(lparam);
    context->controls.attach(dialog);
    about_init(context->controls, context->program->app, context->program->firmware,
               *context->program->transport);
    return TRUE;
  }
  auto* context = reinterpret_cast<AboutContext*>(GetWindowLongPtrA(dialog, DWLP_USER));
  if (context == nullptr || message != WM_COMMAND) return FALSE;
  return about_command(LOWORD(wparam), context->controls, *context->program->transport) ? TRUE
                                                                                        : FALSE;
}

struct CommandContext {
  Win32Controls controls;
  ScsiIo io;
  CommandDialog logic;
};

INT_PTR CALLBACK command_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_INITDIALOG) {
    SetWindowLongPtrA(dialog, DWLP_USER, lparam);
    auto* context = reinterpret_cast<CommandContext*>(lparam);
    context->controls.attach(dialog);
    context->logic.on_init();
    return TRUE;
  }
  auto* context = reinterpret_cast<CommandContext*>(GetWindowLongPtrA(dialog, DWLP_USER));
  if (context == nullptr || message != WM_COMMAND) return FALSE;
  return context->logic.on_command(LOWORD(wparam)) ? TRUE : FALSE;
}

class Win32Entry : public EntryPort {
 public:
  explicit Win32Entry(Program& program) : program_(program) {}
  unsigned create_timer(unsigned id) override {
    return static_cast<unsigned>(SetTimer(nullptr, id, 1000, timer_proc));
  }
  void kill_timer(unsigned id) override { KillTimer(nullptr, id); }
  void message_box(std::string_view caption, std::string_view text) override {
    const std::string c(caption), t(text);
    MessageBoxA(nullptr, t.c_str(), c.c_str(), MB_OK | MB_ICONWARNING);
  }
  void run_main_dialog() override {
    DialogBoxParamA(program_.instance, "MAINBOX", nullptr, main_dialog_proc,
                    reinterpret_cast<LPARAM>(&program_));
  }

 private:
  Program& program_;
};

}  // namespace

void Win32Controls::set_text(int id, std::string_view text) {
  const std::string t(text);
  SetDlgItemTextA(dialog_, id, t.c_str());
}

std::string Win32Controls::text(int id, std::size_t max) {
  if (max == 0) return {};
  std::vector<char> buffer(max, '\0');
  const UINT n = GetDlgItemTextA(dialog_, id, buffer.data(), static_cast<int>(max));
  return std::string(buffer.data(), n < max ? n : max - 1);
}

void Win32Controls::enable(int id, bool enable) {
  if (HWND control = GetDlgItem(dialog_, id)) EnableWindow(control, enable ? TRUE : FALSE);
}

bool Win32Controls::is_enabled(int id) {
  HWND control = GetDlgItem(dialog_, id);
  return control == nullptr || IsWindowEnabled(control) != FALSE;
}

bool Win32Controls::is_checked(int id) {
  return IsDlgButtonChecked(dialog_, id) == BST_CHECKED;
}

void Win32Controls::set_checked(int id, bool checked) {
  CheckDlgButton(dialog_, id, checked ? BST_CHECKED : BST_UNCHECKED);
}

std::string Win32Controls::load_string(int id, std::size_t max) {
  if (max == 0) return {};
  std::vector<char> buffer(max, '\0');
  const int n = LoadStringA(instance_, static_cast<UINT>(id), buffer.data(), static_cast<int>(max));
  return std::string(buffer.data(), n > 0 ? static_cast<std::size_t>(n) : 0);
}

void Win32Controls::end_dialog(int result) {
  EndDialog(dialog_, result);
}

void Win32MainWindow::message_box(std::string_view caption, std::string_view text,
                                  bool task_modal) {
  const std::string c(caption), t(text);
  MessageBoxA(dialog_, t.c_str(), c.c_str(),
              MB_OK | MB_ICONWARNING | (task_modal ? MB_TASKMODAL : 0));
}

void Win32MainWindow::progress(int percent) {
  // Every call paints: loops pass only changed percentages (ProgressMeter), and a 0 % after
  // a cancelled operation must repaint the bar white.
  HWND bar = GetDlgItem(dialog_, IDC_PROGRESS);
  if (bar == nullptr) return;
  RECT client;
  GetClientRect(bar, &client);
  const ProgressFills fills =
      progress_fills({client.left, client.top, client.right, client.bottom}, percent);
  HDC dc = GetDC(bar);
  const RECT filled{fills.filled.left, fills.filled.top, fills.filled.right, fills.filled.bottom};
  HBRUSH blue = CreateSolidBrush(kProgressFilledColour);
  FillRect(dc, &filled, blue);
  DeleteObject(blue);
  const RECT empty{fills.empty.left, fills.empty.top, fills.empty.right, fills.empty.bottom};
  HBRUSH white = CreateSolidBrush(kProgressEmptyColour);
  FillRect(dc, &empty, white);
  DeleteObject(white);
  ReleaseDC(bar, dc);
}

void Win32MainWindow::pump_one() {
  // Operations call this after every line or block; looking at the queue once per
  // kPumpIntervalMs keeps the window just as responsive without a round trip to the window
  // system for each of thousands of lines.
  const DWORD now = GetTickCount();
  if (now - last_pump_ < kPumpIntervalMs) return;
  last_pump_ = now;
  MSG msg;
  if (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
    cursor_is_wait_ = false;  // the message may have set another cursor
  }
  wait_cursor();
}

void Win32MainWindow::idle(int ms) {
  // Sleeps until a message arrives or the time is up, instead of spinning.
  MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(ms), QS_ALLINPUT);
  MSG msg;
  if (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
    cursor_is_wait_ = false;
  }
  wait_cursor();
}

void Win32MainWindow::wait_cursor() {
  if (cursor_is_wait_) return;
  SetCursor(LoadCursorA(nullptr, IDC_WAIT));
  cursor_is_wait_ = true;
}

void Win32MainWindow::arrow_cursor() {
  SetCursor(LoadCursorA(nullptr, IDC_ARROW));
  cursor_is_wait_ = false;
}

FileDialogResult Win32MainWindow::file_dialog(const FileDialogRequest& request) {
  // Filters: "description\0pattern\0" pairs, ending in an empty string.
  std::string filter;
  for (const FileFilter& f : request.filters) {
    filter += f.description;
    filter += '\0';
    filter += f.pattern;
    filter += '\0';
  }
  filter += '\0';
  char path[kPathBuffer];
  copy_bounded(path, sizeof path, request.file_name);
  char title[kPathBuffer] = {};
  OPENFILENAMEA ofn{};
  ofn.lStructSize = sizeof ofn;
  ofn.hwndOwner = dialog_;
  ofn.lpstrFilter = filter.c_str();
  ofn.nFilterIndex = 1;
  ofn.lpstrFile = path;
  ofn.nMaxFile = sizeof path;
  ofn.lpstrFileTitle = title;
  ofn.nMaxFileTitle = sizeof title;
  ofn.lpstrInitialDir = request.initial_dir.empty() ? nullptr : request.initial_dir.c_str();
  const bool open = request.kind == FileDialogRequest::Kind::Open;
  ofn.Flags = open ? (OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST) : OFN_OVERWRITEPROMPT;
  const CommonDialogs& dialogs = common_dialogs();
  if (dialogs.open == nullptr || dialogs.save == nullptr || dialogs.error == nullptr) {
    return {FileDialogResult::Outcome::Failed, {}};
  }
  const BOOL chosen = open ? dialogs.open(&ofn) : dialogs.save(&ofn);
  if (chosen) return {FileDialogResult::Outcome::Chosen, path};
  return {dialogs.error() != 0 ? FileDialogResult::Outcome::Failed
                               : FileDialogResult::Outcome::Cancelled,
          {}};
}

void Win32MainWindow::add_list_item(int id, std::string_view text) {
  const std::string t(text);
  SendDlgItemMessageA(dialog_, id, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(t.c_str()));
}

void Win32MainWindow::select_list_item(int id, int index) {
  SendDlgItemMessageA(dialog_, id, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

int Win32MainWindow::list_selection(int id) {
  const LRESULT index = SendDlgItemMessageA(dialog_, id, CB_GETCURSEL, 0, 0);
  return index == CB_ERR ? -1 : static_cast<int>(index);
}

std::string Win32MainWindow::list_text(int id, int index) {
  const LRESULT length =
      SendDlgItemMessageA(dialog_, id, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
  if (length == CB_ERR || length < 0 || length > 255) return {};
  char text[256] = {};
  SendDlgItemMessageA(dialog_, id, CB_GETLBTEXT, static_cast<WPARAM>(index),
                      reinterpret_cast<LPARAM>(text));
  return text;
}

void Win32MainWindow::post_command(int id) {
  PostMessageA(dialog_, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(dialog_, id)));
}

void Win32MainWindow::run_about_dialog() {
  AboutContext context{&program_, Win32Controls(instance_)};
  DialogBoxParamA(instance_, "ABOUTBOX", dialog_, about_dialog_proc,
                  reinterpret_cast<LPARAM>(&context));
}

void Win32MainWindow::run_command_dialog(bool serial_template) {
  CommandContext context{
      Win32Controls(instance_), ScsiIo{*this, *program_.aspi, program_.app.timer},
      CommandDialog(context.controls, program_.transport->scsi(), context.io, serial_template)};
  DialogBoxParamA(instance_, serial_template ? "TESTBOX-Serial" : "TESTBOX-NoSerial", dialog_,
                  command_dialog_proc, reinterpret_cast<LPARAM>(&context));
}

Program::Program(HINSTANCE inst)
    : instance(inst),
      profile(make_platform_profile()),
      fs(make_platform_filesystem()),
      aspi(make_platform_aspi_loader()),
      serial(make_platform_serial_devices()),
      window(inst, *this),
      transport(std::make_unique<DeviceTransport>(app, firmware, window, *aspi, *serial)),
      dialog(app, firmware, window, *profile, *fs, *transport) {
  // A test setting: the longest a SCSI request may stay pending, in milliseconds.
  apply_request_bound_setting(transport->scsi(), std::getenv("FWLOAD_REQUEST_BOUND_MS"));
}

int Program::run(std::string_view command_line) {
  g_timer_program = this;
  Win32Entry entry(*this);
  const int code = program_main(app, entry, command_line);
  g_timer_program = nullptr;
  return code;
}

}  // namespace fwload::win32
