#include <cstring>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "tests/support/records.h"
#include "tests/support/run_fakes.h"
#include "update/production_log.h"

namespace {

std::unique_ptr<package::Record> record_with_tag(const char* tag) {
  return fakes::RecordBuilder().log_tag(tag).build();
}

TEST(ProductionLine, Formats) {
  struct Case {
    const char* serial;
    update::LocalTime t;
    const char* line;
  } cases[] = {
      {"A1B2C3", {2026, 12, 6, 3, 57, 54}, "A1B2C3;X;12/06/26 03:57:54\r\n"},
      {"", {2026, 12, 6, 3, 57, 54}, ";X;12/06/26 03:57:54\r\n"},  // no identification query
      {"S", {2000, 1, 2, 9, 5, 3}, "S;X;01/02/00 09:05:03\r\n"},
      {"S", {2026, 1, 2, 21, 5, 3}, "S;X;01/02/26 21:05:03\r\n"},
  };
  auto pkg = record_with_tag("X");
  for (const Case& c : cases) {
    char out[update::kTextBufferSize];
    std::size_t n = update::format_production_line(c.serial, *pkg, c.t, out, sizeof out);
    EXPECT_EQ(std::string(out, n), c.line);
    EXPECT_EQ(n, std::strlen(out));
  }
}

TEST(ProductionLine, LogTagWithoutTerminatorStaysInsideItsField) {
  auto pkg = record_with_tag("");
  std::memset(pkg->log_tag, 'T', package::kLogTagSize);  // the byte after the field is outside the record
  char out[update::kTextBufferSize];
  std::size_t n = update::format_production_line("S", *pkg, {2026, 12, 6, 3, 57, 54}, out, sizeof out);
  EXPECT_EQ(std::string(out, n), "S;" + std::string(package::kLogTagSize, 'T') + ";12/06/26 03:57:54\r\n");
}

TEST(ProductionLine, TooSmallABufferGivesNoLineRatherThanOneWithoutItsEnd) {
  // The line is 28 bytes; its terminator needs the 29th. A buffer of exactly the line's length
  // would hold it only without the terminator, cut short of its line end.
  const std::string line = "A1B2C3;X;12/06/26 03:57:54\r\n";
  auto pkg = record_with_tag("X");
  for (std::size_t cap : {std::size_t{16}, line.size(), line.size() + 1}) {
    SCOPED_TRACE(cap);
    const bool fits = cap > line.size();
    char out[64];
    std::memset(out, '#', sizeof out);
    EXPECT_EQ(update::format_production_line("A1B2C3", *pkg, {2026, 12, 6, 3, 57, 54}, out, cap),
              fits ? line.size() : 0u);
    EXPECT_EQ(std::string(out), fits ? line : "");
    EXPECT_EQ(out[cap], '#') << "nothing written past the buffer";
  }
}

TEST(ProductionLog, ComposesInTheTextBufferAndAppendsTheLineOnce) {
  fakes::FakeHost host;
  fakes::FakePort port(host);
  fakes::FakePlatform platform(port, host);
  update::RunState state;
  std::strcpy(state.serial_number, "A1B2C3");
  std::memset(state.text, 'z', sizeof state.text);
  auto pkg = record_with_tag("X");

  char why[160] = "";
  EXPECT_TRUE(update::write_production_log(state, *pkg, platform, update::kProductionLogFile, why, sizeof why));
  EXPECT_EQ(platform.appended_to, "sn_build.txt");
  ASSERT_EQ(platform.appended.size(), 1u);
  EXPECT_EQ(platform.appended[0], "A1B2C3;X;12/06/26 03:57:54\r\n");  // no terminator written
  EXPECT_STREQ(state.text, "A1B2C3;X;12/06/26 03:57:54\r\n");

  platform.can_append = false;
  EXPECT_FALSE(update::write_production_log(state, *pkg, platform, update::kProductionLogFile, why, sizeof why));
  EXPECT_STREQ(why, "the file is in use by another program");
}

}  // namespace
