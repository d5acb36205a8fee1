// zorven-package-image: writes the image bytes a package record carries (the first image-length
// bytes of its image area, exactly what an update sends) to a file of their own, so that the
// build can work out the digest of the firmware a program really carries.
//
//   zorven-package-image RECORD OUT
#include <cstdio>
#include <memory>

#include "package/package.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fputs("usage: zorven-package-image RECORD OUT\n", stderr);
    return 2;
  }
  auto rec = std::make_unique<package::Record>();
  std::FILE* in = std::fopen(argv[1], "rb");
  if (!in) {
    std::fprintf(stderr, "zorven-package-image: cannot read %s\n", argv[1]);
    return 1;
  }
  const bool whole = std::fread(rec.get(), sizeof *rec, 1, in) == 1;
  std::fclose(in);
  if (!whole) {
    std::fprintf(stderr, "zorven-package-image: %s is not a whole package record\n", argv[1]);
    return 1;
  }
  // An empty package carries no image: the file is empty then.
  const std::uint32_t n = package::is_present(*rec) ? package::image_length(*rec) : 0;
  std::FILE* out = std::fopen(argv[2], "wb");
  if (!out) {
    std::fprintf(stderr, "zorven-package-image: cannot create %s\n", argv[2]);
    return 1;
  }
  bool ok = n == 0 || std::fwrite(package::image(*rec), n, 1, out) == 1;
  ok = std::fclose(out) == 0 && ok;
  if (!ok) {
    std::fprintf(stderr, "zorven-package-image: cannot write %s\n", argv[2]);
    return 1;
  }
  return 0;
}
