// The texts of the update dialog: its port list, speed entries, log lines and version field.
#include "ui/dialog_text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

namespace {

std::vector<unsigned> ports(std::int32_t count, std::initializer_list<unsigned> present) {
  std::uint8_t presence[256] = {};
  for (unsigned p : present) presence[p] = 1;
  unsigned out[ui::kMaxPortEntries];
  std::size_t n = ui::port_numbers(count, presence, out);
  return std::vector<unsigned>(out, out + n);
}

TEST(PortList, OneToFourAlwaysThenDiscoveredPortsInOrder) {
  using V = std::vector<unsigned>;
  EXPECT_EQ(ports(3, {1, 3, 7}), (V{1, 2, 3, 4, 7}));
  // Entry 0 and ports 1 to 4 are never listed twice; 255 is the last port.
  EXPECT_EQ(ports(5, {0, 2, 4, 200, 255}), (V{1, 2, 3, 4, 200, 255}));
  // A count of 0 means the table is not worth reading.
  EXPECT_EQ(ports(0, {9, 12}), (V{1, 2, 3, 4}));
}

TEST(PortList, EveryPortPresentFillsTheWholeList) {
  std::uint8_t presence[256];
  std::fill(std::begin(presence), std::end(presence), 1);
  unsigned out[ui::kMaxPortEntries];
  ASSERT_EQ(ui::port_numbers(256, presence, out), ui::kMaxPortEntries);
  EXPECT_EQ(out[ui::kMaxPortEntries - 1], 255u);
  char entry[ui::kEntryTextSize];
  ui::port_entry_text(out[ui::kMaxPortEntries - 1], entry, sizeof entry);
  EXPECT_STREQ(entry, "COM255");
}

TEST(SpeedList, EntriesSavedTextAndIndexOutsideTheTable) {
  const char* expected[] = {"9600", "19200", "38400", "57600", "115200"};
  for (int i = 0; i < 5; ++i) {
    char entry[ui::kEntryTextSize];
    ui::speed_entry_text(ui::speed_at(i), entry, sizeof entry);
    EXPECT_STREQ(entry, expected[i]);
    ui::speed_setting_text(ui::speed_at(i), entry, sizeof entry);
    EXPECT_STREQ(entry, expected[i]);
  }
  EXPECT_EQ(ui::speed_at(-1), 9600u);
  EXPECT_EQ(ui::speed_at(5), 9600u);
}

TEST(LogLine, TimeStampedTextOrEmptyLine) {
  std::tm t = {};
  t.tm_year = 126;
  t.tm_mon = 11;
  t.tm_mday = 6;
  t.tm_hour = 14;
  t.tm_min = 5;
  t.tm_sec = 9;
  char clock[ui::kClockTextSize];
  ui::clock_text(t, clock, sizeof clock);
  EXPECT_STREQ(clock, "14:05:09");
  t.tm_hour = 21;
  t.tm_min = 5;
  t.tm_sec = 3;
  ui::clock_text(t, clock, sizeof clock);
  EXPECT_STREQ(clock, "21:05:03");

  char line[ui::kLogLineSize];
  ui::log_line_text("14:05:09", "Start...", line, sizeof line);
  EXPECT_STREQ(line, "14:05:09 - Start...");
  ui::log_line_text("14:05:09", "", line, sizeof line);
  EXPECT_STREQ(line, "");
  std::memset(line, 'x', sizeof line);
  ui::log_line_text("14:05:09", nullptr, line, sizeof line);
  EXPECT_STREQ(line, "");
}

TEST(LogLine, LongTextIsCutToTheLineSize) {
  std::string text(3000, 'a');
  std::vector<char> line(4096, 'x');
  ui::log_line_text("14:05:09", text.c_str(), line.data(), line.size());
  std::string got(line.data());
  EXPECT_EQ(got.size(), ui::kLogLineSize - 1);
  EXPECT_EQ(got.rfind("14:05:09 - aaa", 0), 0u);
  EXPECT_EQ(line[ui::kLogLineSize], 'x');  // nothing written past the line
}

TEST(VersionField, EmptyVersionShowsTheWarning) {
  EXPECT_STREQ(ui::version_field_text(""), "Incorrect version.");
  std::string longest(255, 'V');
  EXPECT_EQ(std::string(ui::version_field_text(longest.c_str())), longest);
}

}  // namespace
