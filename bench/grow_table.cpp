// grow_table: write a table of N samples grown from a real one (grow.h, the
// growing step of grow_bench) with its first P probes, for benchmarks that
// run the programs on it.
//   grow_table TABLE N P OUT
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "grow.h"

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: grow_table TABLE N P OUT\n");
    return 2;
  }
  const int n = std::atoi(argv[2]), p = std::atoi(argv[3]);
  if (n < 2 || p < 1) {
    std::fprintf(stderr, "grow_table: N must be at least 2 and P at least 1\n");
    return 2;
  }
  const grow::table src = grow::read(argv[1], p);
  std::ofstream out(argv[4], std::ios::binary);
  out << grow::text(grow::make(src, n, 1000 + static_cast<uint64_t>(n), 0.05));
  if (!out.flush()) {
    std::fprintf(stderr, "grow_table: cannot write %s\n", argv[4]);
    return 2;
  }
  return 0;
}
