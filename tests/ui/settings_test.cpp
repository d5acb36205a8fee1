// Where the two dialog settings are read from and written to: the profile strings first, the
// per-user store when the profile cannot be written.
#include "ui/settings.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>

namespace {

class FakeStore final : public ui::SettingsStore {
 public:
  bool profile_read(const char* key, char* dst, std::size_t cap) override {
    return copy_out(profile, key, dst, cap);
  }
  bool profile_write(const char* key, const char* value) override {
    ++profile_writes;
    if (!profile_writable) return false;
    profile[key] = value;
    return true;
  }
  bool user_read(const char* key, char* dst, std::size_t cap) override { return copy_out(user, key, dst, cap); }
  bool user_exists(const char* key) override { return user.count(key) != 0; }
  bool user_write(const char* key, const char* value) override {
    user[key] = value;
    return true;
  }

  std::map<std::string, std::string> profile;
  std::map<std::string, std::string> user;
  bool profile_writable = true;
  int profile_writes = 0;

 private:
  static bool copy_out(const std::map<std::string, std::string>& m, const char* key, char* dst, std::size_t cap) {
    auto it = m.find(key);
    if (it == m.end() || it->second.empty()) return false;
    std::snprintf(dst, cap, "%s", it->second.c_str());
    return true;
  }
};

std::string read(FakeStore& store, const char* key, const char* fallback, std::size_t cap = 64) {
  char buf[64];
  std::memset(buf, 'x', sizeof buf);
  ui::read_setting(store, key, fallback, buf, cap);
  return buf;
}

TEST(Settings, ReadTakesUserValueThenProfileThenDefault) {
  struct Case {
    const char* key;      // as stored
    const char* profile;  // nullptr: missing
    const char* user;
    const char* expected;
  };
  const Case cases[] = {
      {"Port", nullptr, nullptr, "COM1"},
      {"Port", "COM3", nullptr, "COM3"},
      {"Port", "", nullptr, "COM1"},  // an empty profile value counts as missing
      {"Port", nullptr, "COM7", "COM7"},
      {"Port", "COM3", "COM7", "COM7"},  // the per-user value was written because the profile could not be
      {"BaudRate", nullptr, nullptr, "9600"},
      {"BaudRate", "", nullptr, "9600"},
      {"BaudRate", "38400", nullptr, "38400"},
  };
  for (const Case& c : cases) {
    FakeStore store;
    if (c.profile) store.profile[c.key] = c.profile;
    if (c.user) store.user[c.key] = c.user;
    const bool port = std::string(c.key) == "Port";
    EXPECT_EQ(read(store, port ? ui::kPortKey : ui::kSpeedKey, port ? ui::kDefaultPort : ui::kDefaultSpeedText),
              c.expected)
        << c.key << " profile=" << (c.profile ? c.profile : "-") << " user=" << (c.user ? c.user : "-");
  }
}

TEST(Settings, ReadCutsToTheBufferAndKeysStayApart) {
  FakeStore store;
  store.profile["BaudRate"] = "115200";
  EXPECT_EQ(read(store, ui::kSpeedKey, ui::kDefaultSpeedText, 4), "115");
  EXPECT_EQ(read(store, ui::kPortKey, ui::kDefaultPort, 3), "CO");
  EXPECT_EQ(read(store, ui::kPortKey, ui::kDefaultPort), "COM1");
}

TEST(Settings, WritableProfileTakesTheValueAndNothingElse) {
  FakeStore store;
  ui::write_setting(store, ui::kPortKey, "COM12");
  EXPECT_EQ(store.profile["Port"], "COM12");
  EXPECT_TRUE(store.user.empty());
  EXPECT_EQ(read(store, ui::kPortKey, ui::kDefaultPort), "COM12");
}

TEST(Settings, FailedProfileWriteFallsBackToUserStoreAndPersists) {
  FakeStore store;
  store.profile["Port"] = "COM2";  // an old value the operator can no longer change there
  store.profile_writable = false;

  ui::write_setting(store, ui::kPortKey, "COM5");
  ui::write_setting(store, ui::kSpeedKey, "57600");

  EXPECT_EQ(store.profile["Port"], "COM2");
  EXPECT_EQ(store.user["Port"], "COM5");
  EXPECT_EQ(read(store, ui::kPortKey, ui::kDefaultPort), "COM5");
  EXPECT_EQ(read(store, ui::kSpeedKey, ui::kDefaultSpeedText), "57600");
}

TEST(Settings, ProfileWritableAgainKeepsTheUserValueFromHidingNewerChoices) {
  FakeStore store;
  store.profile_writable = false;
  ui::write_setting(store, ui::kPortKey, "COM5");

  store.profile_writable = true;
  ui::write_setting(store, ui::kPortKey, "COM6");

  EXPECT_EQ(store.profile["Port"], "COM6");
  EXPECT_EQ(read(store, ui::kPortKey, ui::kDefaultPort), "COM6");
  // A key that never needed the fallback gets no per-user value.
  ui::write_setting(store, ui::kSpeedKey, "19200");
  EXPECT_EQ(store.user.count("BaudRate"), 0u);
}

}  // namespace
