// Helpers shared by the fuzz targets: a scratch file per process and a reset
// of the process-wide analysis state, so that every input starts from the
// state a fresh program sees.
#pragma once

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "synergy.h"

// Abort with the condition's text when an input makes it true.
#define FUZZ_NEVER(cond) ((cond) ? fz::finding(#cond, __FILE__, __LINE__) : (void)0)

namespace fz {

// A property broken: name it, then abort, which libFuzzer reports as a
// finding and saves the input for.
[[noreturn]] inline void finding(const char* what, const char* file, int line) {
  std::fprintf(stderr, "FINDING %s:%d: %s\n", file, line, what);
  std::abort();
}

// This process's scratch files, in TMPDIR or /tmp; removed at exit.
struct scratch_files {
  std::string base;
  scratch_files() {
    const char* t = std::getenv("TMPDIR");
    base = std::string(t && *t ? t : "/tmp") + "/syn_fuzz_" + std::to_string(getpid()) + "_";
  }
  ~scratch_files() {
    for (int k = 0; k < 8; ++k) std::remove((base + std::to_string(k)).c_str());
  }
};

// Path of scratch file number `slot` (0 to 7). The readers take paths, not
// buffers; the files are reused by every input.
inline std::string scratch_path(int slot) {
  static scratch_files files;
  return files.base + std::to_string(slot);
}

// Write bytes to scratch file `slot` and return its path.
inline std::string scratch(const uint8_t* data, size_t size, int slot = 0) {
  std::string path = scratch_path(slot);
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) std::abort();
  if (size && std::fwrite(data, 1, size, f) != size) std::abort();
  if (std::fclose(f) != 0) std::abort();
  return path;
}

inline std::string scratch(const std::string& s, int slot = 0) {
  return scratch(reinterpret_cast<const uint8_t*>(s.data()), s.size(), slot);
}

// A table with a few samples and a repeated probe name, for inputs that
// carry only the file under test.
constexpr const char* DEF_TABLE =
    "probe\ta\tb\tc\td\te\tf\n"
    "label\t1\t0\t1\t0\t1\t0\n"
    "g0\t0\t0\t1\t1\t2\t2\n"
    "g1\t0\t1\t0\t1\t0\t1\n"
    "g2\t5\t5\t5\t5\t5\t5\n"
    "g1\t1\t1\t3\t3\t5\t5\n";

// Inputs of the reader targets: an expression table, the separator "\n%%\n",
// then the file under test; without the separator, all of it is the file
// under test, read against DEF_TABLE.
constexpr const char* SEP = "\n%%\n";

inline void split_input(const uint8_t* data, size_t size, std::string& table, std::string& rest) {
  std::string all(reinterpret_cast<const char*>(data), size);
  size_t k = all.find(SEP);
  if (k == std::string::npos) {
    table = DEF_TABLE;
    rest = all;
  } else {
    table = all.substr(0, k + 1);
    rest = all.substr(k + 4);
  }
}

// Back to the start values of a fresh process before each input.
inline void reset_state() { reset_exp(); }

// The whole content of a file; empty when it does not exist.
inline std::string slurp(const std::string& path) {
  std::string s;
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return s;
  char buf[1 << 14];
  size_t k;
  while ((k = std::fread(buf, 1, sizeof buf, f)) > 0) s.append(buf, k);
  std::fclose(f);
  return s;
}

// Load a table as the programs do; false when the reader or the checks reject it.
inline bool load(const std::string& path) {
  reset_state();
  try {
    read_exp(path.c_str());
    check_exp(path.c_str());
  } catch (const syn_error&) {
    return false;
  }
  return true;
}

}  // namespace fz
