#include "tools/printer/figures.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace printer {
namespace {

using nlohmann::json;

std::int64_t percentile(const std::vector<std::int64_t>& sorted, int pct) {
  if (sorted.empty()) return 0;
  // Nearest rank: the smallest value with at least pct % of the values at or below it.
  const std::size_t rank = (sorted.size() * static_cast<std::size_t>(pct) + 99) / 100;
  return sorted[rank == 0 ? 0 : rank - 1];
}

// A figure as the summary line shows it, rounded to `digits` decimals; the JSON summary carries
// the same numbers.
double shown(double v, int digits) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*f", digits, v);
  return std::strtod(buf, nullptr);
}
double ms(std::int64_t ns) { return shown(static_cast<double>(ns) / 1e6, 3); }
double us(std::int64_t ns) { return shown(static_cast<double>(ns) / 1e3, 1); }

}  // namespace

json update_figures(const Result& r, const Timing& tm, const UpdateTimes& times, std::int64_t byte_ns) {
  const std::int64_t update_ns = times.end - times.start;
  json u = {{"ok", r.ok},
            {"outcome", r.ok ? "update ok" : "update failed"},
            {"reason", r.reason},
            {"bytes", r.stats.bytes},
            {"blocks", r.stats.blocks},
            {"retries", r.stats.retries},
            {"crc_errors", r.stats.crc_errors},
            {"seconds", shown(static_cast<double>(update_ns) / 1e9, 3)},
            {"block_phase", nullptr},
            {"accounting", nullptr}};
  if (r.image_complete && times.blocks != 0 && r.stats.blocks > 0) {
    const double bsecs = static_cast<double>(times.end - times.blocks) / 1e9;
    u["block_phase"] = {{"blocks", r.stats.blocks},
                        {"seconds", shown(bsecs, 3)},
                        {"blocks_per_s", shown(r.stats.blocks / bsecs, 1)},
                        {"ms_per_block", shown(bsecs * 1000.0 / r.stats.blocks, 3)},
                        {"bytes_per_s", shown(static_cast<double>(r.stats.bytes) / bsecs, 0)}};
  }
  std::vector<std::int64_t> late, block_turns;
  std::int64_t late_sum = 0, block_sum = 0, other_sum = 0;
  std::size_t other_n = 0;
  for (const ReplyTiming& rt : tm.replies) {
    late.push_back(rt.late_ns);
    late_sum += rt.late_ns;
    if (rt.turn_ns < 0) continue;
    if (rt.block) {
      block_turns.push_back(rt.turn_ns);
      block_sum += rt.turn_ns;
    } else {
      ++other_n;
      other_sum += rt.turn_ns;
    }
  }
  std::sort(late.begin(), late.end());
  std::sort(block_turns.begin(), block_turns.end());
  u["lateness"] = {{"replies", late.size()},
                   {"total_ms", ms(late_sum)},
                   {"median_us", us(percentile(late, 50))},
                   {"p99_us", us(percentile(late, 99))},
                   {"max_us", late.empty() ? 0.0 : us(late.back())}};
  u["turnaround"] = {{"blocks", block_turns.size()},
                     {"median_us", us(percentile(block_turns, 50))},
                     {"p90_us", us(percentile(block_turns, 90))},
                     {"p99_us", us(percentile(block_turns, 99))},
                     {"sum_ms", ms(block_sum)},
                     {"others", other_n},
                     {"others_sum_ms", ms(other_sum)},
                     {"gaps_ms", ms(tm.gap_ns)}};
  if (byte_ns != 0) {
    // The update time starts at the first byte's stop bit, so that byte's wire time is not in it.
    const std::uint64_t bytes = tm.rx_bytes + tm.tx_bytes;
    const std::int64_t wire = static_cast<std::int64_t>(bytes > 0 ? bytes - 1 : 0) * byte_ns;
    u["accounting"] = {{"bytes", bytes},
                       {"wire_ms", ms(wire)},
                       {"lateness_ms", ms(late_sum)},
                       {"turnarounds_ms", ms(block_sum)},
                       {"others_ms", ms(other_sum)},
                       {"gaps_ms", ms(tm.gap_ns)},
                       {"accounted_ms", ms(wire + late_sum + block_sum + other_sum + tm.gap_ns)},
                       {"update_ms", ms(update_ns)}};
  }
  return u;
}

void print_figures(const json& u) {
  std::fprintf(stderr,
               "zorven-printer: summary: %s; %llu bytes received, %u blocks, %u retries, %u CRC errors, "
               "%.3f s (%s)\n",
               u["outcome"].get<std::string>().c_str(), u["bytes"].get<unsigned long long>(),
               u["blocks"].get<unsigned>(), u["retries"].get<unsigned>(), u["crc_errors"].get<unsigned>(),
               u["seconds"].get<double>(), u["reason"].get<std::string>().c_str());
  if (const json& b = u["block_phase"]; !b.is_null())
    std::fprintf(stderr, "zorven-printer: block phase: %u blocks in %.3f s, %.1f blocks/s, %.3f ms/block, %.0f bytes/s\n",
                 b["blocks"].get<unsigned>(), b["seconds"].get<double>(), b["blocks_per_s"].get<double>(),
                 b["ms_per_block"].get<double>(), b["bytes_per_s"].get<double>());
  const json& l = u["lateness"];
  std::fprintf(stderr,
               "zorven-printer: lateness: %zu replies, total %.3f ms, median %.1f us, p99 %.1f us, max %.1f us\n",
               l["replies"].get<std::size_t>(), l["total_ms"].get<double>(), l["median_us"].get<double>(),
               l["p99_us"].get<double>(), l["max_us"].get<double>());
  const json& t = u["turnaround"];
  std::fprintf(stderr,
               "zorven-printer: block turnaround: %zu, median %.1f us, p90 %.1f us, p99 %.1f us, sum %.3f ms; "
               "other turnarounds: %zu, sum %.3f ms; receive gaps: %.3f ms\n",
               t["blocks"].get<std::size_t>(), t["median_us"].get<double>(), t["p90_us"].get<double>(),
               t["p99_us"].get<double>(), t["sum_ms"].get<double>(), t["others"].get<std::size_t>(),
               t["others_sum_ms"].get<double>(), t["gaps_ms"].get<double>());
  if (const json& a = u["accounting"]; !a.is_null())
    std::fprintf(stderr,
                 "zorven-printer: accounting: wire %llu bytes %.3f ms + lateness %.3f + turnarounds %.3f + %.3f + "
                 "gaps %.3f = %.3f ms of the update's %.3f ms\n",
                 a["bytes"].get<unsigned long long>(), a["wire_ms"].get<double>(), a["lateness_ms"].get<double>(),
                 a["turnarounds_ms"].get<double>(), a["others_ms"].get<double>(), a["gaps_ms"].get<double>(),
                 a["accounted_ms"].get<double>(), a["update_ms"].get<double>());
}

void write_timing(const std::string& path, const Timing& tm) {
  std::FILE* f = std::fopen(path.c_str(), "w");
  if (!f) {
    std::fprintf(stderr, "zorven-printer: cannot write %s\n", path.c_str());
    return;
  }
  std::fprintf(f, "# reply block late_us turnaround_us\n");
  for (std::size_t i = 0; i < tm.replies.size(); ++i)
    std::fprintf(f, "%zu %d %.1f %.1f\n", i + 1, tm.replies[i].block ? 1 : 0, us(tm.replies[i].late_ns),
                 tm.replies[i].turn_ns < 0 ? -1.0 : us(tm.replies[i].turn_ns));
  std::fclose(f);
}

}  // namespace printer
