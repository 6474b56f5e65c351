// fwload-cli --json: objects built with nlohmann/json and printed as one compact line. Texts
// from a firmware file or a path go in through json_text, so that any bytes give valid JSON:
// well-formed UTF-8 (a path on Linux) passes through, any other byte above 0x7F (a firmware
// file's text) is taken as Latin-1.
#pragma once

#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

namespace fwload {

using Json = nlohmann::ordered_json;

// The length of the well-formed UTF-8 sequence at text[i] (2 to 4), or 0.
std::size_t utf8_sequence_length(std::string_view text, std::size_t i);
// `text` as UTF-8: well-formed sequences kept, other bytes above 0x7F read as Latin-1.
std::string json_text(std::string_view text);
// The value on one line of `out`; false when it could not be written.
bool print_json(std::FILE* out, const Json& value);

}  // namespace fwload
