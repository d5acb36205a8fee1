#include "tools/printer/announce.h"

namespace printer {
namespace {

// A decimal number without sign or leading zeros, as the announce line carries it.
bool parse_decimal(const std::string& s, std::uint64_t limit, std::uint32_t& out) {
  if (s.empty() || s.size() > 10 || (s.size() > 1 && s[0] == '0')) return false;
  std::uint64_t v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + static_cast<unsigned>(c - '0');
  }
  if (v > limit) return false;
  out = static_cast<std::uint32_t>(v);
  return true;
}

}  // namespace

std::string parse_announce(const std::string& line, Announce& out) {
  const bool crlf = line.size() >= 2 && line[line.size() - 2] == '\r';
  const std::string body = crlf ? line.substr(0, line.size() - 2) : "";
  // The three separators, from the right: the closing one, then the two before it.
  const std::size_t s3 = body.empty() ? std::string::npos : body.size() - 1;
  const std::size_t s2 = s3 == std::string::npos || body[s3] != ';' || s3 == 0 ? std::string::npos : body.rfind(';', s3 - 1);
  const std::size_t s1 = s2 == std::string::npos || s2 == 0 ? std::string::npos : body.rfind(';', s2 - 1);
  if (!crlf) return "announce line does not end in CR LF";
  if (s1 == std::string::npos) return "announce line is not <version>;<length>;<block size>;";
  if (!parse_decimal(body.substr(s1 + 1, s2 - s1 - 1), kMaxImageLength, out.image_length) || out.image_length == 0)
    return "bad image length in the announce line";
  if (!parse_decimal(body.substr(s2 + 1, s3 - s2 - 1), kMaxBlockSize, out.block_size) || out.block_size == 0)
    return "bad block size in the announce line";
  out.version = body.substr(0, s1);
  return "";
}

}  // namespace printer
