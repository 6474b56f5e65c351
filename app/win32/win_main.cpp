// fwload.exe: the dialog program.
#include <windows.h>

#include "app/win32/win32_dialogs.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR command_line, int) {
  fwload::win32::Program program(instance);
  return program.run(command_line != nullptr ? command_line : "");
}
