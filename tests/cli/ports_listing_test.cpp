// The ports zorven-cli offers on Linux, read from a small system tree of the test's making: the
// by-id names first, then the serial nodes with hardware behind them. A PC reserves many ttyS
// nodes whose UART is missing (type 0); offering those would send operators to dead ports. Of each
// port the listing tells what sysfs shows of the adapter behind it.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "cli/console.h"
#include "cli/console_posix.h"
#include "cli/ports_listing.h"

namespace {

namespace fs = std::filesystem;

struct SysTree {
  SysTree() { fs::remove_all(root); }
  ~SysTree() { fs::remove_all(root); }

  // A tty the kernel lists, with its node (any character device serves) and its UART type where
  // given (nullptr: no such file, not a UART driver).
  void node(const char* name, const char* type) {
    fs::create_directories(root / "sys/class/tty" / name);
    if (type != nullptr) std::ofstream(root / "sys/class/tty" / name / "type") << type << "\n";
    fs::create_directories(root / "dev");
    fs::create_symlink("/dev/null", root / "dev" / name);
  }

  void by_id(const char* link, const char* tty) {
    fs::create_directories(root / "dev/serial/by-id");
    fs::create_symlink(std::string("../../") + tty, root / "dev/serial/by-id" / link);
  }

  // The tty's device: a folder under sys/devices, linked as sysfs links it, with its driver.
  fs::path device(const char* tty, const std::string& path, const char* driver) {
    const fs::path dir = root / "sys/devices" / path;
    fs::create_directories(dir);
    fs::create_directory_symlink("../../../devices/" + path, root / "sys/class/tty" / tty / "device");
    if (driver != nullptr) fs::create_directory_symlink(std::string("/sys/bus/") + driver, dir / "driver");
    return dir;
  }

  static void file(const fs::path& path, const char* text) { std::ofstream(path) << text; }

  const fs::path root = fs::temp_directory_path() / ("zorven-ports-" + std::to_string(::getpid()));
};

std::vector<std::string> port_names(const std::vector<cli::PortInfo>& ports) {
  std::vector<std::string> names;
  for (const cli::PortInfo& p : ports) names.push_back(p.port);
  return names;
}

TEST(PortsListing, OffersByIdNamesAndNodesWithHardwareOnly) {
  SysTree t;
  t.node("ttyS0", "4");
  t.node("ttyS1", "0");
  t.node("ttyUSB0", nullptr);
  t.node("tty1", nullptr);  // a console, not a serial port
  t.by_id("usb-FTDI_FT232R_A1B2C3-if00-port0", "ttyUSB0");

  const std::vector<std::string> want = {
      (t.root / "dev/serial/by-id/usb-FTDI_FT232R_A1B2C3-if00-port0").string(),
      (t.root / "dev/ttyS0").string(),
      (t.root / "dev/ttyUSB0").string(),
  };
  EXPECT_EQ(port_names(cli::list_ports_under(t.root.string())), want);
}

// A USB serial adapter (ftdi_sio: the tty's device is the usb-serial port below the USB
// interface), a USB modem-class board (cdc_acm: the tty's device is the interface itself), a
// UART of the serial core, whose own device's driver only says "port", and a node sysfs tells
// nothing of.
TEST(PortsListing, TellsTheAdapterBehindEachPortWhereSysfsShowsIt) {
  SysTree t;
  const std::string hub = "pci0000:00/0000:00:14.0/usb1";
  t.node("ttyUSB0", nullptr);
  t.by_id("usb-FTDI_FT232R_A1B2C3-if00-port0", "ttyUSB0");
  const fs::path ftdi = t.device("ttyUSB0", hub + "/1-2/1-2:1.0/ttyUSB0", "usb-serial/drivers/ftdi_sio");
  SysTree::file(ftdi / "latency_timer", "16\n");
  SysTree::file(t.root / "sys/devices" / hub / "1-2/idVendor", "0403\n");
  SysTree::file(t.root / "sys/devices" / hub / "1-2/idProduct", "6001\n");
  SysTree::file(t.root / "sys/devices" / hub / "1-2/serial", "A1B2C3\n");
  // The root hub above is a USB device too; the adapter is the nearest.
  SysTree::file(t.root / "sys/devices" / hub / "idVendor", "1d6b\n");
  SysTree::file(t.root / "sys/devices" / hub / "idProduct", "0002\n");

  t.node("ttyACM0", nullptr);
  t.device("ttyACM0", hub + "/1-3/1-3:1.0", "usb/drivers/cdc_acm");
  SysTree::file(t.root / "sys/devices" / hub / "1-3/idVendor", "2341\n");
  SysTree::file(t.root / "sys/devices" / hub / "1-3/idProduct", "0043\n");

  t.node("ttyS0", "4");
  const fs::path uart = t.device("ttyS0", "pnp0/00:00/00:00:0/00:00:0.0", "serial-base/drivers/port");
  fs::create_directory_symlink("/sys/bus/serial-base/drivers/ctrl", uart.parent_path() / "driver");
  fs::create_directory_symlink("/sys/bus/pnp/drivers/serial", uart.parent_path().parent_path() / "driver");

  t.node("ttyAMA0", nullptr);

  const std::string dev = (t.root / "dev").string();
  const struct {
    std::string port, device;
    const char *vendor, *product, *serial, *driver;
    std::int32_t latency_ms;
  } want[] = {
      {dev + "/serial/by-id/usb-FTDI_FT232R_A1B2C3-if00-port0", dev + "/ttyUSB0", "0403", "6001", "A1B2C3",
       "ftdi_sio", 16},
      {dev + "/ttyACM0", dev + "/ttyACM0", "2341", "0043", "", "cdc_acm", -1},
      {dev + "/ttyAMA0", dev + "/ttyAMA0", "", "", "", "", -1},
      {dev + "/ttyS0", dev + "/ttyS0", "", "", "", "serial", -1},
      {dev + "/ttyUSB0", dev + "/ttyUSB0", "0403", "6001", "A1B2C3", "ftdi_sio", 16},
  };
  const std::vector<cli::PortInfo> got = cli::list_ports_under(t.root.string());
  ASSERT_EQ(port_names(got).size(), std::size(want)) << ::testing::PrintToString(port_names(got));
  for (std::size_t i = 0; i < got.size(); ++i) {
    const cli::PortInfo& p = got[i];
    SCOPED_TRACE(p.port);
    EXPECT_EQ(p.port, want[i].port);
    EXPECT_EQ(p.device, want[i].device);
    EXPECT_EQ(p.vendor_id, want[i].vendor);
    EXPECT_EQ(p.product_id, want[i].product);
    EXPECT_EQ(p.serial_number, want[i].serial);
    EXPECT_EQ(p.driver, want[i].driver);
    EXPECT_EQ(p.latency_timer_ms, want[i].latency_ms);
  }
}

// The `ports` command's forms: columns lined up under their header with "-" where the system does
// not say, and JSON with null there.
TEST(PortsListing, ColumnsAndJsonSayWhatTheSystemDoesNotKnow) {
  cli::PortInfo usb{"/dev/serial/by-id/usb-FTDI_A-if00-port0", "/dev/ttyUSB0", "0403", "6001", "A1B2", "ftdi_sio", 1};
  cli::PortInfo bare{"/dev/ttyS0", "/dev/ttyS0", "", "", "", "", -1};
  const std::vector<std::string> lines = cli::ports_table({usb, bare});
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0].find("DEVICE"), lines[1].find("/dev/ttyUSB0"));
  EXPECT_EQ(lines[0].find("LATENCY"), lines[1].find("1 ms"));
  EXPECT_EQ(lines[1], "/dev/serial/by-id/usb-FTDI_A-if00-port0  /dev/ttyUSB0  0403:6001  A1B2    ftdi_sio  1 ms");
  EXPECT_EQ(lines[2], "/dev/ttyS0                               /dev/ttyS0    -          -       -         -");

  const nlohmann::ordered_json j = cli::ports_json({usb, bare});
  ASSERT_EQ(j.size(), 2u);
  EXPECT_EQ(j[0]["latency_timer_ms"], 1);
  EXPECT_EQ(j[0]["vendor_id"], "0403");
  EXPECT_TRUE(j[1]["vendor_id"].is_null());
  EXPECT_TRUE(j[1]["latency_timer_ms"].is_null());
  EXPECT_EQ(j[1]["device"], "/dev/ttyS0");
}

}  // namespace
