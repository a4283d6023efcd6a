// Fuzz target: the expression reader and the input checks on arbitrary bytes
// (plain or gzip). A table either loads and passes the checks, or is rejected
// with syn_error; nothing else may happen. An accepted small table is also
// scored, probe by probe and for a pair, on the named path, so the scoring is
// exercised on every table the checks let through; a plain table is also
// read by the oracle's literal reader and scored there, and both must agree.
#include <algorithm>

#include "fuzz_util.h"
#include "oracle/oracle.h"

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
    FUZZ_NEVER(std::string(e.what()).empty());  // an error must say what went wrong
    return 0;
  }
  // what check_exp promises to the scoring
  FUZZ_NEVER(n_samp != static_cast<int>(phe.size()) || n_prob != static_cast<int>(expr.size()) ||
             n_prob != static_cast<int>(probe.size()) || n_prob != static_cast<int>(p_line.size()));
  for (int p = 0; p < n_prob; ++p)
    FUZZ_NEVER(static_cast<int>(expr[p].size()) < n_samp);
  for (int s = 0; s < n_samp; ++s)
    FUZZ_NEVER(phe[s] != 0 && phe[s] != 1);

  bool plain = !(size >= 2 && data[0] == 0x1f && data[1] == 0x8b);
  if (plain) {
    oracle::load(path);
    FUZZ_NEVER(oracle::n_samp() != n_samp || oracle::n_prob() != n_prob || oracle::labels() != phe ||
               oracle::names() != probe);
  }

  if (n_samp > MAX_SCORE_SAMP) return 0;
  init_work();
  int np = std::min(n_prob, MAX_SCORE_PROB);
  for (int p = 0; p < np; ++p) {
    double s = call_sin_syn(p, ini_phe.data());
    FUZZ_NEVER(s != NO_PART && !(s > 0.0 && s <= 1.0 + 1e-12));  // an entropy in bits
    FUZZ_NEVER(plain && (s != oracle::sin_syn(p, phe) || dndr != oracle::dndr()));
  }
  for (int sel = 0; sel < 2 && np >= 2; ++sel) {
    double s = call_two_syn(0, 1, ini_phe.data(), sel);
    FUZZ_NEVER(plain && (s != oracle::two_syn(0, 1, phe, sel) || dndr != oracle::dndr()));
  }
  return 0;
}
