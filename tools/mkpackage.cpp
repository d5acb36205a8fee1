// zorven-mkpackage: writes the 655,784-byte firmware package record that the build embeds.
//
//   zorven-mkpackage --out FILE (--image FILE | --sample-image [BYTES]) --version TEXT
//                    --variant N --scramble N --access-code CODE --log-tag TEXT
//                    [--presence N] [--reserved HEX]
//
// Numbers are decimal ("010" is ten), or hexadecimal with a 0x prefix; only the presence word
// takes a minus sign. --version-hex, --access-code-hex and --log-tag-hex give the same texts as
// their bytes in hexadecimal digits (the build hands them over this way, so that no character of
// a text can be taken apart on its way through CMake, Ninja and a shell); they carry exactly the
// texts the plain options can, so a NUL byte is refused.
//
// Bad input gets a message on stderr and exit status 2; no record is written then.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "package/package.h"
#include "package/sample_image.h"
#include "tools/option_error.h"

namespace {

const char kUsage[] =
    "usage: zorven-mkpackage --out FILE (--image FILE | --sample-image [BYTES])\n"
    "                        --version TEXT --variant 0..255 --scramble N\n"
    "                        --access-code CODE(6 bytes) --log-tag TEXT\n"
    "                        [--presence N] [--reserved HEX(up to 32 digits)]\n"
    "numbers: decimal, or hexadecimal with 0x; texts also as --version-hex,\n"
    "--access-code-hex, --log-tag-hex HEX (the text's bytes in hexadecimal)\n";

int fail(const char* what, const char* detail = "") {
  std::fprintf(stderr, "zorven-mkpackage: %s%s\n", what, detail);
  return 2;
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

// Decimal digits, or hexadecimal digits after 0x/0X; a minus sign only where lo is negative.
// Nothing else: no blanks, no plus sign, no octal reading of a leading 0.
bool parse_long(const char* s, long long lo, long long hi, long long& out) {
  if (s == nullptr) return false;
  bool negative = false;
  if (*s == '-' && lo < 0) {
    negative = true;
    ++s;
  }
  int base = 10;
  if (s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
    base = 16;
    s += 2;
  }
  if (*s == 0) return false;
  unsigned long long v = 0;
  for (; *s != 0; ++s) {
    int d = base == 16 ? hexval(*s) : (*s >= '0' && *s <= '9' ? *s - '0' : -1);
    if (d < 0) return false;
    v = v * static_cast<unsigned>(base) + static_cast<unsigned>(d);
    if (v > (1ULL << 41)) return false;  // far beyond every range asked for; no overflow
  }
  long long n = negative ? -static_cast<long long>(v) : static_cast<long long>(v);
  if (n < lo || n > hi) return false;
  out = n;
  return true;
}

// A text given as its bytes in hexadecimal digits; the empty digit string is the empty text.
bool decode_hex_text(const char* hex, std::string& out) {
  out.clear();
  std::size_t len = std::strlen(hex);
  if (len % 2 != 0) return false;
  for (std::size_t k = 0; k < len; k += 2) {
    int hi = hexval(hex[k]), lo = hexval(hex[k + 1]);
    if (hi < 0 || lo < 0 || (hi == 0 && lo == 0)) return false;
    out.push_back(static_cast<char>(hi * 16 + lo));
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app;
  app.set_help_flag();
  app.allow_extras();
  app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  bool help = false;
  std::string out_s, image_s, version_s, access_s, tag_s, reserved_s, version_hex_s, access_hex_s, tag_hex_s;
  std::string variant_s, scramble_s, presence_s, sample_s;
  app.add_flag("-h,--help", help);
  // --sample-image takes its size only when one follows: alone it means the whole image area.
  app.add_option("--sample-image", sample_s)->expected(0, 1);
  const struct {
    const char* name;
    std::string* value;
  } valued[] = {{"--out", &out_s},         {"--image", &image_s},           {"--version", &version_s},
                {"--access-code", &access_s}, {"--log-tag", &tag_s},       {"--reserved", &reserved_s},
                {"--version-hex", &version_hex_s}, {"--access-code-hex", &access_hex_s},
                {"--log-tag-hex", &tag_hex_s}, {"--variant", &variant_s},  {"--scramble", &scramble_s},
                {"--presence", &presence_s}};
  for (const auto& v : valued) app.add_option(v.name, *v.value);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ArgumentMismatch& e) {
    std::fputs(kUsage, stderr);
    return fail("missing value after ", tools::option_of(e.what()).c_str());
  } catch (const CLI::ParseError& e) {
    std::fputs(kUsage, stderr);
    return fail(e.what());
  }
  if (help) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (!app.remaining().empty()) {
    std::fputs(kUsage, stderr);
    return fail("unknown option ", app.remaining()[0].c_str());
  }
  auto given = [&](const char* name) { return app.count(name) > 0; };
  auto text = [&](const char* name, const std::string& value) { return given(name) ? value.c_str() : nullptr; };

  const char* out = text("--out", out_s);
  const char* image_path = text("--image", image_s);
  const char* version = text("--version", version_s);
  const char* access = text("--access-code", access_s);
  const char* tag = text("--log-tag", tag_s);
  const char* reserved = text("--reserved", reserved_s);
  std::string version_hex, access_hex, tag_hex;  // decoded --*-hex texts
  long long variant = -1, scramble = -1, presence = 0x0007C000;
  long long sample_bytes = -1;
  if (given("--sample-image")) {
    sample_bytes = package::kImageCapacity;
    if (!sample_s.empty() && !parse_long(sample_s.c_str(), 0, 1LL << 40, sample_bytes))
      return fail("sample image size must be a number of bytes: ", sample_s.c_str());
  }
  const struct {
    const char* name;
    const std::string& hex;
    std::string& decoded;
    const char*& text;
  } hex_texts[] = {{"--version-hex", version_hex_s, version_hex, version},
                   {"--access-code-hex", access_hex_s, access_hex, access},
                   {"--log-tag-hex", tag_hex_s, tag_hex, tag}};
  for (const auto& h : hex_texts) {
    if (!given(h.name)) continue;
    if (!decode_hex_text(h.hex.c_str(), h.decoded))
      return fail((std::string(h.name) + " needs pairs of hexadecimal digits, no 00: ").c_str(), h.hex.c_str());
    h.text = h.decoded.c_str();
  }
  const bool have_variant = given("--variant"), have_scramble = given("--scramble");
  if (have_variant && !parse_long(variant_s.c_str(), 0, 255, variant))
    return fail("protocol variant must be 0 to 255, decimal or 0x hexadecimal: ", variant_s.c_str());
  if (have_scramble && !parse_long(scramble_s.c_str(), 0, 0xFFFFFFFFLL, scramble))
    return fail("scramble flag must be 0 to 4294967295, decimal or 0x hexadecimal: ", scramble_s.c_str());
  if (given("--presence") && !parse_long(presence_s.c_str(), INT32_MIN, INT32_MAX, presence))
    return fail("presence word must be a signed 32-bit number, decimal or 0x hexadecimal: ", presence_s.c_str());

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
  // The code is 6 ASCII characters: DEL and every byte with the high bit set are refused. Control
  // characters (1 to 31) are ASCII and are kept as given: a code supplied with a firmware release
  // may hold one, and the frames carry the 6 bytes without reading them.
  for (std::size_t k = 0; k < package::kAccessCodeSize; ++k)
    if (static_cast<unsigned char>(access[k]) > 0x7E) return fail("access code must be 6 ASCII characters, none above 0x7E: ", access);
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
