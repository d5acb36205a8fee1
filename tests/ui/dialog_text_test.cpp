// The texts of the update dialog: its speed entries and version field.
#include "ui/dialog_text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

namespace {

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

TEST(VersionField, EmptyVersionShowsTheWarning) {
  EXPECT_STREQ(ui::version_field_text(""), "Incorrect version.");
  std::string longest(255, 'V');
  EXPECT_EQ(std::string(ui::version_field_text(longest.c_str())), longest);
}

}  // namespace
