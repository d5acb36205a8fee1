// The position the dialog's progress bar shows. The transfer sets the bar after every block,
// but with a 0..100 range the position moves only every few blocks; sending a position the bar
// already shows changes nothing on the screen and only costs a message to the control, so it is
// not sent again.
#pragma once

#include <cstdint>

namespace ui {

class ShownProgress {
 public:
  // True when the bar must be sent `position`: it shows another one. It is then taken as shown.
  bool change_to(std::uint32_t position) {
    if (position == shown_) return false;
    shown_ = position;
    return true;
  }

 private:
  // A new bar stands at 0, and only this dialog's operations move it (never reset by a run).
  std::uint32_t shown_ = 0;
};

}  // namespace ui
