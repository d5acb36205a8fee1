// A package record for protocol tests, built in memory (the record is too large for the stack).
#pragma once

#include <cstring>
#include <memory>

#include "package/package.h"

namespace protocol_test {

inline std::unique_ptr<package::Record> make_record(const char (&access_code)[7], std::uint8_t variant = 4,
                                                    std::uint32_t scramble_flag = 0) {
  auto r = std::make_unique<package::Record>();  // zero-filled
  r->marker = package::kMarker;
  r->scramble_flag = scramble_flag;
  r->image_length = 1;
  r->variant = variant;
  std::memcpy(r->access_code, access_code, package::kAccessCodeSize);
  return r;
}

}  // namespace protocol_test
