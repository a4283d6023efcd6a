// Differential tests: the core against the literal oracle on generated tables.
// Scores are compared with ==, partition strings and cluster numbers exactly.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <sstream>
#include <random>
#include <string>
#include <vector>

#include "gen.h"
#include "oracle/oracle.h"
#include "fast.h"
#include "synergy.h"

namespace {

// The sanitizer rerun looks for memory faults, not for rare tables: a fifth of
// the tables is enough there and keeps it quick.
#if defined(__SANITIZE_ADDRESS__)
constexpr int scale = 5;
#else
constexpr int scale = 1;
#endif

std::string tmp_path(const std::string& name) { return std::string(SYN_BINARY_DIR) + "/diff_" + name; }

// Load a table into the core as the programs do, starting from empty state.
void core_load(const std::string& path) { load_exp(path.c_str()); }

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
  const int n_tab = 1200 / scale;
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


// ---- the oracle itself on worked examples ------------------------------------

std::string fmt(double x) {
  std::ostringstream os;
  os << x;
  return os.str();
}

TEST(Oracle, RankListWorkedExample) {
  const std::string path = tmp_path("rank_ex.tsv");
  gen::write_file(path, "h\nlab\t1\t1\t0\t0\ng0\t0\t0\t1\t1\ng1\t0\t1\t0\t1\ng2\t5\t5\t5\t5\n");
  EXPECT_EQ(oracle::rank_list(path), "g1\t1\t1\t2\ng0\t0\t" + fmt(mi(0.9999)) + "\t2\ng2\t2\t-10\t1\n");
  gen::write_file(path, "h\nlab\t1\ng0\t0\ng1\t1\ng2\t2\n");
  EXPECT_EQ(oracle::rank_list(path), "g0\t0\t-10\t1\ng1\t1\t-10\t1\ng2\t2\t-10\t1\n");
  gen::write_file(path, "h\nlab\t1\t0\n");
  EXPECT_EQ(oracle::rank_list(path), "");
  std::remove(path.c_str());
}

TEST(Oracle, FlipSearchWorkedExamples) {
  const std::string path = tmp_path("flip_ex.tsv");
  gen::write_file(path, "h\nlab\t1\t0\t0\t1\nP\t0\t0\t1\t1\nQ\t0\t1\t0\t1\n");
  oracle::load(path);
  oracle::opt_res r;
  ASSERT_EQ(oracle::optimize(0, 1, 0, r), 1);
  EXPECT_EQ(r.lab, (std::vector<int>{1, 0, 0, 1}));  // no flip improves
  EXPECT_NEAR(r.best, 1 - mi(0.9999), 1e-15);
  gen::write_file(path, "h\nlab\t1\t1\t0\t0\nP\t0\t0\t1\t1\nQ\t0\t1\t0\t1\n");
  oracle::load(path);
  std::string rec;
  ASSERT_EQ(oracle::optimize(0, 1, 0, rec), 1);
  // pass 1: four equal flips, sample 0 wins; pass 2: sample 2
  std::vector<int> lab = {0, 1, 1, 0};
  double best = oracle::two_syn(0, 1, lab, 0);
  EXPECT_EQ(rec, "P\tQ\t" + fmt(best) + "\t0\t1\t1\t0\nP\tQ\t-9\t0\t1\t2\t3\n");
  gen::write_file(path, "h\nlab\t1\t1\t0\t0\nP\t0\t0\t0\t0\nQ\t0\t1\t0\t1\n");
  oracle::load(path);
  EXPECT_EQ(oracle::optimize(0, 1, 0, rec), -1);
  EXPECT_EQ(rec, "");
  std::remove(path.c_str());
}

TEST(Oracle, CandidateListAndRange) {
  const std::string ex = tmp_path("cand_ex.tsv"), rk = tmp_path("cand_ex.rank");
  gen::write_file(rk, "a\t4\t0.99\t2\nb\t2\tnan\t1\nc\t0\t0.97176\t3\nd\t1\t0.97175\t2\ne\t3\t0.99\t2\n");
  EXPECT_EQ(oracle::candidates(rk), (std::vector<int>{4, 2, 0}));
  gen::write_file(rk, "a\t1\t0.98\t2\n\n");
  EXPECT_EQ(oracle::candidates(rk), (std::vector<int>{1}));
  gen::write_file(rk, "a\t1\n");
  EXPECT_TRUE(oracle::candidates(rk).empty());
  std::remove(rk.c_str());
  EXPECT_TRUE(oracle::candidates(rk).empty());
  // three candidates, range [1, 2): pairs (1,0), (1,1), (1,2)
  gen::write_file(ex, "h\nlab\t1\t0\t1\t0\ng0\t0\t0\t1\t1\ng1\t0\t1\t0\t1\ng2\t5\t5\t5\t5\n");
  gen::write_file(rk, "g1\t1\t1\t2\ng0\t0\t1\t2\ng2\t2\t1\t2\n");
  oracle::search_out o = oracle::pair_search(ex, rk, 1, 2);
  EXPECT_EQ(o.progress, "1\t0\n1\t1\n1\t2\n");
  EXPECT_EQ(std::count(o.records.begin(), o.records.end(), '\n'), 4);  // (1,2) has no partition: no record
  EXPECT_EQ(oracle::pair_search(ex, rk, 2, 2).progress, "");
  std::remove(ex.c_str());
  std::remove(rk.c_str());
}

// ---- fast path against the oracle -----------------------------------------------

struct fast_ctx {
  work w;
  std::vector<part> single;
};

void fast_load(const std::string& path, fast_ctx& f) {
  core_load(path);
  tab_init();
  work_init(f.w);
  f.single.assign(n_prob, part());
}

// Single and joint partitions and their entropies; false after a reported mismatch.
bool same_partitions(fast_ctx& f, const std::vector<int>& lab2, uint64_t seed, std::vector<long>& sizes) {
  for (int p = 0; p < n_prob; ++p) {
    part& pt = f.single[p];
    sin_part(p, f.w, pt);
    int k = 0;
    std::vector<int> c = gen::cid_of(oracle::sin_part(p), n_samp, k);
    bool ok = pt.n_cl == k && (k == 0 || pt.cid == c);
    if (ok && k > 0) {
      ok = part_ent(pt, phe.data(), f.w) == oracle::synergic(phe) &&
           part_ent(pt, lab2.data(), f.w) == oracle::synergic(lab2) &&
           part_ent(pt, phe.data(), f.w) == oracle::sin_syn(p, phe);
      int mx = *std::max_element(pt.cid.begin(), pt.cid.end());
      ok = ok && mx + 1 == pt.n_cl;
      std::vector<long> cnt(k, 0);
      for (int x : c) ++cnt[x];
      for (long m : cnt) ++sizes[m];
    }
    if (k == 0) ok = ok && part_ent(pt, phe.data(), f.w) == NO_PART;
    if (!ok) {
      ADD_FAILURE() << "seed " << seed << " probe " << p << ": oracle [" << oracle::sin_part(p) << "] fast n_cl "
                    << pt.n_cl;
      return false;
    }
  }
  part pj;
  // the Chebyshev selector twice: large groups only, and every group of two
  // or more samples, clustered without a matrix
  const int bnd_min = work().bnd_min;
  for (int mode = 0; mode < 3; ++mode)
    for (int a = 0, sel = mode == 2; a < n_prob; ++a)
      for (int b = 0; b < n_prob; ++b) {
        f.w.bnd_min = mode == 1 ? 2 : bnd_min;
        two_part(a, b, sel, f.single[a], f.single[b], f.w, pj);
        int k = 0;
        std::vector<int> c = gen::cid_of(oracle::two_part(a, b, sel), n_samp, k);
        bool ok = pj.n_cl == k && (k == 0 || pj.cid == c);
        if (ok && k > 0)
          ok = part_ent(pj, phe.data(), f.w) == oracle::synergic(phe) &&
               part_ent(pj, lab2.data(), f.w) == oracle::synergic(lab2);
        if (!ok) {
          ADD_FAILURE() << "seed " << seed << " pair " << a << "," << b << " mode " << mode << ": oracle ["
                        << oracle::two_part(a, b, sel) << "] fast n_cl " << pj.n_cl;
          return false;
        }
      }
  f.w.bnd_min = bnd_min;
  return true;
}

bool same_flips(fast_ctx& f, int a, int b, int sel, uint64_t seed, long& n_rec) {
  oracle::opt_res o;
  pair_res r;
  int ro = oracle::optimize(a, b, sel, o);
  int rf = flip_search(a, b, sel, f.single[a], f.single[b], f.w, r);
  if (ro != rf || (ro == 1 && (o.best != r.best || o.lab != r.lab || o.cid != r.cid))) {
    ADD_FAILURE() << "seed " << seed << " flip search " << a << "," << b << " sel " << sel << ": oracle " << ro
                  << " best " << o.best << ", fast " << rf << " best " << r.best;
    return false;
  }
  n_rec += ro == 1;
  return true;
}

gen::opts fast_opts(uint64_t seed) {
  gen::opts o;
  o.exact_grid = seed % 2 == 0;
  return o;
}

TEST(DiffFast, PartitionsAndEntropiesMatchOracle) {
  const std::string path = tmp_path("fast_part.tsv");
  const int n_tab = 5000 / scale;
  oracle::counters() = oracle::stats();
  std::vector<long> sizes(41, 0), by_n(41, 0);
  fast_ctx f;
  bool ok = true;
  for (int t = 0; t < n_tab && ok; ++t) {
    const uint64_t seed = 500000 + t;
    std::mt19937_64 rng(seed);
    gen::table tab = gen::make(rng, fast_opts(seed));
    gen::write_file(path, tab.text);
    oracle::load(path);
    fast_load(path, f);
    ++by_n[n_samp];
    std::vector<int> lab2 = phe;
    for (int& l : lab2)
      if (rng() % 2) l = 1 - l;
    ok = same_partitions(f, lab2, seed, sizes);
  }
  std::remove(path.c_str());
  if (!ok) return;
  // the tables reach the hard cases
  EXPECT_GT(oracle::counters().cut_equal, 0);
  EXPECT_GT(oracle::counters().ties, 0);
  for (int n = 2; n <= 3; ++n) EXPECT_GT(by_n[n], 0) << "n_samp " << n;
  for (int m = 1; m <= 30; ++m) EXPECT_GT(sizes[m], 0) << "no cluster of size " << m;
}

TEST(DiffFast, FlipSearchMatchesOracle) {
  const std::string path = tmp_path("fast_flip.tsv");
  const int n_tab = 5000 / scale;
  oracle::counters() = oracle::stats();
  fast_ctx f;
  long n_rec = 0;
  bool ok = true;
  for (int t = 0; t < n_tab && ok; ++t) {
    const uint64_t seed = 900000 + t;
    std::mt19937_64 rng(seed);
    gen::opts o = fast_opts(seed);
    o.max_samp = 24;  // the literal search rescoring every flip is slow
    o.max_prob = 4;
    gen::table tab = gen::make(rng, o);
    gen::write_file(path, tab.text);
    oracle::load(path);
    fast_load(path, f);
    if (n_prob == 0) continue;
    for (int p = 0; p < n_prob; ++p) sin_part(p, f.w, f.single[p]);
    // one probe with itself, one ordered pair, each with a selector drawn at random
    int a = static_cast<int>(rng() % n_prob), b = static_cast<int>(rng() % n_prob);
    ok = same_flips(f, a, a, static_cast<int>(rng() % 2), seed, n_rec) &&
         same_flips(f, a, b, static_cast<int>(rng() % 2), seed, n_rec) &&
         same_flips(f, b, a, static_cast<int>(rng() % 2), seed, n_rec);
  }
  std::remove(path.c_str());
  if (!ok) return;
  EXPECT_GT(oracle::counters().fallback, 0) << "no pass with only non-positive improving flips";
  std::printf("flip searches with a record: %ld; passes without a positive improving flip: %ld\n", n_rec,
              oracle::counters().fallback);
}

// Seventeen samples at x = 0 and one at the next double above 0.12: every
// distance across is above 2 * cut, yet average linkage rounds the mean
// (16 * D + D) / 17 down to exactly 0.12, and the Chebyshev clustering merges
// everything. Grouping samples by gaps of exactly 2 * cut would split them.
TEST(DiffFast, RoundingAtTheCutCanJoinSamplesFartherApart) {
  const double D = std::nextafter(0.12, 1.0);
  std::string lab = "lab", a = "ga", b = "gb";
  for (int i = 0; i < 16; ++i) {
    // y offsets that merge as a balanced tree of 2, 4, 8, 16 samples
    int k = (i & 1) * 1 + (i >> 1 & 1) * 4 + (i >> 2 & 1) * 16 + (i >> 3 & 1) * 64;
    lab += i % 2 ? "\t1" : "\t0";
    a += "\t0";
    b += "\t" + fmt(k / 10000.0);
  }
  std::ostringstream d;
  d.precision(17);
  d << D;
  lab += "\t1\t0";
  a += "\t0\t" + d.str();
  b += "\t-0.05\t0";
  const std::string path = tmp_path("cut_round.tsv");
  gen::write_file(path, "h\n" + lab + "\n" + a + "\n" + b + "\n");
  oracle::load(path);
  fast_ctx f;
  fast_load(path, f);
  ASSERT_EQ(expr[0][17], D);
  ASSERT_EQ(oracle::two_part(0, 1, 0), "N");
  EXPECT_NE(oracle::two_part(0, 1, 1), "N");
  std::vector<long> sizes(41, 0);
  EXPECT_TRUE(same_partitions(f, phe, 0, sizes));
  comp_ch_dis(0, 1);  // the named routines agree
  cluster();
  EXPECT_EQ(dndr, "N");
  std::remove(path.c_str());
}

TEST(DiffFast, AMergedDistanceOneRoundingBelowTheRowMinimumIsTaken) {
  // samples -r, 0, r + 1 ulp and six at r on a line. Once r + 1 ulp joins the
  // six, the mean distance of 0 to them rounds one ulp below r, the least of
  // its row before, so 0 joins them; taking the pair (-r, 0) at r instead, the
  // first in scan order at that value, ends in another partition
  for (double r : {0.097372121234915052, 0.092167323093725259, 0.10031152242781065, 0.081291852240869253}) {
    std::vector<double> xs = {-r, 0.0, std::nextafter(r, 1.0), r, r, r, r, r, r};
    const int n = static_cast<int>(xs.size());
    std::vector<double> x(2 * n, 1.0);
    for (int s = 0; s < n; ++s) x[2 * s] = xs[s];
    load_mem("line", {"a", "b"}, std::vector<int>(n, 0), x.data());
    comp_ch_dis(0, 1);
    cluster();
    int k = 0;
    const std::vector<int> c = gen::cid_of(dndr, n, k);
    EXPECT_EQ(k, 2) << r;
    for (int bnd_min : {work().bnd_min, 2}) {  // with the matrix, and without
      work w;
      work_init(w);
      w.bnd_min = bnd_min;
      part pa, pb, pj;
      sin_part(0, w, pa);
      sin_part(1, w, pb);
      two_part(0, 1, 0, pa, pb, w, pj);
      EXPECT_EQ(c, pj.cid) << r << " " << bnd_min;
    }
  }
}

}  // namespace

TEST(DiffFast, ClustersBeyondTheEntropyTableScoreAsTheLiteralSum) {
  // terms of clusters above ENT_ROWS samples are computed, not looked up; the
  // score must still be synergic's, bit for bit, for every count of ones
  const int n = ENT_ROWS + 76, big = ENT_ROWS + 26;
  std::vector<double> x(n);
  std::string dn;
  for (int s = 0; s < n; ++s) {
    x[s] = s < big ? 0.0 : 1.0;
    dn += (s == 0 ? "" : s == big ? "\t" : ",") + std::to_string(s);
  }
  std::vector<int> lab(n, 0);
  load_mem("big", {"g0"}, lab, x.data());
  work w;
  work_init(w);
  part pt;
  sin_part(0, w, pt);
  ASSERT_EQ(pt.n_cl, 2);
  for (int ones : {0, 1, 7, big / 2, big - 1, big, n - 3}) {
    for (int s = 0; s < n; ++s) lab[s] = (s * 7919 % n) < ones;
    const double fast = part_ent(pt, lab.data(), w);
    dndr = dn;
    EXPECT_EQ(fast, synergic(lab.data())) << ones;
  }
}
