// A line of printers on one port, as a production station sees it: printers put on the updater's
// line one after another, each a Machine of its own with its own serial number. It is told the
// time by its caller (nanoseconds on any steady clock), so that it runs the same under a test's
// clock as under the program's.
//
//   on          the first printer from the start; each next one `gap_ns` after the one before it
//               went off (bytes that arrive while no printer is on are dropped unanswered)
//   off         after its WAIT; at once at a removal fault; after a failed update, once the
//               operator has taken it away: `off_after_failure_ns` after the updater closed the
//               port following the failure (until then it still answers identification queries)
//   done        the last printer is off
//
// Without serial numbers the line holds the one printer of the configuration, on for good: it
// serves update after update as a printer that is never switched off, and only a removal fault
// takes it off the line.
#pragma once

#include <cstdint>
#include <deque>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "tools/printer/machine.h"

namespace printer {

// How long the next printer of a line comes after the one before it is off, and how long an
// operator takes to remove a printer whose update failed.
inline constexpr std::uint32_t kDefaultGapMs = 1000;
inline constexpr std::uint32_t kDefaultOffAfterFailureMs = 3000;

struct LineupConfig {
  Config printer;                       // every printer's variant, access code and faults
  std::vector<std::string> serials;     // one printer after another; empty: printer.serial, on for good
  std::vector<std::uint32_t> fault_on;  // printers (from 1) that get printer.faults; empty: every one
  std::int64_t gap_ns = std::int64_t{kDefaultGapMs} * 1'000'000;
  std::int64_t off_after_failure_ns = std::int64_t{kDefaultOffAfterFailureMs} * 1'000'000;
  // False on a serial device, where a close by the updater cannot be seen: the operator's removal
  // is then timed from the failed update's end.
  bool close_visible = true;
};

enum class Power { kWaiting, kOn, kOff };

// One printer of the line, as the summary reports it.
struct PrinterRecord {
  std::string serial;
  bool faulty = false;                    // fault options were given and apply to it
  Power power = Power::kWaiting;
  std::uint32_t attempts = 0;             // updates the updater began on it
  std::string outcome = "never updated";  // of the last of those
  Stats stats;                            // likewise
};

class Lineup {
 public:
  static constexpr std::int64_t kNever = std::numeric_limits<std::int64_t>::max();

  Lineup(LineupConfig config, std::int64_t now);

  // Powers the next printer on, or takes a failed one away, when that is due.
  void tick(std::int64_t now);
  // The printer that answers now, or nullptr: feed it the received bytes and take its replies.
  Machine* on() { return machine_ ? &*machine_ : nullptr; }
  // The updater closed the port: an update in progress ends there, and a failed printer's
  // removal is timed from the first close after its failure.
  void port_closed(std::int64_t now);
  // An update that ended, in order; a printer that ended in WAIT or was removed is off after it.
  std::optional<Result> take_result(std::int64_t now);
  // The printers' notes and the line's own (printers going on and off), one line each.
  std::vector<std::string> take_events();

  // When tick() next has something to do, or kNever.
  std::int64_t next_due() const;
  bool done() const { return !machine_ && next_ >= records_.size(); }
  const std::vector<PrinterRecord>& printers() const { return records_; }
  // Goes up whenever a printer goes on or off or a record changes.
  std::uint64_t changes() const { return changes_; }

 private:
  void power_on(std::size_t i);
  void power_off(std::int64_t now, const std::string& why);
  void collect(std::int64_t now);
  std::string name(std::size_t i) const;

  LineupConfig config_;
  bool single_;
  std::vector<PrinterRecord> records_;
  std::optional<Machine> machine_;
  std::size_t current_ = 0;  // the printer on, while machine_ is set
  std::size_t next_ = 0;     // the printer to come on next
  std::int64_t off_at_ = 0;  // when the last printer went off
  bool failed_ = false;      // the printer on has failed an update and awaits its removal
  std::int64_t removal_due_ = kNever;
  std::deque<Result> results_;
  std::vector<std::string> events_;
  std::uint64_t changes_ = 0;
};

}  // namespace printer
