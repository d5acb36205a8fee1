// The time figures of one update as the printer saw it: the outcome, the block phase, the
// printer's own lateness, the updater's turnarounds and the receive gaps, and how they and the
// wire time of every byte add up against the update time. As JSON for --summary, as lines on
// stderr, and reply by reply for --timing.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "tools/printer/machine.h"

namespace printer {

// What the printer knows about the time of one reply. Paced, each reply has a time at which a
// UART would have put its last stop bit on the wire (the received message's last byte plus the
// reply's own wire time); the printer's lateness is how much later it really wrote that byte. The
// turnaround after a reply runs from its last byte out to the updater's next byte read here: the
// updater's own time with the pty, Wine and the printer's wake-up included.
struct ReplyTiming {
  std::int64_t late_ns = 0;   // 0 when the line is not paced
  std::int64_t turn_ns = -1;  // -1: no byte from the updater followed
  bool block = false;         // the verdict on an image block
};

// The replies of one update, and its receive gaps: pauses inside an updater's message that the
// wire time of the bytes before it does not cover.
struct Timing {
  std::vector<ReplyTiming> replies;
  std::int64_t gap_ns = 0;
  std::uint64_t rx_bytes = 0;  // from the byte that began the update
  std::uint64_t tx_bytes = 0;
  std::int64_t turn_from = 0;  // last reply byte out, while a turnaround is pending
  bool turn_pending = false;
};

// When an update began (paced: its first byte's stop bit), when its block phase began (0: it did
// not), and when it ended; now_ns() times.
struct UpdateTimes {
  std::int64_t start = 0;
  std::int64_t blocks = 0;
  std::int64_t end = 0;
};

// The figures of one update; `byte_ns` is the paced line's wire time of a byte (0: not paced,
// and no accounting against the wire).
nlohmann::json update_figures(const Result& r, const Timing& tm, const UpdateTimes& times, std::int64_t byte_ns);

// The same figures as lines on stderr, for a person watching the printer.
void print_figures(const nlohmann::json& u);

// Each reply's lateness and the turnaround after it, one line each, to `path`.
void write_timing(const std::string& path, const Timing& tm);

}  // namespace printer
