// What a station knows of the printers it already updated, whether a printer has gone, and the
// record it writes per attempt.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/station_records.h"

namespace {

using cli::station::Guard;
using cli::station::Presence;

constexpr char kSha[] = "56d0486663ad2db2773eca6fbadb99615df6fb60efa93292513719472368d336";

std::string result_line(const char* serial, const char* outcome, const char* sha, const char* ended) {
  return std::string(R"({"schema":1,"serial_number":)") + (serial ? "\"" + std::string(serial) + "\"" : "null") +
         R"(,"ended":")" + ended + R"(","outcome":")" + outcome + R"(","package":{"image_sha256":")" + sha + "\"}}\n";
}

// Only a finished update with this package's image counts; every other line is passed over, and
// a line that is no record at all is reported, not fatal.
TEST(StationGuard, TakesFinishedUpdatesOfThisImageFromTheResults) {
  Guard g(kSha, "ZORVEN-SAMPLE");
  const std::string text = result_line("ZP-1", "finished", kSha, "2026-12-11T08:14:02.001Z") +
                           result_line("ZP-2", "failed", kSha, "2026-12-11T08:20:00.000Z") +
                           result_line("ZP-3", "finished", "0000", "2026-12-11T08:21:00.000Z") +
                           result_line(nullptr, "finished", kSha, "2026-12-11T08:22:00.000Z") + "\n" +
                           "{\"schema\":1,\"outc" + "\n" + "[1,2]\n" +
                           result_line("ZP-4", "skipped", kSha, "2026-12-11T08:23:00.000Z");
  const std::vector<std::string> warnings = g.load_results(text, "r.ndjson");
  EXPECT_EQ(warnings, (std::vector<std::string>{"r.ndjson, line 6: not a JSON object; skipped",
                                                "r.ndjson, line 7: not a JSON object; skipped"}));
  EXPECT_EQ(g.updated_at("ZP-1"), "2026-12-11T08:14:02.001Z");
  for (const char* s : {"ZP-2", "ZP-3", "ZP-4", ""}) EXPECT_EQ(g.updated_at(s), "") << s;
  EXPECT_EQ(g.size(), 1u);
}

// A second station on the same production log knows what the first one updated: lines with this
// package's log tag count, a serial number may hold ";", a line of another shape is reported.
TEST(StationGuard, TakesThisTagsLinesFromTheProductionLog) {
  Guard g(kSha, "ZORVEN-SAMPLE");
  const std::string text =
      "ZP-1;ZORVEN-SAMPLE;12/11/26 08:14:02\r\n"
      "ZP-2;OTHER-TAG;12/11/26 08:15:02\r\n"
      ";ZORVEN-SAMPLE;12/11/26 08:16:02\r\n"
      "ZP;5;ZORVEN-SAMPLE;12/11/26 08:17:02\r\n"
      "garbage\r\n"
      "ZP-6;ZORVEN-SAMPLE;12/11/26\r\n";
  const std::vector<std::string> warnings = g.load_production_log(text, "sn_build.txt");
  EXPECT_EQ(warnings, (std::vector<std::string>{"sn_build.txt, line 5: not a production log line; skipped",
                                                "sn_build.txt, line 6: not a production log line; skipped"}));
  EXPECT_EQ(g.updated_at("ZP-1"), "12/11/26 08:14:02");
  EXPECT_EQ(g.updated_at("ZP;5"), "12/11/26 08:17:02");
  EXPECT_EQ(g.updated_at("ZP-2"), "");
  g.note("ZP-7", "2026-12-11T09:00:00.000Z");
  EXPECT_EQ(g.updated_at("ZP-7"), "2026-12-11T09:00:00.000Z");
}

TEST(StationPresence, GoneAfterThreeSilentQueriesInARowNextOnAnotherSerial) {
  struct Case {
    const char* what;
    std::vector<std::string> answers;
    Presence::Step last;
  } cases[] = {
      {"still answering", {"ZP-1", "ZP-1"}, Presence::Step::kStillThere},
      {"two silent", {"", ""}, Presence::Step::kStillThere},
      {"three silent", {"", "", ""}, Presence::Step::kGone},
      {"an answer between restarts the count", {"", "", "ZP-1", "", ""}, Presence::Step::kStillThere},
      {"another printer", {"", "ZP-2"}, Presence::Step::kNext},
  };
  for (const Case& c : cases) {
    Presence p("ZP-1");
    Presence::Step step = Presence::Step::kStillThere;
    for (const std::string& a : c.answers) step = p.answer(a);
    EXPECT_EQ(step, c.last) << c.what;
  }
}

TEST(StationRecord, OneObjectWithUpdatesFieldNames) {
  cli::PortResult r;
  r.run.outcome = update::Outcome::kBlockRefused;
  r.run.bytes_acknowledged = 5280;
  r.blocks_acknowledged = 10;
  r.retries = 2;
  r.verdicts = 12;
  r.run.failure.phase = update::Phase::kBlock;
  r.run.failure.cause = update::Cause::kNoReply;
  r.run.failure.block = 11;
  r.run.failure.blocks = 38;
  r.run.failure.reply_timeout = 5;
  cli::station::Attempt a{"vm", "ttyA", "/dev/pts/0", "", "2026-12-11T10:00:00.000Z", "2026-12-11T10:00:09.500Z",
                          "failed", "", &r, "V1", kSha, "sn_build.txt"};
  const nlohmann::ordered_json j = cli::station::attempt_json(a);
  EXPECT_EQ(j["schema"], 1);
  EXPECT_TRUE(j["serial_number"].is_null());
  EXPECT_EQ(j["outcome"], "failed");
  EXPECT_EQ(j["failure"]["text"], "block 11 of 38: no reply within 5 s");
  EXPECT_EQ(j["blocks_acknowledged"], 10);
  EXPECT_EQ(j["retries"], 2);
  EXPECT_EQ(j["link"]["retries"], 2);
  EXPECT_EQ(j["package"]["image_sha256"], kSha);
  EXPECT_EQ(j["production_log"]["written"], false);
  // One line: the record is appended whole.
  EXPECT_EQ(j.dump().find('\n'), std::string::npos);

  cli::station::Attempt skipped{"vm", "ttyA", "/dev/pts/0", "ZP-1", "t", "t", "skipped",
                                "2026-12-11T08:14:02.001Z", nullptr, "V1", kSha, "sn_build.txt"};
  const nlohmann::ordered_json s = cli::station::attempt_json(skipped);
  EXPECT_EQ(s["serial_number"], "ZP-1");
  EXPECT_EQ(s["updated_at"], "2026-12-11T08:14:02.001Z");
  EXPECT_TRUE(s["failure"].is_null());
}

}  // namespace
