#include "ui/settings.h"

#include <cstring>

namespace ui {

namespace {

void copy_text(const char* src, char* dst, std::size_t cap) {
  if (cap == 0) return;
  std::size_t n = std::strlen(src);
  if (n > cap - 1) n = cap - 1;
  std::memcpy(dst, src, n);
  dst[n] = '\0';
}

}  // namespace

// The per-user value comes first: it is only ever written when the profile could not be, so
// where both exist the per-user value is the later choice of the operator (and write_setting
// keeps it in step once the profile becomes writable again).
void read_setting(SettingsStore& store, const char* key, const char* fallback, char* dst, std::size_t cap) {
  if (cap == 0) return;
  dst[0] = '\0';
  if (store.user_read(key, dst, cap)) {
    dst[cap - 1] = '\0';
    return;
  }
  if (store.profile_read(key, dst, cap)) {
    dst[cap - 1] = '\0';
    return;
  }
  copy_text(fallback, dst, cap);
}

void write_setting(SettingsStore& store, const char* key, const char* value) {
  if (store.profile_write(key, value)) {
    if (store.user_exists(key)) store.user_write(key, value);
    return;
  }
  store.user_write(key, value);
}

}  // namespace ui
