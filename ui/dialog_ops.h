// The update dialog's controls as its run observer drives them. The dialog implements these on
// its window; tests record them.
#pragma once

#include <cstdint>

namespace ui {

class DialogOps {
 public:
  // Appends "HH:MM:SS - text" to the log list; a null or empty text appends an empty line.
  virtual void add_log_line(const char* text) = 0;
  // Enables or disables the port combo, speed combo and Cancel; START reads "START" or "STOP".
  virtual void set_controls_enabled(bool enabled) = 0;
  // Progress bar position, 0..100.
  virtual void set_progress(std::uint32_t position) = 0;
  // Repaints the log list at once.
  virtual void repaint_log() = 0;
  // Modal error box owned by the dialog: error icon, one OK button, no caption of its own.
  virtual void error_box(const char* text) = 0;
  // The window that has the keyboard focus, as an opaque value, and giving it back.
  virtual void* focus() = 0;
  virtual void set_focus(void* window) = 0;

 protected:
  ~DialogOps() = default;
};

}  // namespace ui
