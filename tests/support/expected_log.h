// The log an update run writes, as tests expect it, put together in one place:
//
//   transfer_log(retries)                 what the transfer logs for an image the printer took
//                                         whole: "OK" to the announce line, "RETRY" for each block
//                                         sent again, then "WAIT" and the closing lines
//   finished_run_log(retries, after)      a whole run that finished: "Start...", the transfer's
//                                         lines, "Process finished.", the lines that follow it
//                                         (the production log's, when it was not written), ""
//   failed_run_log(lines)                 a run that failed after the port was open: "Start...",
//                                         the lines from the announce's "OK" or the failure on, ""
//   unopened_run_log()                    a run whose port could not be opened
#pragma once

#include <string>
#include <vector>

namespace fakes {

using Log = std::vector<std::string>;

inline Log transfer_log(int retries = 0) {
  Log log = {"OK"};
  for (int i = 0; i < retries; ++i) log.push_back("RETRY");
  log.insert(log.end(), {"WAIT", "", "PLEASE WAIT UNTIL THE DEVICE TURNS OFF"});
  return log;
}

inline Log finished_run_log(int retries = 0, const Log& after_finished = {}) {
  Log log = {"Start..."};
  const Log transfer = transfer_log(retries);
  log.insert(log.end(), transfer.begin(), transfer.end());
  log.push_back("Process finished.");
  log.insert(log.end(), after_finished.begin(), after_finished.end());
  log.push_back("");
  return log;
}

inline Log failed_run_log(const Log& lines) {
  Log log = {"Start..."};
  log.insert(log.end(), lines.begin(), lines.end());
  log.push_back("");
  return log;
}

inline Log unopened_run_log() { return {"Start...", "Error opening serial port."}; }

}  // namespace fakes
