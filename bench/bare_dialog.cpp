// The floor of bench/gui_open: a program that shows the same MAINBOX template with a dialog
// procedure that does nothing (it only lets the window close), so that its start-up is what
// Windows (or Wine) takes to bring up a dialog program, and nothing of fwload's.
#include <windows.h>

namespace {

INT_PTR CALLBACK bare_dialog(HWND dialog, UINT message, WPARAM wparam, LPARAM) {
  if (message == WM_COMMAND && LOWORD(wparam) == IDCANCEL) {
    EndDialog(dialog, 0);
    return TRUE;
  }
  return FALSE;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  return static_cast<int>(DialogBoxParamA(instance, "MAINBOX", nullptr, bare_dialog, 0));
}
