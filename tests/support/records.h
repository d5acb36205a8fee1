// Package records for tests, one builder for all of them. A record is 655,784 bytes, so it is
// built on the heap. Left alone, the builder gives a present package: marker set, presence word
// 0x0007C000, variant 4, scramble flag 0, version "V1.0", access code "ZV4711", log tag "X", and a
// 1000-byte image (two blocks) whose byte i is i * 7. The image bytes fill the whole image area,
// so a test may lengthen the image of a built record afterwards.
//
//   auto pkg = fakes::RecordBuilder().variant(3).scramble(1).access_code("A1B2C3").build();
#pragma once

#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <string>

#include "package/package.h"
#include "package/sample_image.h"

namespace fakes {

class RecordBuilder {
 public:
  using Fill = std::function<std::uint8_t(std::uint32_t index)>;

  RecordBuilder& variant(int v) {
    variant_ = static_cast<std::uint8_t>(v);
    return *this;
  }
  RecordBuilder& scramble(std::uint32_t flag) {
    scramble_ = flag;
    return *this;
  }
  RecordBuilder& presence(std::int32_t word) {
    presence_ = word;
    return *this;
  }
  RecordBuilder& image_length(std::uint32_t n) {
    image_length_ = n;
    return *this;
  }
  RecordBuilder& version(std::string text) {
    version_ = std::move(text);
    return *this;
  }
  RecordBuilder& access_code(const char (&code)[package::kAccessCodeSize + 1]) {
    std::memcpy(access_code_, code, package::kAccessCodeSize);
    return *this;
  }
  RecordBuilder& log_tag(std::string tag) {
    log_tag_ = std::move(tag);
    return *this;
  }

  // The image's bytes: byte i is fill(i).
  RecordBuilder& image(Fill fill) {
    fill_ = std::move(fill);
    return *this;
  }
  // Byte i is i * step.
  RecordBuilder& image_step(std::uint8_t step) {
    return image([step](std::uint32_t i) { return static_cast<std::uint8_t>(i * step); });
  }
  // Bytes of a Mersenne Twister from `seed`, in order.
  RecordBuilder& random_image(std::uint32_t seed) {
    random_seed_ = seed;
    random_ = true;
    return *this;
  }
  // The stand-in image a build without a real image carries.
  RecordBuilder& sample_image() {
    sample_ = true;
    return *this;
  }

  std::unique_ptr<package::Record> build() const {
    auto r = std::make_unique<package::Record>();  // zero-filled
    r->marker = package::kMarker;
    r->scramble_flag = scramble_;
    r->presence = presence_;
    r->image_length = image_length_;
    r->variant = variant_;
    std::strncpy(r->version, version_.c_str(), package::kVersionSize - 1);
    std::memcpy(r->access_code, access_code_, package::kAccessCodeSize);
    std::strncpy(r->log_tag, log_tag_.c_str(), package::kLogTagSize - 1);
    if (sample_) {
      package::fill_sample_image(r->image, package::kImageCapacity);
    } else if (random_) {
      std::mt19937 rng(random_seed_);
      for (auto& b : r->image) b = static_cast<std::uint8_t>(rng());
    } else {
      for (std::uint32_t i = 0; i < package::kImageCapacity; ++i) r->image[i] = fill_(i);
    }
    return r;
  }

 private:
  std::uint8_t variant_ = 4;
  std::uint32_t scramble_ = 0;
  std::int32_t presence_ = 0x0007C000;
  std::uint32_t image_length_ = 1000;
  std::string version_ = "V1.0";
  char access_code_[package::kAccessCodeSize] = {'Z', 'V', '4', '7', '1', '1'};
  std::string log_tag_ = "X";
  Fill fill_ = [](std::uint32_t i) { return static_cast<std::uint8_t>(i * 7); };
  bool random_ = false;
  std::uint32_t random_seed_ = 0;
  bool sample_ = false;
};

}  // namespace fakes
