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

// Writes `size` bytes to `path` + ".tmp" and renames that over `path`, so that a reader finds the
// old file or the new one and never a part. On failure the temporary file is removed and `path`
// is left as it was.
Replaced replace_file(const std::string& path, const void* data, std::size_t size);

}  // namespace tools
