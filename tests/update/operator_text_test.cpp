// The log line both front ends show: "HH:MM:SS - text", or an empty line without a time.
#include "update/operator_text.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

TEST(LogLine, TimeStampedTextOrEmptyLine) {
  std::tm t = {};
  t.tm_year = 126;
  t.tm_mon = 11;
  t.tm_mday = 6;
  t.tm_hour = 14;
  t.tm_min = 5;
  t.tm_sec = 9;
  char clock[update::kClockTextSize];
  update::clock_text(t, clock, sizeof clock);
  EXPECT_STREQ(clock, "14:05:09");
  t.tm_hour = 21;
  t.tm_min = 5;
  t.tm_sec = 3;
  update::clock_text(t, clock, sizeof clock);
  EXPECT_STREQ(clock, "21:05:03");

  char line[update::kLogLineSize];
  update::log_line_text("14:05:09", "Start...", line, sizeof line);
  EXPECT_STREQ(line, "14:05:09 - Start...");
  update::log_line_text("14:05:09", "", line, sizeof line);
  EXPECT_STREQ(line, "");
  std::memset(line, 'x', sizeof line);
  update::log_line_text("14:05:09", nullptr, line, sizeof line);
  EXPECT_STREQ(line, "");
}

TEST(LogLine, LongTextIsCutToTheLineSize) {
  std::string text(3000, 'a');
  std::vector<char> line(4096, 'x');
  update::log_line_text("14:05:09", text.c_str(), line.data(), line.size());
  std::string got(line.data());
  EXPECT_EQ(got.size(), update::kLogLineSize - 1);
  EXPECT_EQ(got.rfind("14:05:09 - aaa", 0), 0u);
  EXPECT_EQ(line[update::kLogLineSize], 'x');  // nothing written past the line
}

TEST(LogLine, ComposedFromTheLocalTimeOnce) {
  char line[update::kLogLineSize];
  update::format_log_line(update::LocalTime{2026, 12, 6, 7, 8, 9}, "Process finished.", line, sizeof line);
  EXPECT_STREQ(line, "07:08:09 - Process finished.");
  update::format_log_line(update::LocalTime{2026, 12, 6, 7, 8, 9}, "", line, sizeof line);
  EXPECT_STREQ(line, "");
}

}  // namespace
