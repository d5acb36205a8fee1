// zorven-mkpackage: writes the 655,784-byte firmware package record that the build embeds.
//
//   zorven-mkpackage --out FILE (--image FILE | --sample-image [BYTES]) --version TEXT
//                    --variant N --scramble N --access-code CODE --log-tag TEXT
//                    [--presence N] [--reserved HEX]
//
// Bad input gets a message on stderr and exit status 2; no record is written then.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "package/package.h"
#include "package/sample_image.h"

namespace {

const char kUsage[] =
    "usage: zorven-mkpackage --out FILE (--image FILE | --sample-image [BYTES])\n"
    "                        --version TEXT --variant 0..255 --scramble N\n"
    "                        --access-code CODE(6 bytes) --log-tag TEXT\n"
    "                        [--presence N] [--reserved HEX(up to 32 digits)]\n";

int fail(const char* what, const char* detail = "") {
  std::fprintf(stderr, "zorven-mkpackage: %s%s\n", what, detail);
  return 2;
}

bool parse_long(const char* s, long long lo, long long hi, long long& out) {
  if (s == nullptr || *s == 0) return false;
  char* end = nullptr;
  errno = 0;
  long long v = std::strtoll(s, &end, 0);
  if (errno != 0 || *end != 0 || v < lo || v > hi) return false;
  out = v;
  return true;
}

bool read_file(const char* path, std::vector<std::uint8_t>& out) {
  std::FILE* f = std::fopen(path, "rb");
  if (!f) return false;
  std::uint8_t chunk[65536];
  std::size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) {
    out.insert(out.end(), chunk, chunk + n);
    if (out.size() > package::kImageCapacity) break;  // enough to know it is too large
  }
  bool ok = !std::ferror(f);
  std::fclose(f);
  return ok;
}

int hexval(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

int main(int argc, char** argv) {
  const char* out = nullptr;
  const char* image_path = nullptr;
  long long sample_bytes = -1;
  const char* version = nullptr;
  const char* access = nullptr;
  const char* tag = nullptr;
  const char* reserved = nullptr;
  long long variant = -1, scramble = -1, presence = 0x0007C000;
  bool have_variant = false, have_scramble = false;

  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    const char* v = i + 1 < argc ? argv[i + 1] : nullptr;
    auto need = [&]() { return v != nullptr; };
    if (a == "--help" || a == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (a == "--sample-image") {
      sample_bytes = package::kImageCapacity;
      long long n;
      if (v && v[0] != '-' && parse_long(v, 0, 1LL << 40, n)) {
        sample_bytes = n;
        ++i;
      }
      continue;
    }
    if (!need()) {
      std::fputs(kUsage, stderr);
      return fail("missing value after ", argv[i]);
    }
    ++i;
    if (a == "--out") out = v;
    else if (a == "--image") image_path = v;
    else if (a == "--version") version = v;
    else if (a == "--access-code") access = v;
    else if (a == "--log-tag") tag = v;
    else if (a == "--reserved") reserved = v;
    else if (a == "--variant") {
      if (!parse_long(v, 0, 255, variant)) return fail("protocol variant must be 0 to 255: ", v);
      have_variant = true;
    } else if (a == "--scramble") {
      if (!parse_long(v, 0, 0xFFFFFFFFLL, scramble)) return fail("scramble flag must be 0 to 4294967295: ", v);
      have_scramble = true;
    } else if (a == "--presence") {
      if (!parse_long(v, INT32_MIN, INT32_MAX, presence)) return fail("presence word must be a signed 32-bit number: ", v);
    } else {
      std::fputs(kUsage, stderr);
      return fail("unknown option ", argv[i - 1]);
    }
  }

  if (!out) {
    std::fputs(kUsage, stderr);
    return fail("--out is required");
  }
  if ((image_path == nullptr) == (sample_bytes < 0)) return fail("give exactly one of --image and --sample-image");
  if (!version) return fail("--version is required");
  if (!have_variant) return fail("--variant is required");
  if (!have_scramble) return fail("--scramble is required");
  if (!access) return fail("--access-code is required");
  if (!tag) return fail("--log-tag is required");
  if (std::strlen(version) > package::kVersionSize - 1) return fail("version text longer than 255 characters");
  if (std::strlen(access) != package::kAccessCodeSize) return fail("access code must be exactly 6 bytes: ", access);
  if (std::strlen(tag) > package::kLogTagSize - 1) return fail("log tag longer than 128 characters");

  std::vector<std::uint8_t> img;
  if (image_path) {
    if (!read_file(image_path, img)) return fail("cannot read image file ", image_path);
  } else {
    if (sample_bytes > static_cast<long long>(package::kImageCapacity)) return fail("image larger than 655360 bytes");
    img.resize(static_cast<std::size_t>(sample_bytes));
    package::fill_sample_image(img.data(), img.size());
  }
  if (img.empty()) return fail("image is empty");
  if (img.size() > package::kImageCapacity) return fail("image larger than 655360 bytes");

  static package::Record rec;  // zero-filled: unused image area and field tails stay 0
  rec.marker = package::kMarker;
  rec.scramble_flag = static_cast<std::uint32_t>(scramble);
  if (reserved) {
    std::size_t len = std::strlen(reserved);
    if (len % 2 != 0 || len > 2 * package::kReservedSize) return fail("reserved block must be up to 32 hexadecimal digits");
    for (std::size_t k = 0; k < len; k += 2) {
      int hi = hexval(reserved[k]), lo = hexval(reserved[k + 1]);
      if (hi < 0 || lo < 0) return fail("reserved block must be hexadecimal: ", reserved);
      rec.reserved[k / 2] = static_cast<std::uint8_t>(hi * 16 + lo);
    }
  }
  rec.presence = static_cast<std::int32_t>(presence);
  rec.image_length = static_cast<std::uint32_t>(img.size());
  rec.variant = static_cast<std::uint8_t>(variant);
  std::memcpy(rec.version, version, std::strlen(version));
  std::memcpy(rec.image, img.data(), img.size());
  std::memcpy(rec.access_code, access, package::kAccessCodeSize);
  std::memcpy(rec.log_tag, tag, std::strlen(tag));

  // Little-endian on every platform this tool builds for; the record is written as it lies.
  std::string tmp = std::string(out) + ".tmp";
  std::FILE* f = std::fopen(tmp.c_str(), "wb");
  if (!f) return fail("cannot create ", tmp.c_str());
  bool ok = std::fwrite(&rec, sizeof rec, 1, f) == 1;
  ok = (std::fclose(f) == 0) && ok;
  if (!ok || std::rename(tmp.c_str(), out) != 0) {
    std::remove(tmp.c_str());
    return fail("cannot write ", out);
  }
  return 0;
}
