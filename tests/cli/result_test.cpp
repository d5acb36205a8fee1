// What zorven-cli reports once the runs are over: the exit status the results call for, the final
// line's words and the JSON's failure and production log fields.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "cli/result.h"

namespace {

cli::PortResult finished(const char* port, const char* serial) {
  cli::PortResult r;
  r.port = port;
  std::snprintf(r.run.serial_number, sizeof r.run.serial_number, "%s", serial);
  r.run.outcome = update::Outcome::kFinished;
  r.run.production_log.due = true;
  r.run.production_log.written = true;
  r.seconds = 58.14;
  return r;
}

cli::PortResult failed_at_block(const char* port) {
  cli::PortResult r = finished(port, "ZP-104712");
  r.run.outcome = update::Outcome::kBlockRefused;
  r.run.production_log = {};
  r.run.failure.phase = update::Phase::kBlock;
  r.run.failure.cause = update::Cause::kNoReply;
  r.run.failure.block = 200;
  r.run.failure.blocks = 1242;
  r.run.failure.reply_timeout = 5;
  r.seconds = 12.04;
  return r;
}

cli::PortResult not_recorded(const char* port) {
  cli::PortResult r = finished(port, "ZP-104713");
  r.run.production_log.written = false;
  std::snprintf(r.run.production_log.reason, sizeof r.run.production_log.reason, "the disk is full");
  return r;
}

TEST(ExitStatus, ALostRecordGoesFirstThenAStopThenAFailure) {
  struct Case {
    const char* what;
    std::vector<cli::PortResult> results;
    bool stopped;
    int status;
  } cases[] = {
      {"all finished", {finished("a", "1"), finished("b", "2")}, false, cli::kExitFinished},
      {"one failed", {finished("a", "1"), failed_at_block("b")}, false, cli::kExitFailed},
      {"one not recorded, one failed", {failed_at_block("a"), not_recorded("b")}, false, cli::kExitNotRecorded},
      {"stopped", {failed_at_block("a")}, true, cli::kExitStopped},
      {"stopped, one not recorded", {not_recorded("a")}, true, cli::kExitNotRecorded},
  };
  for (const Case& c : cases) EXPECT_EQ(cli::exit_status(c.results, c.stopped), c.status) << c.what;
}

// The --json file could not be written after the runs: a finished printer's only record of this
// run is gone, so that goes first; otherwise nothing may read as success.
TEST(ExitStatus, AnUnwrittenJsonFileLosesTheRecordOfFinishedPrinters) {
  struct Case {
    const char* what;
    std::vector<cli::PortResult> results;
    int status_before;
    int status;
  } cases[] = {
      {"one finished", {finished("a", "1"), failed_at_block("b")}, cli::kExitFailed, cli::kExitNotRecorded},
      {"stopped after one finished", {finished("a", "1")}, cli::kExitStopped, cli::kExitNotRecorded},
      {"none finished", {failed_at_block("a")}, cli::kExitFailed, cli::kExitFailed},
      {"none finished, stopped", {failed_at_block("a")}, cli::kExitStopped, cli::kExitStopped},
      {"no port at all", {}, cli::kExitFinished, cli::kExitFailed},
  };
  for (const Case& c : cases) EXPECT_EQ(cli::exit_status_without_json(c.results, c.status_before), c.status) << c.what;
}

TEST(JsonFile, AnArrayOfEveryPortsObjectInTheirOrder) {
  const std::string text = cli::results_json_text({finished("a", "1"), failed_at_block("b")}, "log.txt");
  ASSERT_EQ(text.back(), '\n');
  const nlohmann::json all = nlohmann::json::parse(text);
  ASSERT_EQ(all.size(), 2u);
  EXPECT_EQ(all[0]["port"], "a");
  EXPECT_EQ(all[0]["outcome"], "finished");
  EXPECT_EQ(all[1]["port"], "b");
  EXPECT_EQ(all[1]["serial_number"], "ZP-104712");
  // A printer's bytes that are not UTF-8 are replaced, not refused.
  cli::PortResult odd = finished("c", "\xff\xfe");
  EXPECT_NO_THROW(nlohmann::json::parse(cli::results_json_text({odd}, "log.txt")));
}

TEST(FinalLine, PortOutcomeSerialSecondsAndWhy) {
  EXPECT_EQ(cli::final_line(finished("ttyUSB0", "ZP-104711"), 7), "ttyUSB0  finished  ZP-104711  58.1 s");
  EXPECT_EQ(cli::final_line(failed_at_block("ttyUSB1"), 7),
            "ttyUSB1  failed    ZP-104712  12.0 s  block 200 of 1242: no reply within 5 s");
  EXPECT_EQ(cli::final_line(not_recorded("ttyUSB2"), 7),
            "ttyUSB2  finished  ZP-104713  58.1 s  production log not written (the disk is full)");
  // Ports of different lengths line up; no serial number shows as "-".
  EXPECT_EQ(cli::final_line(finished("COM3", ""), 6), "COM3    finished  -  58.1 s");
  EXPECT_EQ(cli::serial_warning(finished("COM3", "")),
            "COM3: warning: the printer gave no serial number; its production log line has an empty serial field");
  EXPECT_EQ(cli::serial_warning(finished("COM3", "ZP-1")), "");
}

TEST(PortJson, FailureAndProductionLogAsAScriptReadsThem) {
  const nlohmann::ordered_json f = cli::port_json(failed_at_block("ttyUSB1"), "sn_build.txt");
  EXPECT_EQ(f["outcome"], "failed");
  EXPECT_EQ(f["failure"]["phase"], "block");
  EXPECT_EQ(f["failure"]["cause"], "no_reply");
  EXPECT_EQ(f["failure"]["block"], 200);
  EXPECT_EQ(f["failure"]["blocks"], 1242);
  EXPECT_EQ(f["failure"]["reply_timeout_s"], 5);
  EXPECT_TRUE(f["failure"]["received"].is_null());
  EXPECT_EQ(f["failure"]["text"], "block 200 of 1242: no reply within 5 s");
  EXPECT_EQ(f["production_log"], (nlohmann::ordered_json{{"path", "sn_build.txt"}, {"written", false}, {"error", nullptr}}));
  EXPECT_FALSE(f.contains("error"));

  cli::PortResult refused = failed_at_block("ttyUSB1");
  refused.run.failure.cause = update::Cause::kRefused;
  refused.run.failure.received_count = 4;
  const char reply[] = "B\"\x01Y";
  for (int i = 0; i < 4; ++i) refused.run.failure.received[i] = static_cast<std::uint8_t>(reply[i]);
  EXPECT_EQ(cli::port_json(refused, "x")["failure"]["received"], "\"B\\x22\\x01Y\"");

  const nlohmann::ordered_json n = cli::port_json(not_recorded("ttyUSB2"), "/srv/log.txt");
  EXPECT_TRUE(n["failure"].is_null());
  EXPECT_EQ(n["production_log"]["written"], false);
  EXPECT_EQ(n["production_log"]["error"], "the disk is full");
  EXPECT_EQ(n["production_log"]["path"], "/srv/log.txt");
}

}  // namespace
