// The few file operations the module needs for the files it keeps (presets, configuration).
#pragma once

#include <string>
#include <string_view>

namespace kestrav::platform
{
// True when `path` names an existing file system entry.
bool FileExists(const std::string& path);

// Moves `from` to `to`; false when `to` already exists or the move fails.
bool MoveFileAside(const std::string& from, const std::string& to);

// Replaces the file at `path` with `bytes` so that it is either the old file or the whole new one,
// never a part: the bytes go to `path` + kReplacementSuffix in the same directory, are flushed to the
// disk and renamed over `path`. On failure the temporary file is removed and `path` is untouched.
bool ReplaceFileContents(const std::string& path, std::string_view bytes);

inline constexpr const char* kReplacementSuffix = ".tmp";
}
