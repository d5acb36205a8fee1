#include "ui/settings_win32.h"

#include <windows.h>

#include <climits>

namespace ui {

namespace {

constexpr char kUserKeyPath[] = "Software\\Zorven";

DWORD clamp_dword(std::size_t n) { return n > static_cast<std::size_t>(INT_MAX) ? INT_MAX : static_cast<DWORD>(n); }

class WindowsSettingsStore final : public SettingsStore {
 public:
  bool profile_read(const char* key, char* dst, std::size_t cap) override {
    if (cap == 0) return false;
    DWORD n = GetProfileStringA(kSettingsSection, key, "", dst, clamp_dword(cap));
    return n > 0;
  }

  bool profile_write(const char* key, const char* value) override {
    return WriteProfileStringA(kSettingsSection, key, value) != FALSE;
  }

  bool user_read(const char* key, char* dst, std::size_t cap) override {
    if (cap < 1) return false;
    HKEY hkey;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kUserKeyPath, 0, KEY_QUERY_VALUE, &hkey) != ERROR_SUCCESS) return false;
    DWORD type = 0;
    // Room for a terminator that the stored value may lack.
    DWORD size = clamp_dword(cap - 1);
    LONG rc = RegQueryValueExA(hkey, key, nullptr, &type, reinterpret_cast<BYTE*>(dst), &size);
    RegCloseKey(hkey);
    if (rc != ERROR_SUCCESS || type != REG_SZ) {
      dst[0] = '\0';
      return false;
    }
    dst[size < cap ? size : cap - 1] = '\0';
    return true;
  }

  bool user_exists(const char* key) override {
    HKEY hkey;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kUserKeyPath, 0, KEY_QUERY_VALUE, &hkey) != ERROR_SUCCESS) return false;
    LONG rc = RegQueryValueExA(hkey, key, nullptr, nullptr, nullptr, nullptr);
    RegCloseKey(hkey);
    return rc == ERROR_SUCCESS;
  }

  bool user_write(const char* key, const char* value) override {
    HKEY hkey;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, kUserKeyPath, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr,
                        &hkey, nullptr) != ERROR_SUCCESS) {
      return false;
    }
    LONG rc = RegSetValueExA(hkey, key, 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                             static_cast<DWORD>(lstrlenA(value) + 1));
    RegCloseKey(hkey);
    return rc == ERROR_SUCCESS;
  }
};

WindowsSettingsStore g_store;

}  // namespace

SettingsStore& windows_settings_store() { return g_store; }

}  // namespace ui
