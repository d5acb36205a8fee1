// The virtual printer's clock: the monotonic time in nanoseconds that its pacing, delays and
// figures are counted in, a sleep to a point of it, and the stop a signal asks for, which cuts
// such a sleep short.
#pragma once

#include <cstdint>

namespace printer {

std::int64_t now_ns();

// Sleeps until `t` (a now_ns() time), or less once a stop has been asked for.
void sleep_until(std::int64_t t);

// Asks the program to stop; safe in a signal handler.
void request_stop();
bool stop_requested();

}  // namespace printer
