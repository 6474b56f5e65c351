#include "res/string_table.h"

#include <algorithm>
#include <iterator>

#include "res/version.h"

namespace fwload {
namespace {

struct Entry {
  int id;
  std::string_view text;
};

constexpr Entry kTable[] = {
#define STR(name, id, text) {id, text},
#include "res/strings.inc"
#undef STR
};

constexpr bool sorted_by_id() {
  for (std::size_t i = 1; i < std::size(kTable); ++i) {
    if (kTable[i - 1].id >= kTable[i].id) return false;
  }
  return true;
}
static_assert(sorted_by_id(), "strings.inc must list each id once, in ascending order");

}  // namespace

std::string_view table_string(int id) {
  const auto it = std::lower_bound(std::begin(kTable), std::end(kTable), id,
                                   [](const Entry& e, int value) { return e.id < value; });
  if (it == std::end(kTable) || it->id != id) return {};
  return it->text;
}

}  // namespace fwload
