// zorven-mkpackage: writes the 655,784-byte firmware package record that the build embeds.
// Run with --help for the options.
//
// Numbers are decimal ("010" is ten), or hexadecimal with a 0x prefix; only the presence word
// takes a minus sign. --version-hex, --access-code-hex and --log-tag-hex give the same texts as
// their bytes in hexadecimal digits (the build hands them over this way, so that no character of
// a text can be taken apart on its way through CMake, Ninja and a shell); they carry exactly the
// texts the plain options can, so a NUL byte is refused.
//
// Bad input gets a one-line message on stderr and exit status 2; no record is written then.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "package/package.h"
#include "package/sample_image.h"
#include "tools/option_error.h"
#include "tools/replace_file.h"

namespace {

constexpr int kExitBadInput = 2;
constexpr std::int32_t kDefaultPresence = 0x0007C000;
constexpr std::uint32_t kMaxVariant = 255;  // the record's variant is one byte
constexpr std::uint32_t kMaxScramble = UINT32_MAX;

int fail(const std::string& what, const char* detail = "") {
  std::fprintf(stderr, "zorven-mkpackage: %s%s\n", what.c_str(), detail);
  return kExitBadInput;
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

// The forms a number takes: decimal digits, or hexadecimal digits after 0x or 0X, with a minus
// sign in front only where `negative` allows one. Nothing else: no blanks, no plus sign, no 0b.
// CLI11 converts the text and checks its range; a decimal number loses its leading zeros first,
// which CLI11 would read as octal.
CLI::Validator number_form(bool negative) {
  return CLI::Validator(
      [negative](std::string& s) -> std::string {
        const std::size_t sign = negative && !s.empty() && s[0] == '-' ? 1 : 0;
        const bool hex = s.size() > sign + 1 && s[sign] == '0' && (s[sign + 1] == 'x' || s[sign + 1] == 'X');
        const std::size_t digits = sign + (hex ? 2 : 0);
        if (digits == s.size() || s.find_first_not_of(hex ? "0123456789abcdefABCDEF" : "0123456789", digits) !=
                                      std::string::npos)
          return "must be a decimal or 0x hexadecimal number: " + s;
        if (!hex) s.erase(sign, std::min(s.find_first_not_of('0', sign), s.size() - 1) - sign);
        return "";
      },
      "");
}

// A text given as its bytes in hexadecimal digits, turned into that text; the empty digit string
// is the empty text.
const CLI::Validator kHexText(
    [](std::string& hex) -> std::string {
      std::string text;
      for (std::size_t k = 0; k + 1 < hex.size(); k += 2) {
        const int hi = hexval(hex[k]), lo = hexval(hex[k + 1]);
        if (hi < 0 || lo < 0 || (hi == 0 && lo == 0)) break;
        text.push_back(static_cast<char>(hi * 16 + lo));
      }
      if (text.size() * 2 != hex.size()) return "needs pairs of hexadecimal digits, no 00: " + hex;
      hex = text;
      return "";
    },
    "");

// A text given as itself (--NAME) or as its bytes in hexadecimal digits (--NAME-hex).
void add_text_option(CLI::App& app, const std::string& name, std::string& text, std::string& hex,
                     const std::string& what, const std::string& short_what, const char* type = nullptr) {
  CLI::Option* plain = app.add_option(name, text, what + "; this or " + name + "-hex is required");
  if (type != nullptr) plain->type_name(type);
  app.add_option(name + "-hex", hex, short_what + " in hexadecimal digits")->type_name("HEX")->transform(kHexText);
}

struct Values {
  std::string out, image, version, access_code, log_tag, reserved;
  std::string version_hex, access_code_hex, log_tag_hex;  // decoded
  std::uint32_t sample_bytes = 0;
  std::uint32_t variant = 0;
  std::uint32_t scramble = 0;
  std::int32_t presence = kDefaultPresence;
};

void define(CLI::App& app, Values& v) {
  app.description("Writes the 655,784-byte firmware package record that the build embeds.");
  app.footer(
      "Numbers are decimal (\"010\" is ten) or hexadecimal with 0x; only --presence takes a minus sign.\n"
      "The -hex options give the same texts as their bytes in hexadecimal digits (no 00).");
  app.set_help_flag("-h,--help", "show this help and exit");
  app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  app.get_formatter()->column_width(40);
  app.add_option("--out", v.out, "the record file to write")->type_name("FILE")->required();
  app.add_option("--image", v.image, "the firmware image; this or --sample-image is required")->type_name("FILE");
  // Its size only when one follows: alone it means the whole image area.
  app.add_option("--sample-image", v.sample_bytes, "a generated sample image of this many bytes instead")
      ->type_name("[BYTES]")
      ->expected(0, 1)
      ->default_str(std::to_string(package::kImageCapacity))
      ->transform(number_form(false))
      ->check(CLI::Range(0u, package::kImageCapacity));
  add_text_option(app, "--version", v.version, v.version_hex,
                  "the version text (up to " + std::to_string(package::kVersionSize - 1) + " characters)",
                  "the version text");
  app.add_option("--variant", v.variant, "the protocol variant")
      ->type_name("N")
      ->required()
      ->transform(number_form(false))
      ->check(CLI::Range(0u, kMaxVariant));
  app.add_option("--scramble", v.scramble, "the scramble flag (not 0: variant 3 scrambles its entry frame)")
      ->type_name("N")
      ->required()
      ->transform(number_form(false))
      ->check(CLI::Range(0u, kMaxScramble));
  add_text_option(app, "--access-code", v.access_code, v.access_code_hex,
                  "the " + std::to_string(package::kAccessCodeSize) + " ASCII characters of the entry frame",
                  "the access code", "CODE");
  add_text_option(app, "--log-tag", v.log_tag, v.log_tag_hex,
                  "the production log's tag (up to " + std::to_string(package::kLogTagSize - 1) + " characters)",
                  "the log tag");
  app.add_option("--presence", v.presence, "the presence word (-1 marks the package empty)")
      ->type_name("N")
      ->transform(number_form(true))
      ->check(CLI::Range(INT32_MIN, INT32_MAX))
      ->capture_default_str();
  app.add_option("--reserved", v.reserved,
                 "the reserved block's bytes, up to " + std::to_string(2 * package::kReservedSize) +
                     " hexadecimal digits")
      ->type_name("HEX");
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app("", "zorven-mkpackage");
  Values v;
  define(app, v);
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    std::fputs(app.help().c_str(), stdout);
    return 0;
  } catch (const CLI::ArgumentMismatch& e) {
    return fail("missing value after " + tools::option_of(e.what()));
  } catch (const CLI::ParseError& e) {
    return fail(e.what());
  }
  auto given = [&](const char* name) { return app.count(name) > 0; };
  // A text from its -hex option when that is given, else from the plain one; nullptr: neither.
  auto text = [&](const char* name, const std::string& plain, const char* hex_name, const std::string& hex) {
    return given(hex_name) ? hex.c_str() : given(name) ? plain.c_str() : nullptr;
  };
  const char* out = v.out.c_str();
  const char* image_path = given("--image") ? v.image.c_str() : nullptr;
  const bool sample = given("--sample-image");
  // An empty size asks for the whole image area, as no size does.
  if (sample && app.get_option("--sample-image")->results() == std::vector<std::string>{""})
    v.sample_bytes = package::kImageCapacity;
  const char* version = text("--version", v.version, "--version-hex", v.version_hex);
  const char* access = text("--access-code", v.access_code, "--access-code-hex", v.access_code_hex);
  const char* tag = text("--log-tag", v.log_tag, "--log-tag-hex", v.log_tag_hex);
  const char* reserved = given("--reserved") ? v.reserved.c_str() : nullptr;

  if ((image_path == nullptr) == !sample) return fail("give exactly one of --image and --sample-image");
  if (!version) return fail("--version is required");
  if (!access) return fail("--access-code is required");
  if (!tag) return fail("--log-tag is required");
  const std::string code_size = std::to_string(package::kAccessCodeSize);
  if (std::strlen(version) > package::kVersionSize - 1)
    return fail("version text longer than " + std::to_string(package::kVersionSize - 1) + " characters");
  if (std::strlen(access) != package::kAccessCodeSize) return fail("access code must be exactly " + code_size + " bytes: ", access);
  // The code is 6 ASCII characters: DEL and every byte with the high bit set are refused. Control
  // characters (1 to 31) are ASCII and are kept as given: a code supplied with a firmware release
  // may hold one, and the frames carry the 6 bytes without reading them.
  for (std::size_t k = 0; k < package::kAccessCodeSize; ++k)
    if (static_cast<unsigned char>(access[k]) > 0x7E)
      return fail("access code must be " + code_size + " ASCII characters, none above 0x7E: ", access);
  if (std::strlen(tag) > package::kLogTagSize - 1)
    return fail("log tag longer than " + std::to_string(package::kLogTagSize - 1) + " characters");

  std::vector<std::uint8_t> img;
  if (image_path) {
    if (!read_file(image_path, img)) return fail("cannot read image file ", image_path);
  } else {
    img.resize(v.sample_bytes);
    package::fill_sample_image(img.data(), img.size());
  }
  if (img.empty()) return fail("image is empty");
  if (img.size() > package::kImageCapacity)
    return fail("image larger than " + std::to_string(package::kImageCapacity) + " bytes");

  static package::Record rec;  // zero-filled: unused image area and field tails stay 0
  rec.marker = package::kMarker;
  rec.scramble_flag = v.scramble;
  if (reserved) {
    std::size_t len = std::strlen(reserved);
    if (len % 2 != 0 || len > 2 * package::kReservedSize)
      return fail("reserved block must be up to " + std::to_string(2 * package::kReservedSize) + " hexadecimal digits");
    for (std::size_t k = 0; k < len; k += 2) {
      int hi = hexval(reserved[k]), lo = hexval(reserved[k + 1]);
      if (hi < 0 || lo < 0) return fail("reserved block must be hexadecimal: ", reserved);
      rec.reserved[k / 2] = static_cast<std::uint8_t>(hi * 16 + lo);
    }
  }
  rec.presence = v.presence;
  rec.image_length = static_cast<std::uint32_t>(img.size());
  rec.variant = static_cast<std::uint8_t>(v.variant);
  std::memcpy(rec.version, version, std::strlen(version));
  std::memcpy(rec.image, img.data(), img.size());
  std::memcpy(rec.access_code, access, package::kAccessCodeSize);
  std::memcpy(rec.log_tag, tag, std::strlen(tag));

  // Little-endian on every platform this tool builds for; the record is written as it lies.
  switch (tools::replace_file(out, &rec, sizeof rec)) {
    case tools::Replaced::kDone: return 0;
    case tools::Replaced::kNotCreated: return fail("cannot create " + tools::temporary_of(out));
    case tools::Replaced::kNotWritten: return fail("cannot write ", out);
  }
  return fail("cannot write ", out);
}
