// A printer for update-run tests, served on a FakePort: it answers the identification query and
// the entry frame, takes the announce line and the blocks with their CRCs, and gives the replies a
// test chooses. Replies go into the port's input queue right after the write they answer, so the
// updater's drains before its next write throw away whatever it leaves unread.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "tests/support/fakes.h"

namespace fakes {

inline const std::string kIdentificationQuery("\x02\x23\x42\x60\x30\x31\x0A", 7);

// A framed reply to the identification query carrying `data` (e.g. "A1B2C3;rest").
inline std::string query_reply(const std::string& data) {
  std::string r = "\x02";
  r += static_cast<char>(0x23 + data.size());
  r += "00" + data + "00\n";
  return r;
}

// The common handshake's accepted reply: STX, length, status "00", two checksum characters, LF.
inline const std::string kHandshakeAccepted("\x02\x23" "00" "23\n", 7);

class ScriptedPrinter {
 public:
  enum class Phase { kHandshake, kAnnounce, kBlock, kCrc, kDone };

  // `in_update_mode`: the printer is past the handshake and expects the announce line first.
  explicit ScriptedPrinter(FakePort& port, bool in_update_mode = true)
      : phase(in_update_mode ? Phase::kAnnounce : Phase::kHandshake), port_(port) {
    port.on_write = [this](const std::vector<std::uint8_t>& w) { take(std::string(w.begin(), w.end())); };
  }

  // Replies; an empty reply is silence.
  std::string query_answer;                      // to the identification query
  std::string handshake_answer = kHandshakeAccepted;  // to the entry frame
  std::string announce_answer = "OK\r\n";
  // To each block by its sending order (resends count); "OK\r\n" when unset.
  std::function<std::string(std::size_t send)> block_answer;
  std::string closing_answer = "WAIT\r\n";  // after the verdict that accepts the last block
  int closing_delay = 0;                    // silent seconds before the closing reply
  int handshake_delay = 0;                  // silent seconds before the reply to the entry frame
  int block_delay = 0;                      // silent seconds before each block's verdict

  // What arrived.
  Phase phase;
  int queries = 0;
  std::vector<std::string> frames;  // entry frames, in order
  std::string announce;
  std::vector<std::string> blocks;  // every block as sent, resends included
  std::vector<std::string> crcs;    // the two bytes that followed each block
  std::size_t accepted = 0;         // image bytes the printer answered "OK" to

 private:
  void take(const std::string& w) {
    if (w == kIdentificationQuery) {
      ++queries;
      port_.feed(query_answer);
      return;
    }
    switch (phase) {
      case Phase::kHandshake:
        frames.push_back(w);
        if (handshake_delay == 0) {
          port_.feed(handshake_answer);
        } else if (!handshake_answer.empty()) {
          answer_later(handshake_answer, handshake_delay);
        }
        phase = Phase::kAnnounce;
        break;
      case Phase::kAnnounce:
        announce = w;
        total_ = announced_length(w);
        port_.feed(announce_answer);
        phase = Phase::kBlock;
        break;
      case Phase::kBlock:
        blocks.push_back(w);
        phase = Phase::kCrc;
        break;
      case Phase::kCrc: {
        crcs.push_back(w);
        std::string verdict = block_answer ? block_answer(blocks.size() - 1) : "OK\r\n";
        if (verdict.compare(0, 2, "OK") == 0) accepted += blocks.back().size();
        phase = Phase::kBlock;
        const bool last = accepted >= total_ && verdict.compare(0, 2, "OK") == 0;
        if (block_delay == 0 && (!last || closing_delay == 0)) {
          port_.feed(last ? verdict + closing_answer : verdict);
        } else {
          // Scripted requests come before the input queue, so a reply that follows a delayed
          // one is scripted too.
          answer_later(verdict, block_delay);
          if (last) answer_later(closing_answer, closing_delay);
        }
        if (last) phase = Phase::kDone;
        break;
      }
      case Phase::kDone:
        frames.push_back(w);  // nothing more is expected
        break;
    }
  }

  // `reply` after `delay` seconds of silence, as scripted read requests.
  void answer_later(const std::string& reply, int delay) {
    for (int i = 0; i < delay; ++i) port_.steps.push_back(idle(1));
    port_.steps.push_back(data(reply));
  }

  // The image length from "<version>;<length>;528;\r\n".
  static std::size_t announced_length(const std::string& line) {
    const std::size_t end = line.rfind(";528;");
    if (end == std::string::npos || end == 0) return 0;
    const std::size_t start = line.rfind(';', end - 1);
    if (start == std::string::npos) return 0;
    return std::strtoul(line.c_str() + start + 1, nullptr, 10);
  }

  FakePort& port_;
  std::size_t total_ = 0;  // image length from the announce line
};

}  // namespace fakes
