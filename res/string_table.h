// The program's string table (res/strings.inc) for code that runs without the Windows
// resources: the command-line tool, the tests and the dialog logic.
#pragma once

#include <string_view>

namespace fwload {

// Text of string `id`, or an empty view when the table has no such entry.
std::string_view table_string(int id);

// Every entry of the table by name.
enum StringId : int {
#define STR(name, id, text) name = id,
#include "res/strings.inc"
#undef STR
};

}  // namespace fwload
