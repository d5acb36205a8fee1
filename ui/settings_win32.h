// The settings store of the Windows program: the per-user profile strings, and the per-user
// registry key that takes a value when the profile cannot be written.
#pragma once

#include "ui/settings.h"

namespace ui {

SettingsStore& windows_settings_store();

}  // namespace ui
