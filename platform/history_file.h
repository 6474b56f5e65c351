// The transfer history's file: where it is kept, and lines appended to it so that concurrent
// writers never interleave and a power cut loses at most the line being written.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace fwload {

// $XDG_STATE_HOME/fwload/transfers.jsonl (default ~/.local/state/fwload/) on Linux,
// %LOCALAPPDATA%\fwload\transfers.jsonl on Windows; empty when neither variable nor a home
// folder names a place.
std::string default_history_path();

// The longest line a history holds, its line end included: the writer keeps every record
// within it, a reader takes a longer line for a damaged one without holding it.
inline constexpr std::size_t kMaxHistoryLine = 64 * 1024;

// Appends `line` and a line end to `path` with one write (O_APPEND; on Windows a write at the
// end-of-file offset, which is one piece as FILE_APPEND_DATA's are), creating the file and its
// folder when missing; a file whose last line was cut short gets that line's end in the same
// write. A regular file is flushed to the disk (and its folder too when the file was just
// created) before it returns. False with the reason in `error` when the line could not be
// written whole.
bool append_line_durably(const std::string& path, std::string_view line, std::string* error);

// Whether `path` can be opened for appending (it is created when missing); the reason in
// `error` when not.
bool can_append(const std::string& path, std::string* error);

// Makes the folder `path` is in, with its parents; false with the reason in `error` when that
// is not possible (the same on every platform).
bool make_folder_of(const std::string& path, std::string* error);

// The computer's name and the user's, for the records.
std::string host_name();
std::string user_name();

}  // namespace fwload
