#include <cstring>
#include <memory>

#include <gtest/gtest.h>

#include "package/package.h"
#include "package/protocol_constants.h"
#include "package/sample_image.h"
#include "tests/support/records.h"

namespace {

std::unique_ptr<package::Record> make_record() {
  return fakes::RecordBuilder().image_length(10).version("V1").build();
}

TEST(Package, PresenceTest) {
  struct Case {
    std::uint32_t length;
    std::int32_t presence;
    bool present;
  } cases[] = {
      {0, 0x0007C000, false},                       // image length 0 is empty whatever the word
      {0, 0, false},
      {10, -1, false},                              // only -1 marks the package empty
      {10, 0, true},
      {10, -2, true},
      {package::kImageCapacity, 0x0007C000, true},
      {package::kImageCapacity + 1, 0x0007C000, false},  // would read past the record
      {0xFFFFFFFFu, 0, false},
  };
  for (const Case& c : cases) {
    auto r = make_record();
    r->image_length = c.length;
    r->presence = c.presence;
    EXPECT_EQ(package::is_present(*r), c.present) << c.length << " " << c.presence;
  }
}

TEST(Package, VersionTextNeverReadsPastItsField) {
  auto r = make_record();
  std::memset(r->version, 'A', 255);
  r->version[255] = 0;
  EXPECT_EQ(std::strlen(package::version_text(*r)), 255u);
  EXPECT_TRUE(package::is_present(*r));

  r->version[255] = 'A';  // no terminator inside the field
  EXPECT_STREQ(package::version_text(*r), "");
  EXPECT_FALSE(package::is_present(*r));
}

TEST(Package, ImageLengthAboveCapacityGivesNoImage) {
  auto r = make_record();
  r->image_length = package::kImageCapacity;
  EXPECT_EQ(package::image_length(*r), package::kImageCapacity);
  r->image_length = package::kImageCapacity + 1;
  EXPECT_EQ(package::image_length(*r), 0u);
}

TEST(Package, LogTagIsBoundedByItsField) {
  auto r = make_record();
  std::strcpy(r->log_tag, "LINE-7");
  package::Text t = package::log_tag(*r);
  EXPECT_EQ(std::string(t.data, t.length), "LINE-7");
  std::memset(r->log_tag, 'T', package::kLogTagSize);  // no terminator at all
  EXPECT_EQ(package::log_tag(*r).length, package::kLogTagSize);
}

TEST(Package, ReplyWordLengthIsCappedAtTwenty) {
  EXPECT_EQ(package::reply_word_length(package::kWordOk), 2u);
  EXPECT_EQ(package::reply_word_length(package::kWordRetry), 5u);
  EXPECT_EQ(package::reply_word_length(package::kWordWait), 4u);
  EXPECT_EQ(package::reply_word_length("ABCDEFGHIJKLMNOPQRSTUVWXYZ"), 20u);
}

TEST(Package, EmbeddedDefaultCarriesTheShippedHeaderAndTheSampleImage) {
  const package::Record& r = package::embedded();
  EXPECT_EQ(r.marker, package::kMarker);
  EXPECT_EQ(r.scramble_flag, 1u);
  EXPECT_EQ(r.presence, 0x0007C000);
  EXPECT_EQ(r.image_length, 655360u);
  EXPECT_EQ(r.variant, 4);
  EXPECT_TRUE(package::is_present(r));
  static std::uint8_t expected[package::kImageCapacity];
  package::fill_sample_image(expected, sizeof expected);
  EXPECT_EQ(std::memcmp(r.image, expected, sizeof expected), 0);
}

}  // namespace
