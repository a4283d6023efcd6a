// Fuzz target: the expression reader and the input checks on arbitrary bytes
// (plain or gzip). A table either loads and passes the checks, or is rejected
// with syn_error; nothing else may happen. An accepted small table is also
// scored, probe by probe and for a pair, on the named path, so the scoring is
// exercised on every table the checks let through.
#include <algorithm>

#include "fuzz_util.h"

namespace {
// Larger tables only cost time: the clustering is cubic in the samples.
constexpr int MAX_SCORE_SAMP = 48;
constexpr int MAX_SCORE_PROB = 4;
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fz::reset_state();
  std::string path = fz::scratch(data, size);
  try {
    read_exp(path.c_str());
    check_exp(path.c_str());
  } catch (const syn_error& e) {
    if (std::string(e.what()).empty()) std::abort();  // an error must say what went wrong
    return 0;
  }
  // what check_exp promises to the scoring
  if (n_samp != static_cast<int>(phe.size()) || n_prob != static_cast<int>(expr.size()) ||
      n_prob != static_cast<int>(probe.size()) || n_prob != static_cast<int>(p_line.size()))
    std::abort();
  for (int p = 0; p < n_prob; ++p)
    if (static_cast<int>(expr[p].size()) < n_samp) std::abort();
  for (int s = 0; s < n_samp; ++s)
    if (phe[s] != 0 && phe[s] != 1) std::abort();

  if (n_samp > MAX_SCORE_SAMP) return 0;
  init_work();
  int np = std::min(n_prob, MAX_SCORE_PROB);
  for (int p = 0; p < np; ++p) {
    double s = call_sin_syn(p, ini_phe.data());
    if (s != NO_PART && !(s > 0.0 && s <= 1.0 + 1e-12)) std::abort();  // an entropy in bits
  }
  if (np >= 2) {
    call_two_syn(0, 1, ini_phe.data(), 0);
    call_two_syn(0, 1, ini_phe.data(), 1);
  }
  return 0;
}
