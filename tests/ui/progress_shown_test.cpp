#include "ui/progress_shown.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

// The positions a sequence of set_progress calls sends to the bar.
std::vector<std::uint32_t> sent(ui::ShownProgress& bar, const std::vector<std::uint32_t>& positions) {
  std::vector<std::uint32_t> out;
  for (std::uint32_t p : positions)
    if (bar.change_to(p)) out.push_back(p);
  return out;
}

TEST(ShownProgress, SendsEachPositionOnceAsItChangesAcrossRuns) {
  ui::ShownProgress bar;
  struct Case {
    const char* what;
    std::vector<std::uint32_t> positions;
    std::vector<std::uint32_t> expected;
  };
  // One bar through several runs, in order: it keeps its position between runs.
  const Case cases[] = {
      {"a fresh bar already shows 0", {0, 0, 0, 1, 1, 2}, {1, 2}},
      {"steps of more than one, and the same position again", {2, 5, 5, 100, 100}, {5, 100}},
      {"a second run starts below the first one's end", {0, 0, 3}, {0, 3}},
      {"a retried block leaves the position as it is", {3, 3, 3, 4}, {4}},
      {"a run that ends where the last one did", {100}, {100}},
  };
  for (const Case& c : cases) EXPECT_EQ(sent(bar, c.positions), c.expected) << c.what;
}

}  // namespace
