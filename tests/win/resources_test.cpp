// The program's resources as compiled into a Windows module: the dialog templates control by
// control, the string table, the icons and the version record. Run under Wine.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "res/resource.h"
#include "res/string_table.h"

namespace fwload {
namespace {

enum class Kind {
  Push,
  DefPush,
  Group,
  Radio,
  DropList,
  Left,
  Right,
  Frame,
  Icon,
  Edit,
  ReadOnlyEdit
};

struct Control {
  int id;
  Kind kind;
  std::string text;
  bool visible;
  bool enabled = true;
};

struct Template {
  std::string title;
  int point_size = 0;
  std::string font;
  short x = 0, y = 0, cx = 0, cy = 0;
  std::vector<Control> controls;
};

// Reads a DLGTEMPLATE resource.
class Reader {
 public:
  explicit Reader(const BYTE* data) : p_(data), start_(data) {}
  WORD word() {
    WORD w;
    std::memcpy(&w, p_, 2);
    p_ += 2;
    return w;
  }
  DWORD dword() {
    DWORD d;
    std::memcpy(&d, p_, 4);
    p_ += 4;
    return d;
  }
  // A string or an ordinal; an ordinal reads as "#n".
  std::string name() {
    WORD first = word();
    if (first == 0xFFFF) return "#" + std::to_string(word());
    std::string s;
    while (first != 0) {
      s += static_cast<char>(first);
      first = word();
    }
    return s;
  }
  void align() {
    while ((p_ - start_) % 4 != 0) ++p_;
  }
  void skip(std::size_t n) { p_ += n; }

 private:
  const BYTE* p_;
  const BYTE* start_;
};

// Window classes by atom or by name, as the resource compiler wrote them.
bool is_class(const std::string& cls, const char* atom, const char* name) {
  return cls == atom || lstrcmpiA(cls.c_str(), name) == 0;
}

Kind kind_of(const std::string& cls, DWORD style) {
  if (is_class(cls, "#128", "Button")) {  // Button
    switch (style & 0x0F) {
      case BS_DEFPUSHBUTTON:
        return Kind::DefPush;
      case BS_GROUPBOX:
        return Kind::Group;
      case BS_AUTORADIOBUTTON:
        return Kind::Radio;
      default:
        return Kind::Push;
    }
  }
  if (is_class(cls, "#129", "Edit")) return (style & ES_READONLY) ? Kind::ReadOnlyEdit : Kind::Edit;
  if (is_class(cls, "#133", "ComboBox")) return Kind::DropList;
  if (is_class(cls, "#130", "Static")) {
    switch (style & SS_TYPEMASK) {
      case SS_RIGHT:
        return Kind::Right;
      case SS_ICON:
        return Kind::Icon;
      case SS_BLACKFRAME:
        return Kind::Frame;
      default:
        return Kind::Left;
    }
  }
  return Kind::Push;
}

Template load_template(const char* name) {
  HRSRC found = FindResourceA(nullptr, name, MAKEINTRESOURCEA(5));  // RT_DIALOG
  EXPECT_NE(found, nullptr) << name;
  Template t;
  if (found == nullptr) return t;
  Reader r(static_cast<const BYTE*>(LockResource(LoadResource(nullptr, found))));
  const DWORD style = r.dword();
  r.dword();
  const WORD count = r.word();
  t.x = static_cast<short>(r.word());
  t.y = static_cast<short>(r.word());
  t.cx = static_cast<short>(r.word());
  t.cy = static_cast<short>(r.word());
  r.name();  // menu
  r.name();  // class
  t.title = r.name();
  if (style & DS_SETFONT) {
    t.point_size = r.word();
    t.font = r.name();
  }
  for (WORD i = 0; i < count; ++i) {
    r.align();
    const DWORD item_style = r.dword();
    r.dword();
    r.skip(8);
    const int id = static_cast<short>(r.word());
    const std::string cls = r.name();
    const std::string text = r.name();
    r.skip(r.word());
    t.controls.push_back({id, kind_of(cls, item_style), text, (item_style & WS_VISIBLE) != 0,
                          (item_style & WS_DISABLED) == 0});
  }
  return t;
}

// Compares the template's controls that have an id with the expected table.
void expect_controls(const Template& t, const std::vector<Control>& expected) {
  for (const Control& e : expected) {
    bool found = false;
    for (const Control& c : t.controls) {
      if (c.id != e.id || c.text != e.text) continue;
      found = true;
      EXPECT_EQ(static_cast<int>(c.kind), static_cast<int>(e.kind)) << t.title << " " << e.id;
      EXPECT_EQ(c.visible, e.visible) << t.title << " " << e.id;
      EXPECT_EQ(c.enabled, e.enabled) << t.title << " " << e.id;
    }
    EXPECT_TRUE(found) << t.title << ": no control " << e.id << " \"" << e.text << "\"";
  }
}

bool has_text(const Template& t, const std::string& text) {
  for (const Control& c : t.controls) {
    if (c.text == text) return true;
  }
  return false;
}

TEST(Resources, MainBox) {
  const Template t = load_template("MAINBOX");
  EXPECT_EQ(t.title, "ORVEL HIGH VISION Scanner Downloader");
  EXPECT_EQ(t.font, "Arial");
  EXPECT_EQ(t.point_size, 10);
  EXPECT_EQ(t.x, 50);
  EXPECT_EQ(t.y, 50);
  EXPECT_EQ(t.cx, 207);
  EXPECT_EQ(t.cy, 119);
  expect_controls(t, {
                         {IDC_OPEN_FILE, Kind::DefPush, "Open File...", true},
                         {IDC_WRITE_FILE, Kind::Push, "Write File...", false},
                         {IDC_TRANSFER, Kind::Push, "Transfer File", true},
                         {IDC_ABOUT, Kind::Push, "About...", true},
                         {IDC_COMMAND, Kind::Push, "Command...", false},
                         {IDCANCEL, Kind::Push, "Cancel", true},
                         {IDC_OPTION_SWITCH, Kind::Push, "&O", false, false},
                         {IDC_EIGHT, Kind::Push, "&8", false, false},
                         {IDC_MODE_GROUP, Kind::Group, "Transfer Mode", false},
                         {IDC_USE_SCSI, Kind::Radio, "Use SCSI I/F", false},
                         {IDC_USE_SERIAL, Kind::Radio, "Use Serial I/F", false},
                         {IDC_PORT_LIST, Kind::DropList, "", false},
                         {IDC_IMPRINTER_GROUP, Kind::Group, "Imprinter", true},
                         {IDC_PRE, Kind::Radio, "Pre", true},
                         {IDC_POST, Kind::Radio, "Post", true},
                         {IDC_FILE_NAME_LABEL, Kind::Right, "File Name : ", true},
                         {IDC_FILE_NAME, Kind::Left, "", true},
                         {IDC_STATUS_CAPTION, Kind::Right, "", true},
                         {IDC_STATUS_TEXT, Kind::Left, "", true},
                         {IDC_PROGRESS, Kind::Frame, "", true},
                         {IDC_OPTION_TEXT, Kind::Right, "", true},
                         {IDC_ICON_MM40, Kind::Icon, "MM40ICON", false},
                         {IDC_ICON_MM73, Kind::Icon, "MM73ICON", false},
                         {IDC_ICON_M3160, Kind::Icon, "M3160ICON", true},
                         {IDC_ICON_M7180, Kind::Icon, "M7180ICON", true},
                     });
  EXPECT_EQ(t.controls.size(), 25u);
}

TEST(Resources, AboutBox) {
  const Template t = load_template("ABOUTBOX");
  EXPECT_EQ(t.title, "About");
  EXPECT_EQ(t.font, "Arial");
  EXPECT_EQ(t.point_size, 9);
  EXPECT_EQ(t.cx, 191);
  EXPECT_EQ(t.cy, 241);
  const std::string unknown = "I don't know.";
  expect_controls(t, {
                         {IDC_ABOUT_VERSION, Kind::Left, unknown, true},
                         {IDC_ABOUT_VERSION_INFO, Kind::Left, unknown, true},
                         {IDC_ABOUT_SCANNER_NAME, Kind::Left, unknown, true},
                         {IDC_ABOUT_UNIT_NAME, Kind::Left, unknown, true},
                         {IDC_ABOUT_FILE_VERSION, Kind::Left, unknown, true},
                         {IDC_ABOUT_VENDOR, Kind::Left, unknown, true},
                         {IDC_ABOUT_PRODUCT, Kind::Left, unknown, true},
                         {IDC_ABOUT_VERSION1, Kind::Left, unknown, true},
                         {IDC_ABOUT_VERSION2, Kind::Left, unknown, true},
                         {IDC_ABOUT_VERSION3, Kind::Left, unknown, true},
                         {IDC_ABOUT_VERSION4, Kind::Left, unknown, true},
                         {IDC_ABOUT_HOST, Kind::Left, unknown, true},
                         {IDC_ABOUT_TARGET, Kind::Left, unknown, true},
                         {IDC_ABOUT_VENDOR_LABEL, Kind::Right, "Vendor ID :", true},
                         {IDC_ABOUT_VERSION1_LABEL, Kind::Right, "Version1 :", true},
                         {IDC_ABOUT_VERSION2_LABEL, Kind::Right, "Version2 :", true},
                         {IDC_ABOUT_VERSION3_LABEL, Kind::Right, "Version3 :", true},
                         {IDC_ABOUT_VERSION4_LABEL, Kind::Right, "Version4 :", true},
                         {IDC_ABOUT_HOST_LABEL, Kind::Right, "Current SCSI Host ID :", true},
                         {IDC_ABOUT_TARGET_LABEL, Kind::Right, "Current SCSI Target ID :", true},
                         {IDC_ABOUT_ICON_MM73, Kind::Icon, "MM73ICON", false},
                         {IDC_ABOUT_ICON_M3160, Kind::Icon, "M3160ICON", true},
                         {IDC_ABOUT_ICON_M7180, Kind::Icon, "M7180ICON", true},
                         {IDOK, Kind::DefPush, "OK", true},
                     });
  for (const char* text :
       {"About Download Program", "About Open File", "About Scanner", "About Host",
        "Version Number :", "Version Information :", "Scanner Name :", "Unit Name :",
        "File Version :", "Products ID :", "ORVEL HIGH VISION Scanner"}) {
    EXPECT_TRUE(has_text(t, text)) << text;
  }
  bool hidden_1012 = false;
  for (const Control& c : t.controls) hidden_1012 |= c.id == IDC_ABOUT_ICON_MM40 && !c.visible;
  EXPECT_TRUE(hidden_1012);
}

TEST(Resources, CommandBoxes) {
  const Template plain = load_template("TESTBOX-NoSerial");
  EXPECT_EQ(plain.title, "Test Command");
  EXPECT_EQ(plain.cx, 74);
  EXPECT_EQ(plain.cy, 99);
  const std::vector<Control> set_default = {
      {IDC_SET_US, Kind::Push, "US", true},
      {IDC_SET_EUROPE, Kind::Push, "Europe", true},
      {IDC_SET_JAPAN, Kind::Push, "Japan", true},
      {IDOK, Kind::DefPush, "Close", true},
  };
  expect_controls(plain, set_default);
  EXPECT_TRUE(has_text(plain, "Set Default"));
  EXPECT_EQ(plain.controls.size(), 5u);

  const Template serial = load_template("TESTBOX-Serial");
  EXPECT_EQ(serial.title, "Command");
  EXPECT_EQ(serial.cx, 169);
  EXPECT_EQ(serial.cy, 100);
  expect_controls(serial, set_default);
  expect_controls(serial, {
                              {IDC_SERIAL_CURRENT, Kind::ReadOnlyEdit, "", true},
                              {IDC_SERIAL_NEW, Kind::Edit, "", true},
                              {IDC_SERIAL_WRITE, Kind::Push, "Write", true},
                          });
  EXPECT_TRUE(has_text(serial, "Write Serial No"));
}

TEST(Resources, StringTableMatchesTheSource) {
  int count = 0, expected_count = 0;
  for (int id = 0; id < 200; ++id) {
    char buffer[256] = {};
    const int n =
        LoadStringA(GetModuleHandleA(nullptr), static_cast<UINT>(id), buffer, sizeof buffer);
    const std::string_view expected = table_string(id);
    EXPECT_EQ(std::string(buffer, n > 0 ? static_cast<std::size_t>(n) : 0), expected) << id;
    count += n > 0;
    expected_count += !expected.empty();
  }
  EXPECT_EQ(count, expected_count);
  EXPECT_GT(count, 80);
  // The texts with a quote and with a line break survive the resource compiler.
  char buffer[256] = {};
  LoadStringA(GetModuleHandleA(nullptr), 57, buffer, sizeof buffer);
  EXPECT_STREQ(buffer, "The same \"Name\" has already existed ! ");
  LoadStringA(GetModuleHandleA(nullptr), 53, buffer, sizeof buffer);
  EXPECT_STREQ(buffer, "Microcode downloading and saveing was failed. \nPlease change board.");
}

TEST(Resources, IconsAndVersion) {
  EXPECT_NE(LoadIconA(GetModuleHandleA(nullptr), "M3160ICON"), nullptr);
  EXPECT_NE(LoadIconA(GetModuleHandleA(nullptr), "M7180ICON"), nullptr);
  EXPECT_EQ(FindResourceA(nullptr, "MM40ICON", MAKEINTRESOURCEA(14)), nullptr);
  EXPECT_EQ(FindResourceA(nullptr, "MM73ICON", MAKEINTRESOURCEA(14)), nullptr);

  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, sizeof path);
  DWORD handle = 0;
  const DWORD size = GetFileVersionInfoSizeA(path, &handle);
  ASSERT_GT(size, 0u);
  std::vector<char> info(size);
  ASSERT_TRUE(GetFileVersionInfoA(path, 0, size, info.data()));
  char* value = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueA(info.data(), "\\StringFileInfo\\040904b0\\FileVersion",
                             reinterpret_cast<void**>(&value), &length));
  EXPECT_STREQ(value, "5.00");
  VS_FIXEDFILEINFO* fixed = nullptr;
  ASSERT_TRUE(VerQueryValueA(info.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
  EXPECT_EQ(HIWORD(fixed->dwFileVersionMS), 5);
  EXPECT_EQ(LOWORD(fixed->dwFileVersionMS), 0);
}

INT_PTR CALLBACK quiet_proc(HWND, UINT message, WPARAM, LPARAM) {
  return message == WM_INITDIALOG ? TRUE : FALSE;
}

// Every template makes a window; hidden controls exist but are not visible, and the icon
// controls whose images are absent are created all the same.
TEST(Resources, TemplatesCreateTheirControls) {
  for (const char* name : {"MAINBOX", "ABOUTBOX", "TESTBOX-NoSerial", "TESTBOX-Serial"}) {
    HWND dialog = CreateDialogParamA(GetModuleHandleA(nullptr), name, nullptr, quiet_proc, 0);
    ASSERT_NE(dialog, nullptr) << name;
    for (const Control& c : load_template(name).controls) {
      if (c.id == -1) continue;
      HWND control = GetDlgItem(dialog, c.id);
      ASSERT_NE(control, nullptr) << name << " " << c.id;
      EXPECT_EQ((GetWindowLongA(control, GWL_STYLE) & WS_VISIBLE) != 0, c.visible)
          << name << " " << c.id;
    }
    DestroyWindow(dialog);
  }
}

// Each program's application manifest (RT_MANIFEST, id 1): system DPI awareness and Windows
// Vista to 10 as its supported systems, no version-6 common controls, and no execution level
// (comments aside, which say why).
TEST(Resources, ApplicationManifests) {
  for (const char* program : {FWLOAD_DIALOG_EXE, FWLOAD_CLI_EXE}) {
    HMODULE module = LoadLibraryExA(program, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(module, nullptr) << program;
    HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));
    ASSERT_NE(found, nullptr) << program;
    const auto* bytes = static_cast<const char*>(LockResource(LoadResource(module, found)));
    std::string xml(bytes, SizeofResource(module, found));
    FreeLibrary(module);
    for (std::size_t open = xml.find("<!--"); open != std::string::npos; open = xml.find("<!--")) {
      const std::size_t close = xml.find("-->", open);
      ASSERT_NE(close, std::string::npos) << program;
      xml.erase(open, close + 3 - open);
    }
    EXPECT_NE(xml.find("<dpiAware xmlns=\"http://schemas.microsoft.com/SMI/2005/WindowsSettings\">"
                       "true</dpiAware>"),
              std::string::npos)
        << program;
    for (const char* os : {"e2011457-1546-43c5-a5fe-008deee3d3f0",     // Vista
                           "35138b9a-5d96-4fbd-8e2d-a2440225f93a",     // 7
                           "4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38",     // 8
                           "1f676c76-80e1-4239-95bb-83d0f6d0da78",     // 8.1
                           "8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a"}) {  // 10 and 11
      EXPECT_NE(xml.find(std::string("<supportedOS Id=\"{") + os + "}\"/>"), std::string::npos)
          << program << " " << os;
    }
    for (const char* absent : {"requestedExecutionLevel", "trustInfo", "Common-Controls"}) {
      EXPECT_EQ(xml.find(absent), std::string::npos) << program << " " << absent;
    }
  }
}

}  // namespace
}  // namespace fwload
