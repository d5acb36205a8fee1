// The ports zorven-cli offers on Linux, read from a small system tree of the test's making: the
// by-id names first, then the serial nodes with hardware behind them. A PC reserves many ttyS
// nodes whose UART is missing (type 0); offering those would send operators to dead ports.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "cli/console.h"

namespace {

namespace fs = std::filesystem;

TEST(PortsListing, OffersByIdNamesAndNodesWithHardwareOnly) {
  const fs::path root = fs::temp_directory_path() / ("zorven-ports-" + std::to_string(::getpid()));
  fs::remove_all(root);
  const struct {
    const char* name;
    const char* type;  // the kernel's UART type; nullptr: no such file (not a UART driver)
  } nodes[] = {{"ttyS0", "4"}, {"ttyS1", "0"}, {"ttyUSB0", nullptr}};
  fs::create_directories(root / "dev/serial/by-id");
  for (const auto& n : nodes) {
    fs::create_directories(root / "sys/class/tty" / n.name);
    if (n.type != nullptr) std::ofstream(root / "sys/class/tty" / n.name / "type") << n.type << "\n";
    // Any character device serves as the node.
    fs::create_symlink("/dev/null", root / "dev" / n.name);
  }
  fs::create_directories(root / "sys/class/tty/tty1");  // a console, not a serial port
  fs::create_symlink("/dev/null", root / "dev/tty1");
  fs::create_symlink("../../ttyUSB0", root / "dev/serial/by-id/usb-FTDI_FT232R_A1B2C3-if00-port0");

  const std::vector<std::string> want = {
      (root / "dev/serial/by-id/usb-FTDI_FT232R_A1B2C3-if00-port0").string(),
      (root / "dev/ttyS0").string(),
      (root / "dev/ttyUSB0").string(),
  };
  EXPECT_EQ(cli::list_ports_under(root.string()), want);
  fs::remove_all(root);
}

}  // namespace
