// Appends `count` production-log-sized lines tagged with `writer` to `file`, one append per line,
// as an updater does once per finished run. Several copies run at once in the concurrency test.
// Usage: append_lines <file> <writer> <count>
#include <cstdio>
#include <cstdlib>

#include "update/file_append.h"

int main(int argc, char** argv) {
  if (argc != 4) return 2;
  const int writer = std::atoi(argv[2]);
  const int count = std::atoi(argv[3]);
  int lost = 0;
  for (int i = 0; i < count; ++i) {
    // The padding's length varies with the line number, so a torn or merged line cannot look whole.
    char line[200];
    int n = std::snprintf(line, sizeof line, "W%d;L%d;%.*s\r\n", writer, i, 20 + i % 50,
                          "xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx");
    char why[160];
    if (!update::append_file(argv[1], line, static_cast<std::size_t>(n), why, sizeof why)) ++lost;
  }
  if (lost) std::fprintf(stderr, "writer %d: %d appends could not open the file\n", writer, lost);
  return lost ? 1 : 0;
}
