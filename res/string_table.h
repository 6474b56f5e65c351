// The program's string table (res/strings.inc) for code that runs without the Windows
// resources: the command-line tool, the tests and the dialog logic.
#pragma once

#include <string_view>

namespace fwload {

// Text of string `id`, or an empty view when the table has no such entry.
std::string_view table_string(int id);

// Ids of the strings the code refers to by number.
enum StringId : int {
  kStrVersionMajor = 1,
  kStrVersionMinor = 2,
  kStrVersionDate = 3,
  kStrProcessing = 4,
  kStrCompleted = 5,
  kStrFailed = 6,
  kStrCanceled = 7,
  kStrNowWriting = 8,
  kStrSec = 9,
  kStrOpenFileCaption = 10,
  kStrWriteFileCaption = 11,
  kStrTransFileCaption = 12,
  kStrOptionOn = 73,
  kStrNone = 80,
  kStrNotOpenFile = 81,
};

}  // namespace fwload
