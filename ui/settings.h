// The two settings the update dialog keeps between sessions, "Port" and "BaudRate" in the section
// "Zorven" of the per-user profile strings.
//
// On current Windows versions the profile section lives in win.ini in the Windows folder, which a
// standard user cannot write (the program asks for no elevation and so gets no file
// virtualisation). A profile write that fails therefore goes to a per-user store instead
// (HKCU\Software\Zorven, same value names). The choice between the two lives here, over a small
// store interface, so that it can be tested without Windows.
#pragma once

#include <cstddef>

namespace ui {

inline constexpr char kSettingsSection[] = "Zorven";
inline constexpr char kPortKey[] = "Port";
inline constexpr char kSpeedKey[] = "BaudRate";
inline constexpr char kDefaultPort[] = "COM1";
inline constexpr char kDefaultSpeedText[] = "9600";

class SettingsStore {
 public:
  // The profile string; false when the key is missing or its value is empty.
  virtual bool profile_read(const char* key, char* dst, std::size_t cap) = 0;
  virtual bool profile_write(const char* key, const char* value) = 0;
  // The per-user value; false when it is missing or cannot be read.
  virtual bool user_read(const char* key, char* dst, std::size_t cap) = 0;
  virtual bool user_exists(const char* key) = 0;
  virtual bool user_write(const char* key, const char* value) = 0;

 protected:
  ~SettingsStore() = default;
};

// The setting into dst (cap bytes, always terminated when cap > 0): the per-user value when there
// is one, else the profile string, else `fallback`.
void read_setting(SettingsStore& store, const char* key, const char* fallback, char* dst, std::size_t cap);

// Writes the setting to the profile; when that fails, to the per-user store. When the profile
// write works but a per-user value from an earlier failure exists, that value is updated too, so
// that it never hides the newer profile string. Failures are not reported.
void write_setting(SettingsStore& store, const char* key, const char* value);

}  // namespace ui
