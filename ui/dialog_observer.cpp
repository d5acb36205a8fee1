#include "ui/dialog_observer.h"

#include "update/operator_text.h"

namespace ui {

// The bar shows percent only.
void DialogObserver::progress(std::uint32_t position, std::uint32_t) { ops_.set_progress(position); }

void DialogObserver::after_query() {
  ops_.set_controls_enabled(false);
  focused_ = ops_.focus();
}

void DialogObserver::before_transfer() {
  ops_.repaint_log();
  ops_.repaint_log();
}

void DialogObserver::run_over(const update::RunResult& result) {
  if (result.outcome == update::Outcome::kPortNotOpened) {
    // The focus was never taken away; the box is the dialog's own.
    ops_.error_box(update::kPortErrorText);
  } else {
    ops_.set_focus(focused_);
  }
  ops_.set_controls_enabled(true);
}

}  // namespace ui
