// fwload_driver.exe: drives fwload.exe from outside, as a user would, for the end-to-end
// tests under Wine. It reads a script (one command per line) and prints a transcript.
//
//   start EXE [ARGS]     start EXE with the rest of the line as its command line
//   wait-window          wait for the main window
//   window TITLE         make the top-level window TITLE of the program the target (waits)
//   main                 make the main window the target again
//   text ID              print the text of control ID of the target
//   wait-text ID TEXT    wait until the text of control ID begins with TEXT (or with one of
//                        several texts separated by "|")
//   enabled ID...        print whether the controls are enabled
//   wait-enabled ID      wait until control ID of the target is enabled (a command from a
//                        disabled control is ignored: the program is busy)
//   visible ID...        print whether the controls are visible
//   checked ID...        print whether the buttons are checked
//   command ID           post WM_COMMAND ID to the target
//   click ID             click the button ID of the target
//   check ID 0|1         set the check state of button ID
//   select ID INDEX      select entry INDEX of the drop-down list ID
//   set-text ID TEXT     put TEXT into control ID (a text box)
//   open-file PATH       wait for the open or save dialog, enter PATH, confirm
//   cancel-file          wait for the open or save dialog, cancel it
//   box                  wait until a message box has been recorded since the last "box"
//   sleep MS             wait MS milliseconds (message boxes are still recorded)
//   shot FILE.bmp        save a picture of the target window
//   wait-exit            wait for the program to end and print its exit code
//   elapsed              print the milliseconds since the last "start"
//   repaint              make the target window repaint itself at once
//   file-dialogs         print how many open or save dialogs the program shows
//   render EXE NAME FILE.bmp   show dialog template NAME of EXE's resources and save its picture
//
// Every message box the program shows is printed as "box: CAPTION: TEXT" when it appears and
// dismissed. A wait that times out prints "timeout: ..." and ends the driver with status 3.
// FWLOAD_TIME_FACTOR=N (a whole number) makes every wait and sleep N times as long, for a slow
// machine (a guest under software emulation).
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr DWORD kWaitMs = 30000;
constexpr char kMainTitle[] = "ORVEL HIGH VISION Scanner Downloader";

PROCESS_INFORMATION g_process{};
HWND g_main = nullptr;
HWND g_target = nullptr;
LARGE_INTEGER g_started{};
int g_boxes_seen = 0;
int g_boxes_claimed = 0;

void say(const std::string& line) {
  std::fputs(line.c_str(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

std::string escape(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else {
      out += c;
    }
  }
  return out;
}

std::string window_text(HWND window) {
  char buffer[1024] = {};
  DWORD_PTR result = 0;
  if (!SendMessageTimeoutA(window, WM_GETTEXT, sizeof buffer, reinterpret_cast<LPARAM>(buffer),
                           SMTO_ABORTIFHUNG, 5000, &result)) {
    return "<no answer>";
  }
  buffer[sizeof buffer - 1] = '\0';
  return buffer;
}

std::string class_name(HWND window) {
  char buffer[64] = {};
  GetClassNameA(window, buffer, sizeof buffer);
  return buffer;
}

BOOL CALLBACK collect_window(HWND window, LPARAM param) {
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  if (pid == g_process.dwProcessId && IsWindowVisible(window)) {
    reinterpret_cast<std::vector<HWND>*>(param)->push_back(window);
  }
  return TRUE;
}

std::vector<HWND> program_windows() {
  std::vector<HWND> found;
  EnumWindows(collect_window, reinterpret_cast<LPARAM>(&found));
  return found;
}

bool is_message_box(HWND window) {
  if (class_name(window) != "#32770") return false;
  HWND text = GetDlgItem(window, 100);
  if (text == nullptr) text = GetDlgItem(window, 0xFFFF);
  const bool has_icon = GetDlgItem(window, 1088) != nullptr || GetDlgItem(window, 0x14) != nullptr;
  return text != nullptr && has_icon && window_text(window) != kMainTitle;
}

bool is_file_dialog(HWND window) {
  return class_name(window) == "#32770" &&
         (GetDlgItem(window, 1148) != nullptr || GetDlgItem(window, 1152) != nullptr);
}

// Records and dismisses every message box on screen.
void sweep_boxes() {
  for (HWND window : program_windows()) {
    if (!is_message_box(window)) continue;
    HWND text = GetDlgItem(window, 100);
    if (text == nullptr) text = GetDlgItem(window, 0xFFFF);
    say("box: " + window_text(window) + ": " + escape(window_text(text)));
    ++g_boxes_seen;
    const int button = GetDlgItem(window, IDOK) != nullptr ? IDOK : IDYES;
    PostMessageA(window, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(window, button)));
    // Wait until it is gone, so that it is not recorded twice.
    for (int i = 0; i < 250 && IsWindow(window) && IsWindowVisible(window); ++i) Sleep(20);
  }
}

[[noreturn]] void fail(const std::string& what) {
  say("timeout: " + what);
  if (g_process.hProcess != nullptr) {
    TerminateProcess(g_process.hProcess, 99);
    say("killed");
  }
  std::exit(3);
}

// FWLOAD_TIME_FACTOR, 1 when it is not set.
DWORD time_factor() {
  char value[16] = {};
  const DWORD n = GetEnvironmentVariableA("FWLOAD_TIME_FACTOR", value, sizeof value);
  const int factor = n > 0 && n < sizeof value ? std::atoi(value) : 1;
  return factor >= 1 && factor <= 100 ? static_cast<DWORD>(factor) : 1;
}
const DWORD g_factor = time_factor();
DWORD g_wait_ms = kWaitMs * g_factor;  // "timeout MS" changes it for the waits that follow

// Waits until `done` holds, recording message boxes meanwhile.
template <typename Done>
void wait_for(const std::string& what, Done done, DWORD timeout = 0) {
  if (timeout == 0) timeout = g_wait_ms;
  const DWORD start = GetTickCount();
  for (;;) {
    sweep_boxes();
    if (done()) return;
    if (GetTickCount() - start > timeout) fail(what);
    Sleep(5);
  }
}

HWND find_window(const std::string& title) {
  for (HWND window : program_windows()) {
    if (window_text(window) == title && !is_message_box(window)) return window;
  }
  return nullptr;
}

HWND control(int id) {
  HWND window = GetDlgItem(g_target, id);
  if (window == nullptr) say("no control " + std::to_string(id));
  return window;
}

void save_bitmap(HWND window, const std::string& path) {
  RECT rect;
  GetWindowRect(window, &rect);
  const int width = rect.right - rect.left, height = rect.bottom - rect.top;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
  SelectObject(memory, old);
  const DWORD row = static_cast<DWORD>((width * 3 + 3) & ~3);
  BITMAPFILEHEADER file{};
  file.bfType = 0x4D42;
  file.bfOffBits = sizeof file + sizeof info.bmiHeader;
  file.bfSize = file.bfOffBits + row * static_cast<DWORD>(height);
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(&file), sizeof file);
  out.write(reinterpret_cast<const char*>(&info.bmiHeader), sizeof info.bmiHeader);
  out.write(static_cast<const char*>(bits), static_cast<std::streamsize>(row * height));
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  say(out ? "shot: " + path : "shot failed: " + path);
}

INT_PTR CALLBACK quiet_dialog_proc(HWND, UINT message, WPARAM, LPARAM) {
  return message == WM_INITDIALOG ? TRUE : FALSE;
}

void run(const std::string& line) {
  std::istringstream in(line);
  std::string verb;
  in >> verb;
  std::string rest;
  std::getline(in, rest);
  if (!rest.empty() && rest[0] == ' ') rest.erase(0, 1);
  auto ids = [&]() {
    std::vector<int> list;
    std::istringstream s(rest);
    int id;
    while (s >> id) list.push_back(id);
    return list;
  };

  if (verb.empty() || verb[0] == '#') return;
  if (verb == "start") {
    std::string exe = rest.substr(0, rest.find(' '));
    std::string command_line = "\"" + exe + "\"" + rest.substr(exe.size());
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    std::vector<char> buffer(command_line.begin(), command_line.end());
    buffer.push_back('\0');
    if (!CreateProcessA(exe.c_str(), buffer.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &g_process)) {
      say("start failed: " + exe);
      std::exit(3);
    }
    QueryPerformanceCounter(&g_started);
    say("started");
  } else if (verb == "wait-window") {
    wait_for("main window", [] { return (g_main = find_window(kMainTitle)) != nullptr; });
    g_target = g_main;
    say("window");
  } else if (verb == "window") {
    wait_for("window " + rest, [&] { return (g_target = find_window(rest)) != nullptr; });
    say("window: " + rest);
  } else if (verb == "main") {
    g_target = g_main;
  } else if (verb == "text") {
    for (int id : ids()) {
      if (HWND c = control(id)) say("text " + std::to_string(id) + ": " + escape(window_text(c)));
    }
  } else if (verb == "wait-text") {
    const int id = std::atoi(rest.c_str());
    std::vector<std::string> prefixes;
    std::istringstream alternatives(rest.substr(rest.find(' ') + 1));
    for (std::string p; std::getline(alternatives, p, '|');) prefixes.push_back(p);
    wait_for("text " + rest, [&] {
      HWND c = GetDlgItem(g_target, id);
      if (c == nullptr) return false;
      const std::string text = window_text(c);
      for (const std::string& p : prefixes) {
        if (text.rfind(p, 0) == 0) return true;
      }
      return false;
    });
    say("text " + std::to_string(id) + ": " + escape(window_text(GetDlgItem(g_target, id))));
  } else if (verb == "enabled" || verb == "visible" || verb == "checked") {
    for (int id : ids()) {
      HWND c = control(id);
      if (c == nullptr) continue;
      const bool on = verb == "enabled"   ? IsWindowEnabled(c) != FALSE
                      : verb == "visible" ? (GetWindowLongA(c, GWL_STYLE) & WS_VISIBLE) != 0
                                          : SendMessageA(c, BM_GETCHECK, 0, 0) == BST_CHECKED;
      say(verb + " " + std::to_string(id) + ": " + (on ? "1" : "0"));
    }
  } else if (verb == "wait-enabled") {
    const int id = std::atoi(rest.c_str());
    wait_for("enabled " + rest, [&] {
      HWND c = control(id);
      return c != nullptr && IsWindowEnabled(c) != FALSE;
    });
  } else if (verb == "command") {
    const int id = std::atoi(rest.c_str());
    PostMessageA(g_target, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(g_target, id)));
  } else if (verb == "click") {
    if (HWND c = control(std::atoi(rest.c_str()))) PostMessageA(c, BM_CLICK, 0, 0);
  } else if (verb == "check") {
    const std::vector<int> v = ids();
    if (HWND c = control(v.at(0))) {
      SendMessageA(c, BM_SETCHECK, v.at(1) ? BST_CHECKED : BST_UNCHECKED, 0);
    }
  } else if (verb == "set-text") {
    const int id = std::atoi(rest.c_str());
    const std::size_t space = rest.find(' ');
    const std::string text = space == std::string::npos ? std::string() : rest.substr(space + 1);
    if (HWND c = control(id))
      SendMessageA(c, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
  } else if (verb == "select") {
    const std::vector<int> v = ids();
    if (HWND c = control(v.at(0))) SendMessageA(c, CB_SETCURSEL, static_cast<WPARAM>(v.at(1)), 0);
  } else if (verb == "open-file" || verb == "cancel-file") {
    HWND dialog = nullptr;
    wait_for("file dialog", [&] {
      for (HWND w : program_windows()) {
        if (is_file_dialog(w)) dialog = w;
      }
      return dialog != nullptr;
    });
    say("file dialog: " + window_text(dialog));
    if (verb == "open-file") {
      HWND name = GetDlgItem(dialog, 1148);
      if (name == nullptr) name = GetDlgItem(dialog, 1152);
      SendMessageA(name, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(rest.c_str()));
      PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                   reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDOK)));
    } else {
      PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                   reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDCANCEL)));
    }
    wait_for("file dialog to close", [&] { return !IsWindow(dialog) || !IsWindowVisible(dialog); });
  } else if (verb == "box") {
    wait_for("message box", [] { return g_boxes_seen > g_boxes_claimed; });
    ++g_boxes_claimed;
  } else if (verb == "timeout") {
    g_wait_ms = static_cast<DWORD>(std::atoi(rest.c_str())) * g_factor;
  } else if (verb == "sleep") {
    const DWORD ms = static_cast<DWORD>(std::atoi(rest.c_str())) * g_factor;
    const DWORD start = GetTickCount();
    wait_for(
        "sleep", [&] { return GetTickCount() - start >= ms; }, ms + 1000);
  } else if (verb == "shot") {
    save_bitmap(g_target, rest);
  } else if (verb == "elapsed") {
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    const double ms = 1000.0 * static_cast<double>(now.QuadPart - g_started.QuadPart) /
                      static_cast<double>(frequency.QuadPart);
    char text[64];
    std::snprintf(text, sizeof text, "elapsed: %.1f ms", ms);
    say(text);
  } else if (verb == "repaint") {
    RedrawWindow(g_target, nullptr, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
  } else if (verb == "file-dialogs") {
    int count = 0;
    for (HWND w : program_windows()) count += is_file_dialog(w);
    say("file dialogs: " + std::to_string(count));
  } else if (verb == "render") {
    std::istringstream words(rest);
    std::string exe, name, file;
    words >> exe >> name >> file;
    HMODULE module = LoadLibraryExA(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    HWND dialog = module == nullptr
                      ? nullptr
                      : CreateDialogParamA(module, name.c_str(), nullptr, quiet_dialog_proc, 0);
    if (dialog == nullptr) {
      say("render failed: " + name);
    } else {
      ShowWindow(dialog, SW_SHOW);
      const DWORD start = GetTickCount();
      MSG msg;
      while (GetTickCount() - start < 500) {
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
        Sleep(10);
      }
      save_bitmap(dialog, file);
      DestroyWindow(dialog);
    }
    if (module != nullptr) FreeLibrary(module);
  } else if (verb == "wait-exit") {
    wait_for("exit", [] { return WaitForSingleObject(g_process.hProcess, 0) == WAIT_OBJECT_0; });
    DWORD code = 0;
    GetExitCodeProcess(g_process.hProcess, &code);
    say("exit: " + std::to_string(code));
    CloseHandle(g_process.hProcess);
    CloseHandle(g_process.hThread);
    g_process = {};
  } else {
    say("unknown command: " + line);
    std::exit(2);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: fwload_driver SCRIPT\n", stderr);
    return 2;
  }
  std::ifstream script(argv[1]);
  if (!script) {
    std::fprintf(stderr, "fwload_driver: cannot read %s\n", argv[1]);
    return 2;
  }
  std::string line;
  while (std::getline(script, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    run(line);
  }
  // A program still running at the end of a script is ended, so no test leaves it behind.
  if (g_process.hProcess != nullptr &&
      WaitForSingleObject(g_process.hProcess, 0) != WAIT_OBJECT_0) {
    TerminateProcess(g_process.hProcess, 99);
    say("killed");
  }
  return 0;
}
