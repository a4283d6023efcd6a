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

// Write bytes to this process's scratch file number `slot` and return its path.
// The readers take paths, not buffers; the files live in TMPDIR (or /tmp) and
// are reused by every input.
inline std::string scratch(const uint8_t* data, size_t size, int slot = 0) {
  static std::string dir = [] {
    const char* t = std::getenv("TMPDIR");
    return std::string(t && *t ? t : "/tmp");
  }();
  std::string path = dir + "/syn_fuzz_" + std::to_string(getpid()) + "_" + std::to_string(slot);
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
}

}  // namespace fz
