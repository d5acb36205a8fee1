// The --summary file: the figures of every update served so far and, on a line of printers,
// every printer with its state and the figures of its updates; rewritten whole each time, so that
// a reader never sees half a file.
#pragma once

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "tools/printer/lineup.h"

namespace printer {

// `updates` is the array of update_figures() objects; `printers` is null when the printer is not
// a line of printers. False when the file could not be written.
bool write_summary(const std::string& path, const nlohmann::json& updates,
                   const std::vector<PrinterRecord>* printers);

}  // namespace printer
