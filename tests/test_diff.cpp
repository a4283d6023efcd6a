// Differential tests: the core against the literal oracle on generated tables.
// Scores are compared with ==, partition strings and cluster numbers exactly.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "gen.h"
#include "oracle/oracle.h"
#include "synergy.h"

namespace {

std::string tmp_path(const std::string& name) { return std::string(SYN_BINARY_DIR) + "/diff_" + name; }

// Load a table into the core as the programs do, starting from empty state.
void core_load(const std::string& path) {
  probe.clear();
  phe.clear();
  expr.clear();
  p_line.clear();
  n_samp = 0;
  n_prob = 0;
  read_exp(path.c_str());
  check_exp(path.c_str());
  init_work();
}

std::vector<int> s_cid_vec() { return std::vector<int>(s_cid.begin(), s_cid.begin() + n_samp); }

// Compare every probe and every ordered pair (both selectors) on one table.
// Returns false after the first mismatch, which has been reported.
bool same_scoring(const std::vector<int>& lab, uint64_t seed) {
  for (int p = 0; p < n_prob; ++p) {
    double o = oracle::sin_syn(p, lab);
    double c = call_sin_syn(p, lab.data());
    if (o != c || oracle::dndr() != dndr || (o != NO_PART && oracle::s_cid() != s_cid_vec())) {
      ADD_FAILURE() << "seed " << seed << " probe " << p << ": oracle " << o << " [" << oracle::dndr()
                    << "] core " << c << " [" << dndr << "]";
      return false;
    }
  }
  for (int sel = 0; sel < 2; ++sel)
    for (int a = 0; a < n_prob; ++a)
      for (int b = 0; b < n_prob; ++b) {
        double o = oracle::two_syn(a, b, lab, sel);
        double c = call_two_syn(a, b, lab.data(), sel);
        if (o != c || oracle::dndr() != dndr || oracle::s_cid() != s_cid_vec()) {
          ADD_FAILURE() << "seed " << seed << " pair " << a << "," << b << " sel " << sel << ": oracle " << o
                        << " [" << oracle::dndr() << "] core " << c << " [" << dndr << "]";
          return false;
        }
      }
  return true;
}

TEST(Diff, NamedRoutinesMatchOracle) {
  const std::string path = tmp_path("named.tsv");
  const int n_tab = 1200;
  for (int t = 0; t < n_tab; ++t) {
    const uint64_t seed = 1000 + t;
    std::mt19937_64 rng(seed);
    gen::table tab = gen::make(rng);
    gen::write_file(path, tab.text);
    oracle::load(path);
    core_load(path);
    ASSERT_EQ(oracle::n_samp(), n_samp) << "seed " << seed;
    ASSERT_EQ(oracle::n_prob(), n_prob) << "seed " << seed;
    ASSERT_EQ(oracle::labels(), phe) << "seed " << seed;
    ASSERT_EQ(tab.n_samp, n_samp) << "seed " << seed;
    ASSERT_EQ(tab.n_prob, n_prob) << "seed " << seed;
    if (!same_scoring(phe, seed)) break;
    // a second labelling: random flips of the file's labels
    std::vector<int> lab = phe;
    for (int& l : lab)
      if (rng() % 3 == 0) l = 1 - l;
    if (!same_scoring(lab, seed)) break;
  }
  std::remove(path.c_str());
}

}  // namespace
