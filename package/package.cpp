#include "package/package.h"

#include <cstring>

namespace package {

namespace {

bool version_terminated(const Record& r) {
  return std::memchr(r.version, 0, kVersionSize) != nullptr;
}

}  // namespace

bool is_present(const Record& r) {
  return r.image_length != 0 && r.presence != kPresenceEmpty && r.image_length <= kImageCapacity &&
         version_terminated(r);
}

const char* version_text(const Record& r) { return version_terminated(r) ? r.version : ""; }

std::uint32_t image_length(const Record& r) {
  return r.image_length <= kImageCapacity ? r.image_length : 0;
}

const std::uint8_t* image(const Record& r) { return r.image; }

Text log_tag(const Record& r) {
  const void* end = std::memchr(r.log_tag, 0, kLogTagSize);
  std::size_t n = end ? static_cast<std::size_t>(static_cast<const char*>(end) - r.log_tag) : kLogTagSize;
  return Text{r.log_tag, n};
}

}  // namespace package
