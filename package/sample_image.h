// The deterministic stand-in firmware image that a build without a real image carries, so that a
// plain build works and tests know every byte the printer must receive.
#pragma once

#include <cstddef>
#include <cstdint>

namespace package {

inline constexpr std::uint32_t kSampleSeed = 0x2D7B04C9u;

// xorshift32 stream from a fixed seed: high-entropy, reproducible everywhere.
inline void fill_sample_image(std::uint8_t* out, std::size_t n) {
  std::uint32_t x = kSampleSeed;
  for (std::size_t i = 0; i < n; ++i) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    out[i] = static_cast<std::uint8_t>(x >> 24);
  }
}

}  // namespace package
