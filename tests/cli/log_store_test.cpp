// A run's log lines kept for the JSON result in a fixed area: the oldest lines make room, and
// nothing is written past the area however the lines add up.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "cli/console_observer.h"

namespace {

std::vector<std::string> kept(const cli::LogStore& store) {
  std::vector<std::string> lines;
  store.each([&](const char* l) { lines.emplace_back(l); });
  return lines;
}

// Lines of 1023 characters take 1024 bytes each with their terminators.
TEST(LogStore, KeepsTheNewestLinesWhenTheAreaFillsUp) {
  constexpr std::size_t kLine = 1023;
  constexpr std::size_t kFit = cli::LogStore::kSize / (kLine + 1);  // lines that fill it exactly
  const struct {
    const char* name;
    std::size_t last_length;  // of one more line after kFit - 1 full ones
    std::size_t dropped;
  } cases[] = {
      {"the lines fill the area exactly", kLine, 0},
      {"one byte more than the area: the last terminator would land past it", kLine + 1, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto store = std::make_unique<cli::LogStore>();
    std::vector<std::string> lines;
    for (std::size_t i = 0; i + 1 < kFit; ++i) lines.push_back(std::string(kLine, static_cast<char>('a' + i % 26)));
    lines.push_back(std::string(c.last_length, 'Z'));
    for (const std::string& l : lines) store->add(l.c_str());
    EXPECT_EQ(store->dropped(), c.dropped);
    const std::vector<std::string> want(lines.begin() + static_cast<long>(c.dropped), lines.end());
    EXPECT_EQ(kept(*store), want);
  }
}

}  // namespace
