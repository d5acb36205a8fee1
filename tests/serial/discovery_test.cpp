// The device-name listing parser that the Windows discovery fills its presence table with, and
// the port list offered from that table.
#include "serial/discovery.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <set>
#include <string>
#include <vector>

namespace {

// A listing as the system writes it: names each ended by 0, the list by an empty name.
std::string listing(const std::vector<std::string>& names) {
  std::string s;
  for (const std::string& n : names) s += n + '\0';
  return s + '\0';
}

TEST(DeviceListing, CountsComNamesAndMarksTheirNumbers) {
  struct Case {
    const char* name;
    std::vector<std::string> names;
    std::int32_t count;
    std::set<int> marked;
  };
  const std::vector<Case> cases = {
      {"com1_com3_com12_among_others", {"C:", "COM1", "PhysicalDrive0", "COM3", "LPT1", "COM12", "NUL"}, 3, {1, 3, 12}},
      {"case_ignored", {"com7", "Com8"}, 2, {7, 8}},
      {"com_alone_is_too_short", {"COM", "co", "COM2"}, 1, {2}},
      {"letters_after_com_mark_entry_0", {"COMx", "COMPORT"}, 2, {0}},
      {"number_above_255_counts_but_marks_nothing", {"COM300", "COM256", "COM255"}, 3, {255}},
      {"atoi_rules", {"COM 9", "COM+10", "COM11abc", "COM-4", "COM0"}, 5, {0, 9, 10, 11}},
      {"huge_number_does_not_overflow", {"COM99999999999999999999", "COM4"}, 2, {4}},
      {"not_beginning_with_com", {"XCOM5", "ACOM", "\\Device\\Serial0"}, 0, {}},
      {"empty_listing", {}, 0, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string list = listing(c.names);
    // Guard bytes right behind the table: a mark one past its end (COM256) lands in them.
    struct {
      std::uint8_t presence[serial::kPresenceSize];
      std::uint8_t guard[8];
    } fenced;
    static_assert(sizeof fenced == serial::kPresenceSize + sizeof fenced.guard);
    std::memset(fenced.presence, 1, sizeof fenced.presence);
    std::memset(fenced.guard, 0xA5, sizeof fenced.guard);
    EXPECT_EQ(serial::parse_device_listing(list.data(), list.size(), fenced.presence), c.count);
    for (int i = 0; i < static_cast<int>(serial::kPresenceSize); ++i) {
      EXPECT_EQ(fenced.presence[i], c.marked.count(i) ? 1 : 0) << "entry " << i;
    }
    for (std::uint8_t g : fenced.guard) EXPECT_EQ(g, 0xA5) << "written past the table";
  }
}

TEST(DeviceListing, FailedListingGivesZeroAndAClearTable) {
  const char area[] = "COM1\0COM2\0";
  std::uint8_t presence[serial::kPresenceSize];
  std::memset(presence, 1, sizeof presence);
  EXPECT_EQ(serial::parse_device_listing(area, 0, presence), 0);
  for (std::uint8_t p : presence) EXPECT_EQ(p, 0);
}

TEST(DeviceListing, NeverReadsPastTheGivenSize) {
  // "COM9" lies beyond the size given; the cut name "COM1" ends at the size.
  const char area[] = "COM12\0COM9\0";
  std::uint8_t presence[serial::kPresenceSize];
  EXPECT_EQ(serial::parse_device_listing(area, 4, presence), 1);
  EXPECT_EQ(presence[1], 1);
  EXPECT_EQ(presence[12], 0);
  EXPECT_EQ(presence[9], 0);
}

// The port list a front end offers from the presence table.
std::vector<unsigned> ports(std::int32_t count, std::initializer_list<unsigned> present) {
  std::uint8_t presence[256] = {};
  for (unsigned p : present) presence[p] = 1;
  unsigned out[serial::kMaxPortEntries];
  std::size_t n = serial::port_numbers(count, presence, out);
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
  unsigned out[serial::kMaxPortEntries];
  ASSERT_EQ(serial::port_numbers(256, presence, out), serial::kMaxPortEntries);
  EXPECT_EQ(out[serial::kMaxPortEntries - 1], 255u);
  char entry[serial::kPortEntrySize];
  serial::port_entry_text(out[serial::kMaxPortEntries - 1], entry, sizeof entry);
  EXPECT_STREQ(entry, "COM255");
}

}  // namespace
