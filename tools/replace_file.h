// How the tools write a file that others read: whole or not at all.
#pragma once

#include <cstddef>
#include <string>

namespace tools {

enum class Replaced {
  kDone,
  kNotCreated,  // the temporary file could not be created
  kNotWritten,  // it could not be written whole, or not renamed over `path`
};

// The temporary file replace_file() writes before it renames it over `path`.
inline std::string temporary_of(const std::string& path) { return path + ".tmp"; }

// Writes `size` bytes to temporary_of(path) and renames that over `path`, so that a reader finds the
// old file or the new one and never a part. On failure the temporary file is removed and `path`
// is left as it was.
Replaced replace_file(const std::string& path, const void* data, std::size_t size);

}  // namespace tools
