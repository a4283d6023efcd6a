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

namespace fz {

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

// Back to the start values of a fresh process; read_exp appends, so the
// containers must be empty before each load.
inline void reset_state() {
  probe.clear();
  phe.clear();
  expr.clear();
  p_line.clear();
  n_samp = 0;
  n_prob = 0;
  n_line = 0;
  ini_phe.clear();
  dis.clear();
  s_cid.clear();
  dndr.clear();
  min_id[0] = min_id[1] = 0;
  ent_tab.clear();
  phe_tab.clear();
}

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

}  // namespace fz
