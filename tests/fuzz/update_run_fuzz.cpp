// One whole update run (run_update) with a small image, the printer's side played by the input.
//
// Input: one byte of package choices (bits 0-2 protocol variant, 7 standing for 255; bit 3 the
// scramble flag; bits 4-5 the image length 1100, 528, 99 or 1 bytes; bits 6-7 the speed index
// -1..2), then the line operations (fuzz_line.h). STOP (0xC0) and Cancel (0xC1) are pressed at the
// next pump, as the dialog's buttons would be: STOP clears the run-active flag and raises the stop
// request; Cancel, which the dialog enables only until the run disables its controls, clears the
// run-active flag.
//
// What the printer replied is read from the line itself: a reply line is what arrived after the
// announce line or a block's CRC, up to the next pump, drain or write, and it "begins with" a word
// when its bytes before the first CR or LF do. Checked:
// - after the announce line only blocks and their CRCs go out, block and CRC in turns; each block
//   is the image part that the replies so far call for (the next one after "OK", the same one
//   again after "RETRY", none after anything else), and its CRC is the block's CRC-16/MCRF4XX,
//   low byte first;
// - once STOP is pressed no block and no CRC goes out, and nothing at all once the announce line
//   is out; after Cancel no block goes out;
// - "Process finished." is logged, and the production log line appended, exactly when the
//   announce line went out whole and its reply began with "OK", every block went out whole and
//   its last reply began with "OK", the closing reply began with "WAIT", and neither STOP nor
//   Cancel was pressed; the production line is "serial;tag;MM/DD/YY HH:MM:SS\r\n" with no other
//   CR, LF or ';';
// - "Process stopped." only after STOP or Cancel; the progress never goes back and stays within
//   0..100; the port is closed once; the run ends with an empty log line, and its outcome agrees
//   with the log: finished exactly when "Process finished." was logged, stopped only after STOP
//   or Cancel.
#include <algorithm>
#include <cstdlib>
#include <memory>

#include "tests/fuzz/fuzz_line.h"
#include "tests/support/records.h"
#include "tests/support/run_control.h"
#include "package/protocol_constants.h"
#include "update/run.h"
#include "update/operator_text.h"

namespace {

constexpr std::uint32_t kLengths[4] = {1100, 528, 99, 1};
constexpr std::uint32_t kBlock = 528;
// Long enough that no handshake write has the announce line's length.
constexpr char kVersion[] = "FUZZ-FIRMWARE-1";

package::Record& record() {
  static auto r = fakes::RecordBuilder()
                      .version(kVersion)
                      .access_code("ZV4711")
                      .log_tag("TAG")
                      .image([](std::uint32_t i) { return static_cast<std::uint8_t>(i * 7 + (i >> 8)); })
                      .build();
  return *r;
}

// CRC-16/MCRF4XX bit by bit: reflected polynomial 0x1021 (0x8408), initial 0xFFFF, no final XOR.
std::uint16_t reference_crc(const std::string& bytes) {
  std::uint16_t crc = 0xFFFF;
  for (unsigned char b : bytes) {
    crc ^= b;
    for (int k = 0; k < 8; ++k) crc = (crc & 1) ? static_cast<std::uint16_t>((crc >> 1) ^ 0x8408) : crc >> 1;
  }
  return crc;
}

// The platform of the run: the fuzz port, the test host, a fixed local time, a log that always opens.
class FuzzPlatform final : public update::Platform {
 public:
  FuzzPlatform(fuzz::FuzzPort& port, fakes::FakeHost& host) : port_(port), host_(host) {}
  serial::Port* open_port(const char*, std::uint32_t) override { return &port_; }
  serial::Host& host() override { return host_; }
  update::LocalTime local_time() override { return {2026, 12, 10, 9, 5, 7}; }
  bool append_file(const char* file_name, const char* data, std::size_t n, char*, std::size_t) override {
    FUZZ_CHECK(std::strcmp(file_name, "sn_build.txt") == 0);
    appended.emplace_back(data, n);
    return true;
  }
  std::vector<std::string> appended;

 private:
  fuzz::FuzzPort& port_;
  fakes::FakeHost& host_;
};

// The front end of the run. Log lines remember whether the port was closed when they came, so
// that the driver's closing lines are told apart from reply texts that read the same. Cancel
// reaches the run only while the dialog's controls are enabled, before after_query.
class FuzzObserver final : public update::RunObserver {
 public:
  explicit FuzzObserver(const fuzz::FuzzPort& port) : port_(port) {}
  void log_line(const char* text) override {
    const bool closed = !port_.events.empty() && port_.events.back().kind == fuzz::Kind::kClose;
    log.push_back(text ? text : "");
    after_close.push_back(closed);
  }
  void progress(std::uint32_t position, std::uint32_t) override { progress_positions.push_back(position); }
  void after_query() override { enabled = false; }
  // What the run returned.
  void over(const update::RunResult& r) {
    FUZZ_CHECK(r.outcome != update::Outcome::kPortNotOpened);  // the port always opens here
    // Every run that did not finish says where and why, in words; a finished one has nothing to say.
    const bool finished = r.outcome == update::Outcome::kFinished;
    FUZZ_CHECK(finished == (r.failure.cause == update::Cause::kNone));
    FUZZ_CHECK(finished == r.production_log.due);
    FUZZ_CHECK((r.outcome == update::Outcome::kStopped) == (r.failure.cause == update::Cause::kStopped));
    char words[update::kFailureTextSize];
    update::describe_failure(r.failure, words, sizeof words);
    FUZZ_CHECK(finished == (words[0] == '\0'));
  }

  bool logged_after_close(const char* text) const {
    for (std::size_t i = 0; i < log.size(); ++i)
      if (after_close[i] && log[i] == text) return true;
    return false;
  }

  std::vector<std::string> log;
  std::vector<bool> after_close;
  std::vector<std::uint32_t> progress_positions;
  bool enabled = true;

 private:
  const fuzz::FuzzPort& port_;
};

// The reply read after the event at `i`: what arrived up to the next pump, drain, write or close.
// Each reply is also kept as the text the run logs for it (up to its first NUL).
std::string reply_after(const std::vector<fuzz::Event>& ev, std::size_t i, std::vector<std::string>& texts) {
  std::size_t end = i + 1;
  while (end < ev.size() && ev[end].kind == fuzz::Kind::kRead) ++end;
  const std::string line = fuzz::line_of(fuzz::delivered(ev, i + 1, end));
  texts.push_back(line.substr(0, line.find('\0')));
  return line;
}

bool has_reads_after(const std::vector<fuzz::Event>& ev, std::size_t i) {
  return i + 1 < ev.size() && ev[i + 1].kind == fuzz::Kind::kRead;
}

const char* expect_log = nullptr;  // a log line every input must produce (seed checks)

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  expect_log = std::getenv("ZORVEN_FUZZ_EXPECT_LOG");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::Header header(data, size);
  const std::uint8_t choice = header.next();
  package::Record& pkg = record();
  const std::uint8_t v = choice & 0x07;
  pkg.variant = v == 7 ? 0xFF : v;
  pkg.scramble_flag = (choice >> 3) & 1;
  pkg.image_length = kLengths[(choice >> 4) & 3];
  const std::uint32_t length = pkg.image_length;

  fakes::FakeHost host;
  fuzz::FuzzPort port(data, size, host);
  FuzzObserver observer(port);
  const int speed_index = ((choice >> 6) & 3) - 1;
  const update::RunRequest request{"COM5", speed_index < 0 ? package::kDefaultSpeed : package::kSpeeds[speed_index],
                                   "sn_build.txt"};
  FuzzPlatform platform(port, host);
  update::RunState state;

  std::size_t stop_at = SIZE_MAX;    // event index of the pump at which STOP was pressed
  std::size_t cancel_at = SIZE_MAX;  // ... and Cancel
  host.on_pump = [&] {
    const fuzz::Press press = port.pump();
    if (press == fuzz::Press::kStop) {
      update::request_stop(state);
      if (stop_at == SIZE_MAX) stop_at = port.events.size() - 1;
    } else if (press == fuzz::Press::kCancel && observer.enabled) {
      update::request_cancel(state);
      if (cancel_at == SIZE_MAX) cancel_at = port.events.size() - 1;
    }
  };

  const update::RunResult result = update::run_update(request, observer, platform, state, pkg);
  observer.over(result);
  const update::Outcome outcome = result.outcome;
  // Acknowledged bytes never pass the image, and a finished run had all of them acknowledged.
  FUZZ_CHECK(result.bytes_acknowledged <= length);
  if (outcome == update::Outcome::kFinished) FUZZ_CHECK(result.bytes_acknowledged == length);

  const auto& ev = port.events;
  const std::string announce = std::string(kVersion) + ";" + std::to_string(length) + ";528;\r\n";

  // Walk the line after the announce line with the replies as the printer gave them.
  std::size_t announce_at = SIZE_MAX;
  for (std::size_t i = 0; i < ev.size() && announce_at == SIZE_MAX; ++i)
    if (ev[i].kind == fuzz::Kind::kWrite && ev[i].want == announce.size() &&
        announce.compare(0, ev[i].bytes.size(), ev[i].bytes) == 0)
      announce_at = i;

  std::vector<std::string> replies;  // as logged
  bool all_whole = true;  // the announce line and every block went out whole
  bool announce_ok = false, closing_ok = false;
  std::uint32_t done = 0;     // image bytes the printer accepted
  bool expect_block = true;   // the next write after the announce line is a block, else a CRC
  bool more_allowed = false;  // the last verdict lets another block go out
  std::string last_block;
  std::size_t last_verdict_at = SIZE_MAX;
  if (announce_at != SIZE_MAX) {
    all_whole = ev[announce_at].ok && ev[announce_at].got == announce.size();
    announce_ok = fuzz::begins_with(reply_after(ev, announce_at, replies), "OK");
    more_allowed = announce_ok && all_whole;
    for (std::size_t i = announce_at + 1; i < ev.size(); ++i) {
      const fuzz::Event& e = ev[i];
      if (e.kind != fuzz::Kind::kWrite) continue;
      // Nothing at all after STOP once the announce line is out; before it, the handshake and the
      // announce line may still go out, but then no block.
      FUZZ_CHECK(stop_at == SIZE_MAX || i < stop_at);
      if (expect_block) {
        FUZZ_CHECK(more_allowed);
        FUZZ_CHECK(cancel_at == SIZE_MAX || i < cancel_at);
        const std::uint32_t n = std::min(kBlock, length - done);
        FUZZ_CHECK(done < length && e.want == n);
        FUZZ_CHECK(std::memcmp(e.bytes.data(), pkg.image + done, e.got) == 0);
        if (!e.ok || e.got != n) all_whole = false;
        last_block.assign(reinterpret_cast<const char*>(pkg.image + done), n);
        expect_block = false;
        more_allowed = false;
      } else {
        const std::uint16_t crc = reference_crc(last_block);
        FUZZ_CHECK(e.want == 2);
        const std::string want{static_cast<char>(crc & 0xFF), static_cast<char>(crc >> 8)};
        FUZZ_CHECK(want.compare(0, e.bytes.size(), e.bytes) == 0);
        const std::string verdict = reply_after(ev, i, replies);
        last_verdict_at = i;
        if (fuzz::begins_with(verdict, "OK")) {
          done += static_cast<std::uint32_t>(last_block.size());
          more_allowed = done < length;
        } else {
          more_allowed = fuzz::begins_with(verdict, "RETRY");
        }
        expect_block = true;
      }
    }
    // The closing reply: read after the pump that follows the last block's accepted verdict.
    if (done == length && last_verdict_at != SIZE_MAX) {
      std::size_t p = last_verdict_at + 1;
      while (p < ev.size() && ev[p].kind == fuzz::Kind::kRead) ++p;
      if (p < ev.size() && ev[p].kind == fuzz::Kind::kPump && has_reads_after(ev, p)) {
        FUZZ_CHECK(stop_at > p);  // a STOP at the last pump ends the run without it
        closing_ok = fuzz::begins_with(reply_after(ev, p, replies), "WAIT");
      }
    }
  }
  const bool pressed = stop_at != SIZE_MAX || cancel_at != SIZE_MAX;
  const bool should_finish = announce_at != SIZE_MAX && all_whole && announce_ok && done == length && closing_ok && !pressed;
  const auto& log = observer.log;
  const bool finished = observer.logged_after_close("Process finished.");
  FUZZ_CHECK(finished == should_finish);
  FUZZ_CHECK(platform.appended.size() == (finished ? 1u : 0u));
  if (finished) {
    const std::string& line = platform.appended[0];
    FUZZ_CHECK(line.size() >= 2 && line.compare(line.size() - 2, 2, "\r\n") == 0);
    FUZZ_CHECK(line.find_first_of("\r\n") == line.size() - 2);
    FUZZ_CHECK(std::count(line.begin(), line.end(), ';') == 2);
    const std::string tail = ";TAG;12/10/26 09:05:07\r\n";
    FUZZ_CHECK(line.size() >= tail.size() && line.compare(line.size() - tail.size(), tail.size(), tail) == 0);
  }
  if (std::count(log.begin(), log.end(), "Process stopped.") >
      std::count(replies.begin(), replies.end(), "Process stopped."))
    FUZZ_CHECK(pressed);

  std::uint32_t previous = 0;
  for (std::uint32_t p : observer.progress_positions) {
    FUZZ_CHECK(p >= previous && p <= 100);
    previous = p;
  }
  FUZZ_CHECK(std::count_if(ev.begin(), ev.end(), [](const fuzz::Event& e) { return e.kind == fuzz::Kind::kClose; }) == 1);
  FUZZ_CHECK(ev.back().kind == fuzz::Kind::kClose);
  FUZZ_CHECK(!log.empty() && log.back().empty());
  // The outcome says what the log says: finished exactly with "Process finished.", stopped only
  // after STOP or Cancel.
  FUZZ_CHECK((outcome == update::Outcome::kFinished) == finished);
  if (outcome == update::Outcome::kStopped) FUZZ_CHECK(stop_at != SIZE_MAX || cancel_at != SIZE_MAX);

  if (std::getenv("ZORVEN_FUZZ_TRACE") != nullptr) {
    fuzz::trace(ev);
    for (const std::string& l : log) std::fprintf(stderr, "log: %s\n", l.c_str());
  }
  if (expect_log != nullptr && std::find(log.begin(), log.end(), expect_log) == log.end()) {
    std::fprintf(stderr, "the run did not log \"%s\"\n", expect_log);
    std::abort();
  }
  return 0;
}
