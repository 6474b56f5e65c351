// Writes the committed seeds of fuzz_spti_inquiry (fuzz/corpus/fuzz_spti_inquiry/) with the
// tests' inquiry-reply builder: ports with one or several buses, claimed devices, empty buses.
// Usage: spti_inquiry_seeds DIR
#include <cstdio>
#include <string>
#include <vector>

#include "tests/common/inquiry_reply.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: spti_inquiry_seeds DIR\n");
    return 2;
  }
  using fwload::test::FakeUnit;
  const std::vector<std::pair<std::string, std::vector<std::vector<FakeUnit>>>> seeds = {
      {"one-scanner", {{{3, false, "HV Scanner 3600"}}}},
      {"claimed-disk", {{{0, true, "Disk"}, {3, false, "HV Scanner 3600"}}}},
      {"two-buses", {{{3, false, "HV Scanner 3600"}}, {{5, false, "HV Scanner 2600"}}}},
      {"empty-bus", {{}, {{1, false, "TR-M3160"}}}},
      {"full-bus",
       {{{0, false, "A"},
         {1, false, "B"},
         {2, false, "C"},
         {3, false, "D"},
         {4, false, "E"},
         {5, false, "F"},
         {6, false, "G"},
         {7, false, "H"}}}},
  };
  for (const auto& [name, buses] : seeds) {
    const std::vector<std::uint8_t> reply = fwload::test::inquiry_reply(buses);
    const std::string path = std::string(argv[1]) + "/" + name;
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr || std::fwrite(reply.data(), 1, reply.size(), f) != reply.size() ||
        std::fclose(f) != 0) {
      std::fprintf(stderr, "spti_inquiry_seeds: cannot write %s\n", path.c_str());
      return 1;
    }
  }
  return 0;
}
