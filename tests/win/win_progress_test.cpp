// The main window's progress bar as Windows paints it: every call paints, so a 0 % after a
// cancelled operation whitens a bar that something else has drawn over.
#include <gtest/gtest.h>
#include <windows.h>

#include "app/win32/win32_dialogs.h"
#include "res/resource.h"

namespace fwload::win32 {
namespace {

INT_PTR CALLBACK quiet_dialog(HWND, UINT, WPARAM, LPARAM) {
  return FALSE;
}

COLORREF centre_pixel(HWND control) {
  RECT r;
  GetClientRect(control, &r);
  HDC dc = GetDC(control);
  const COLORREF colour = GetPixel(dc, (r.left + r.right) / 2, (r.top + r.bottom) / 2);
  ReleaseDC(control, dc);
  return colour;
}

TEST(Win32Progress, EveryCallPaintsTheBar) {
  HINSTANCE instance = GetModuleHandleA(nullptr);
  Program program(instance);
  HWND dialog = CreateDialogParamA(instance, "MAINBOX", nullptr, quiet_dialog, 0);
  ASSERT_NE(dialog, nullptr);
  ShowWindow(dialog, SW_SHOW);
  UpdateWindow(dialog);
  program.window.attach(dialog);
  HWND bar = GetDlgItem(dialog, IDC_PROGRESS);
  ASSERT_NE(bar, nullptr);

  for (int percent : {0, 100}) {
    program.window.progress(percent);
    RECT r;
    GetClientRect(bar, &r);
    HDC dc = GetDC(bar);
    FillRect(dc, &r, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
    ReleaseDC(bar, dc);
    ASSERT_EQ(centre_pixel(bar), RGB(0, 0, 0));
    // The same percentage again: the bar is painted anew.
    program.window.progress(percent);
    EXPECT_EQ(centre_pixel(bar), percent == 0 ? RGB(255, 255, 255) : RGB(60, 90, 200))
        << percent;
  }
  DestroyWindow(dialog);
}

}  // namespace
}  // namespace fwload::win32
