#include "tools/replace_file.h"

#include <cstdio>

namespace tools {

Replaced replace_file(const std::string& path, const void* data, std::size_t size) {
  const std::string tmp = temporary_of(path);
  std::FILE* f = std::fopen(tmp.c_str(), "wb");
  if (!f) return Replaced::kNotCreated;
  bool ok = size == 0 || std::fwrite(data, size, 1, f) == 1;
  ok = std::fclose(f) == 0 && ok;
  if (!ok || std::rename(tmp.c_str(), path.c_str()) != 0) {
    std::remove(tmp.c_str());
    return Replaced::kNotWritten;
  }
  return Replaced::kDone;
}

}  // namespace tools
