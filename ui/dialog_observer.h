// The update run as the dialog shows it. The dialog's thread is busy for the whole run, so the
// dialog acts at the run's moments itself: once the identification query is done it disables the
// port combo, the speed combo and Cancel (START becomes STOP) and remembers the focus, and it
// repaints the log list twice before the printer is switched into update mode and once when the
// printer turns off; at the end it gives the focus back and enables the controls again, after the
// error box when the port could not be opened.
#pragma once

#include <cstdint>

#include "ui/dialog_ops.h"
#include "update/run.h"

namespace ui {

class DialogObserver final : public update::RunObserver {
 public:
  explicit DialogObserver(DialogOps& ops) : ops_(ops) {}

  void log_line(const char* text) override { ops_.add_log_line(text); }
  void progress(std::uint32_t position, std::uint32_t bytes_acknowledged) override;
  void after_query() override;
  void before_transfer() override;
  void printer_turning_off() override { ops_.repaint_log(); }
  // The run has returned: the error box when the port could not be opened, else the focus back;
  // then the controls again.
  void run_over(const update::RunResult& result);

 private:
  DialogOps& ops_;
  void* focused_ = nullptr;
};

}  // namespace ui
