// Command line of zorven-printer.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/printer/lineup.h"
#include "tools/printer/machine.h"

namespace printer {

struct Options {
  Config config;
  std::string device;  // serial device to serve; empty: create a pty
  std::string link;    // symlink made to point at the pty's slave
  std::string out;     // file that receives each completed image
  std::string timing;  // file that receives each update's per-reply timing
  std::string summary; // file that receives every update's figures as JSON
  bool once = false;   // exit after one update (once the updater has closed the port)
  std::uint32_t delay_ms = 0;  // before every reply
  std::uint32_t baud = 0;      // line-rate pacing; 0: none
  // The identification reply's end (two checksum characters and LF), as a USB adapter may hand
  // it over: this many milliseconds after the rest of the reply, or never.
  std::uint32_t query_end_late_ms = 0;
  std::uint32_t usb_latency_ms = 0;  // replies reach the host as through a USB adapter; 0: directly
  bool query_end_never = false;
  // A line of printers: one after another on the same line (see lineup.h).
  std::vector<std::string> serials;
  std::vector<std::uint32_t> fault_on;  // printers (from 1) the fault options apply to; empty: all
  std::uint32_t gap_ms = kDefaultGapMs;
  std::uint32_t off_after_failure_ms = kDefaultOffAfterFailureMs;
};

// The --help text, generated from the options themselves: each with its range or default.
std::string help_text();

// Fills `out` from argv. Returns "" on success, otherwise the message for the user (one line).
// `help` is set when the help text was asked for.
std::string parse_options(int argc, const char* const* argv, Options& out, bool& help);

}  // namespace printer
