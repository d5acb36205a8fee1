// Timed serial I/O. Every read here is bounded twice: by the port's own request time-outs (a
// request that receives nothing lasts about one second) and by the reply timeout, counted in whole
// calendar seconds from the start of the read. Comparing elapsed >= timeout on whole seconds
// means a silent read ends between timeout - 1 and timeout + 1 seconds after it began.
#include "serial/timed_io.h"

#include <cstring>

namespace serial {

namespace {

constexpr std::uint8_t kLF = 0x0A;
constexpr std::uint8_t kCR = 0x0D;

// Room the line read keeps after the line's own bytes: the CR and the byte that follows it are
// stored behind the counted bytes, and reply_cut writes its terminator at the count. With the
// count limited to cap - 2, the terminator (at the count) and CR + byte (at count, count + 1)
// all land inside the buffer.
constexpr std::size_t kLineTailRoom = 2;

bool timed_out(Line& line, std::int64_t start) {
  const std::int64_t elapsed = line.host.now_seconds() - start;
  return elapsed >= static_cast<std::int64_t>(line.reply_timeout);
}

}  // namespace

void discard_input(Line& line) {
  // The status query's own result does not matter: a failed query reports nothing waiting.
  std::uint32_t waiting = line.port.queued();
  // More input than the drain area holds is read in several requests, never past the area. A
  // request that fails or brings nothing ends the drain: the queue count was stale, and waiting
  // for bytes that are not coming would only delay the write.
  while (waiting > 0) {
    const std::uint32_t chunk =
        waiting < kDrainAreaSize ? waiting : static_cast<std::uint32_t>(kDrainAreaSize);
    std::uint32_t got = 0;
    if (!line.port.read(line.drain_area, chunk, got) || got == 0) break;
    waiting -= got < waiting ? got : waiting;
  }
}

bool drained_write(Line& line, const void* data, std::uint32_t n) {
  discard_input(line);
  std::uint32_t written = 0;
  const bool ok = line.port.write(data, n, written);
  // A short write is a failure; nothing is retried.
  return ok && written == n;
}

std::int32_t line_read(Line& line, char* dst, std::size_t cap) {
  // A line longer than the buffer is read to its end and its surplus bytes are dropped: the line
  // still ends on the wire exactly where it ends, so the next read starts at the next line.
  const std::size_t limit = cap > kLineTailRoom ? cap - kLineTailRoom : 0;
  const std::int64_t start = line.host.now_seconds();
  std::int32_t count = 0;

  for (;;) {
    std::uint8_t byte = 0;
    std::uint32_t got = 0;
    if (!line.port.read(&byte, 1, got)) return count;

    if (got == 1) {
      if (byte == kLF) {
        // The LF stays stored behind the line, uncounted.
        if (static_cast<std::size_t>(count) < cap) dst[count] = static_cast<char>(byte);
        return count;
      }
      if (byte == kCR) {
        // The CR and the one byte after it (whatever it is) end the line; both are stored behind
        // the line and neither is counted. The byte after the CR must also arrive before the
        // reply timeout.
        std::size_t pos = static_cast<std::size_t>(count);
        if (pos < cap) dst[pos] = static_cast<char>(byte);
        ++pos;
        for (;;) {
          std::uint8_t next = 0;
          std::uint32_t next_got = 0;
          // Whether the request succeeded is not looked at: only a byte ends the wait.
          (void)line.port.read(&next, 1, next_got);
          if (next_got == 1) {
            if (pos < cap) dst[pos] = static_cast<char>(next);
            return count;
          }
          if (timed_out(line, start)) return count;
        }
      }
      if (static_cast<std::size_t>(count) < limit) {
        dst[count] = static_cast<char>(byte);
        ++count;
      }
      // else: surplus of an over-long line, dropped.
    }

    // A line without an end is cut off by the reply timeout, counted from the start of the read.
    if (timed_out(line, start)) return count;
  }
}

std::int32_t block_read(Line& line, void* dst, std::uint32_t n) {
  auto* out = static_cast<std::uint8_t*>(dst);
  std::memset(out, 0, n);
  const std::int64_t start = line.host.now_seconds();
  // The running count is the bytes received plus, for each request, the position of the first LF
  // among the bytes that request returned. It can therefore run ahead of the bytes really stored.
  std::int32_t count = 0;
  std::uint32_t stored = 0;

  for (;;) {
    // Each request asks only for the room left, so nothing is stored past out[n - 1]. Since the
    // count never falls behind the bytes stored, the room is never 0 here unless n is 0, and
    // that one request for 0 bytes is idle as it should be.
    const std::uint32_t room = n - stored;
    std::uint32_t got = 0;
    if (!line.port.read(out + stored, room, got)) {
      // A failed request reports the whole block as read; what did not arrive stays 0.
      return static_cast<std::int32_t>(n);
    }

    const void* lf = std::memchr(out + stored, kLF, got);
    if (lf != nullptr) {
      count += static_cast<std::int32_t>(static_cast<const std::uint8_t*>(lf) - (out + stored));
    }
    count += static_cast<std::int32_t>(got);
    stored += got;

    const std::int64_t now = line.host.now_seconds();

    if (got == 0) {
      // Only an idle request lets the user interface run, and only then is STOP looked at: a
      // printer that keeps sending holds the read until the count or the timeout ends it.
      line.host.pump_one();
      if (line.stop_request != 0) return count;
    }

    if (static_cast<std::uint32_t>(count) >= n) return count;

    if (now - start >= static_cast<std::int64_t>(line.reply_timeout)) return count;
  }
}

void reply_cut(char* area, std::int32_t len) {
  const std::int32_t end = len > 0 ? len : 0;
  for (std::int32_t i = 0; i < end; ++i) {
    if (area[i] == static_cast<char>(kCR) || area[i] == static_cast<char>(kLF)) {
      area[i] = '\0';
      return;
    }
  }
  area[end] = '\0';
}

bool reply_match(const char* reply, const char* word, std::size_t n) {
  // Case matters, and the bytes compared may include stale ones from an earlier, longer reply.
  return std::memcmp(reply, word, n) == 0;
}

}  // namespace serial
