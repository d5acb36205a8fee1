#include "package/protocol_constants.h"

namespace package {

std::size_t reply_word_length(const char* word) {
  std::size_t n = 0;
  while (n < kReplyWordLimit && word[n] != 0) ++n;
  return n;
}

}  // namespace package
