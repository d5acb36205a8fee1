// The latency timer zorven-cli reads on Windows: the FTDI driver keeps it per device instance,
// beside the COM port's name, under the bus's key. The test writes such a tree under a key of
// its own in the current user's hive and reads it from there.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "cli/link.h"
#include "cli/link_win32.h"

namespace {

class FtdiRegistry : public ::testing::Test {
 protected:
  void SetUp() override {
    bus_ = "Software\\ZorvenTest-" + std::to_string(GetCurrentProcessId()) + "\\FTDIBUS";
    RegDeleteTreeA(HKEY_CURRENT_USER, bus_.c_str());
  }
  void TearDown() override {
    const std::string top = bus_.substr(0, bus_.rfind('\\'));
    RegDeleteTreeA(HKEY_CURRENT_USER, top.c_str());
  }

  // One device instance's parameters: its port name and, when >= 0, its latency timer.
  void instance(const char* device, const char* inst, const char* port, long timer) {
    const std::string path = bus_ + "\\" + device + "\\" + inst + "\\Device Parameters";
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegSetValueExA(key, "PortName", 0, REG_SZ, reinterpret_cast<const BYTE*>(port), lstrlenA(port) + 1);
    if (timer >= 0) {
      const DWORD v = static_cast<DWORD>(timer);
      RegSetValueExA(key, "LatencyTimer", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&v), sizeof v);
    }
    RegCloseKey(key);
  }

  std::int32_t timer_of(const char* port) { return cli::ftdi_latency_timer(HKEY_CURRENT_USER, bus_.c_str(), port); }

  std::string bus_;
};

TEST_F(FtdiRegistry, FindsTheInstanceWhosePortNameIsThePort) {
  instance("VID_0403+PID_6001+A1B2C3A", "0000", "COM3", 16);
  instance("VID_0403+PID_6010+FT4X01A", "0000", "COM7", 2);
  instance("VID_0403+PID_6010+FT4X01B", "0000", "COM8", -1);  // no value: the driver's default, not known
  instance("VID_0403+PID_6015+D30ABCDE", "0000", "COM9", 300);  // out of the driver's range
  struct Case {
    const char* port;
    std::int32_t ms;
  } cases[] = {
      {"COM3", 16}, {"\\\\.\\COM3", 16}, {"com3", 16}, {"COM7", 2}, {"COM8", -1}, {"COM9", -1}, {"COM4", -1},
  };
  for (const Case& c : cases) EXPECT_EQ(timer_of(c.port), c.ms) << c.port;
}

TEST_F(FtdiRegistry, NoBusKeyMeansNotKnown) { EXPECT_EQ(timer_of("COM3"), -1); }

}  // namespace
