// The values one update run shares with the dialog and the lower layers. The program holds one
// instance for its whole life; tests make their own.
#pragma once

#include <cstddef>
#include <cstdint>

#include "package/protocol_constants.h"
#include "protocol/identify.h"
#include "serial/timed_io.h"

namespace update {

inline constexpr std::size_t kTextBufferSize = serial::kDrainAreaSize;  // shared scratch text

struct RunState {
  std::int32_t reply_timeout = package::kReplyTimeoutStart;  // whole seconds
  std::uint32_t stop_request = 0;  // a failure happened or STOP was pressed
  std::uint32_t run_active = 0;    // set by the dialog while a run is under way
  char text[kTextBufferSize] = {};
  char serial_number[protocol::kSerialNumberSize] = {};  // at most 127 characters
  // Image bytes the printer has acknowledged with OK in this run's transfer.
  std::uint32_t bytes_acknowledged = 0;
};

}  // namespace update
