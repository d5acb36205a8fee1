// The production log's append as every platform makes it: a line that cannot be appended at once
// is tried again for a while, and the reason of the last attempt is kept.
#include "update/file_append.h"

namespace update {

namespace {

bool append_with_attempts(const char* name, const char* data, std::size_t n, bool durable, char* why,
                          std::size_t why_cap) {
  long error = 0;
  bool partial = false;
  for (int attempt = 0; attempt < kAppendAttempts && !partial; ++attempt) {
    if (attempt > 0) platform_append::pause_ms(kAppendPauseMs);
    error = platform_append::append_once(name, data, n, durable, partial);
    if (error == 0) return true;
  }
  platform_append::reason_text(error, why, why_cap);
  return false;
}

}  // namespace

bool append_file(const char* name, const char* data, std::size_t n, char* why, std::size_t why_cap) {
  return append_with_attempts(name, data, n, false, why, why_cap);
}

bool append_file_durable(const char* name, const char* data, std::size_t n, char* why, std::size_t why_cap) {
  return append_with_attempts(name, data, n, true, why, why_cap);
}

}  // namespace update
