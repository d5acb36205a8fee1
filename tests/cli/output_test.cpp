// The live lines on a terminal: each is cut to one character less than the terminal's width as
// it is at that draw, so that no line wraps and the redraw's move up (one row per port) lands on
// the block's first line.
#include <gtest/gtest.h>

#include <cstddef>
#include <string>

#include "cli/output.h"

namespace {

std::string g_written;
std::size_t g_columns = 0;

void capture(const char* data, std::size_t n) { g_written.append(data, n); }
std::size_t columns() { return g_columns; }

TEST(OutputLiveLine, IsCutToTheTerminalWidthReadAtEachDraw) {
  const std::string long_text =
      "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A1B2C3D4-if00-port0  47%  11520 B/s 0:07 left";
  ASSERT_GT(long_text.size(), cli::kLiveTextSize);
  const struct {
    std::size_t columns;  // 0: the terminal does not say
    std::string text, shown;
  } cases[] = {
      {0, long_text, long_text.substr(0, cli::kLiveTextSize - 1)},
      {200, long_text, long_text.substr(0, cli::kLiveTextSize - 1)},
      {40, long_text, long_text.substr(0, 39)},
      {40, std::string(39, 'x'), std::string(39, 'x')},
      {40, std::string(40, 'x'), std::string(39, 'x')},  // the last column stays free
      {40, "COM3 finished", "COM3 finished"},
      {6, "abcd\xc3\xa9xyz", "abcd"},  // never half of a character
      {1, "COM3 finished", ""},
  };
  cli::Output out(true, 1, columns, capture);
  bool first = true;
  for (const auto& c : cases) {
    g_columns = c.columns;
    g_written.clear();
    out.set_live(0, c.text.c_str(), true);
    // After the first draw each starts with the move up to the block's line.
    const std::string want = (first ? "" : "\x1b[1F") + c.shown + "\x1b[K\n";
    EXPECT_EQ(g_written, want) << c.columns << " columns, " << c.text;
    first = false;
  }
}

}  // namespace
