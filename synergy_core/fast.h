// fast.h: the fast path the programs run, bit-identical to the named routines
// of synergy.h (the plain step order) and to the literal oracle of tests/oracle.
//
// | fast routine  | literal counterpart                                   | test holding them equal (tests/) |
// |---------------|-------------------------------------------------------|----------------------------------|
// | sin_part (run_grp, runs.cpp; the matrix where its replays cost more) | comp_sin_dis + cluster (the partition of call_sin_syn) | test_diff.cpp DiffFast.PartitionsAndEntropiesMatchOracle; test_diff_real.cpp DiffReal.DenseTablesMatchOracle, DiffReal.RunsOfValuesGiveThePlainPartition, DiffReal.RoundedTablesMatchOracle; fuzz/fuzz_diff.cpp (rounded inputs) |
// | two_part (bnd_grp for large Chebyshev groups) | comp_ch_dis / comp_eu_dis + cluster | test_diff.cpp DiffFast.PartitionsAndEntropiesMatchOracle, DiffFast.RoundingAtTheCutCanJoinSamplesFartherApart; test_diff_real.cpp DiffReal.DenseTablesMatchOracle, DiffReal.RoundedTablesMatchOracle; fuzz/fuzz_diff.cpp (rounded inputs) |
// | part_ent      | synergic (and call_sin_syn's score)                    | test_diff.cpp DiffFast.PartitionsAndEntropiesMatchOracle |
// | tab_init      | mi(S/M)*M and phe_synergic, computed per call          | through part_ent and flip_search in the tests above |
// | ent_term      | mi(S/M)*M of synergic, table or computed above ENT_ROWS | test_diff.cpp DiffFast.ClustersBeyondTheEntropyTableScoreAsTheLiteralSum |
// | flip_search   | optimize (pair_search/search.cpp), oracle::optimize    | test_diff.cpp DiffFast.FlipSearchMatchesOracle; test_pair_search.cpp PairSearch.LiteralOptimizeMatchesOracleAndFastSearch |
// | rank_probes (probe_rank/rank.cpp, over sin_part and part_ent) | oracle::rank_list | test_probe_rank.cpp ProbeRank.MatchesOracleOnGeneratedTables |
// | run_search (pair_search/search.cpp, over flip_search; a mirror pair reuses its result) | oracle::pair_search | test_pair_search.cpp PairSearch.MatchesOracleOnGeneratedTables, PairSearch.MirrorResultsGiveTheSameBytes |
//
// The fast routines read only the loaded table (and the tables of tab_init)
// and write only their own `work` scratch and outputs, so threads may run
// them at once, each with its own `work`.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <unordered_map>
#include <utility>
#include <vector>

#include "synergy.h"

// SYN_CLONES("isa", ...): one copy of a function for each instruction set
// named and one portable copy, chosen at load time where the system supports
// that (x86-64 ELF); the portable copy alone elsewhere. Only for code whose
// results do not depend on the instructions chosen.
#if defined(__x86_64__) && defined(__ELF__) && defined(__GNUC__) && !defined(__APPLE__)
#define SYN_CLONES(...) __attribute__((target_clones(__VA_ARGS__, "default")))
#else
#define SYN_CLONES(...)
#endif

// Partitions depend only on values, never on labels, so they are computed once
// and scored for any labelling from per-cluster counts. Samples split into
// groups that lie more than 2*cut apart (with a safety margin for rounding); a
// group never merges with another, so each group is clustered alone in the same
// pair order as the whole table, giving the same partition bit for bit.

// A partition as cluster numbers, clusters numbered by their smallest member.
struct part {
  int n_cl = 0;          // number of clusters; 0 when there is no partition ("N")
  std::vector<int> cid;  // cluster number of each sample
  std::vector<int> grp;  // single-probe partitions only: group of each sample
  int n_grp = 0;
};

// Entropy sum of one partition under the flip search's labels.
struct ent_sum {
  std::vector<int> m, s;         // cluster sizes and label sums
  std::vector<double> t, pre;    // cluster terms, and the sum of the terms before each
  std::vector<double> memo;      // sum with one label of cluster c flipped: [2c] up, [2c+1] down
  std::vector<int> memo_at;      // pass that filled each memo entry
  std::vector<double> q;         // fast sum over n_samp with one label of cluster c flipped: [2c] up, [2c+1] down
  double tot = 0.0;
};

// The distance matrix of one group. From 512 samples on its rows are a page
// or more apart, and walks down a column would miss the address cache on
// every row: large matrices ask for large pages.
class mat_buf {
 public:
  double* data() { return p_.get(); }
  size_t size() const { return n_; }
  // room for at least n doubles, contents undefined; the old block goes first
  void grow(size_t n);

 private:
  struct frees {
    void operator()(double* p) const { std::free(p); }
  };
  std::unique_ptr<double[], frees> p_;
  size_t n_ = 0;
};

// A run of one probe's sorted values: the sum of its values less its first,
// a bound on that sum's error, and the sum over the run's size.
struct run_sum {
  double s = 0.0, e = 0.0, mean = 0.0;
};

// A merge in the history of one probe's runs: its two parts (the one with
// the smaller sample first), its size and when it happened.
struct run_node {
  int lo, hi;
  double n;
  long long t;
};

// A pair of clusters whose plain distance is known to lie in [lo, hi]: the
// cluster in slot col, as formed at merge node `node`.
struct bnd_ent {
  int col, node;
  double lo, hi;
};

// Scratch of the clustering of large Chebyshev groups without their matrix
// (bnd_grp in bound.cpp), by slot unless said.
struct bnd_buf {
  std::vector<double> px, py, pm;              // centroids by list position, and 1 unless a single sample
  std::vector<double> sx, sy, n, cx, cy;       // coordinate sums, sizes (0 once merged away), centroids
  std::vector<int> rare, fw, lead;             // rows above a merge whose least may change; active slots, Fenwick;
                                               // the smallest sample at each one's point
  std::vector<double> key2, kup, lb;           // second key and candidate's upper bound per row; scratch
  std::vector<int> cur, nlo, nhi;              // each slot's merge node; the nodes' parts (survivor first)
  std::vector<int> whd, wnx, wpv;              // rows listed at their candidate: first, next, previous (-2 unlisted)
  std::vector<double> nn, tk;                  // the nodes' sizes; the tree's keys
  std::vector<int> ts;                         // and slots
  std::vector<double> su, sv, cu, cv;          // sorted x + y and x - y of each cluster's members, from off
  std::vector<size_t> off;                     // in a pool filled to top (cu, cv: room to close it up)
  size_t top = 0;
  std::vector<std::vector<bnd_ent>> kn;        // intervals known, in the row of the lower slot
  std::vector<bnd_ent> tie;                    // the columns of one row in doubt
};

// Scratch of the clustering of one probe's group as runs of its sorted
// values (run_grp in runs.cpp), by sorted position of a run's first value.
struct run_buf {
  std::vector<run_sum> rs;
  std::vector<double> est, key;   // each gap's estimate; its plain distance where exact, else a lower bound
  std::vector<long long> sec;     // an exact gap's pair in scan order, else -1
  std::vector<int> nxt, prv, cnt, nv;  // neighbours, size, distinct values
  std::vector<int> low, cur, tr;       // smallest sample, merge node; the gaps' tree
  std::vector<run_node> node;     // the history of the runs' merges
  std::unordered_map<uint64_t, double> memo;  // replays of two large sets of equal values
};

// Per-thread scratch, sized once by work_init and reused by every call.
struct work {
  mat_buf d;                                    // distances within one group: m x m, upper triangle used
  std::vector<double> sz, rmin;                 // cluster sizes; row minima to the right (by slot)
  std::vector<double> gx, gy;                   // coordinates of one group's samples, by slot
  std::vector<int> act, pos, ramin, redo;       // active slots and their positions; argmin slot; stale rows
  std::vector<int> mnext, mtail;                // member chains
  std::vector<int> tree;                        // tournament tree over the row minima
  std::vector<int> ord, off, cnt, stamp, slot, rep, num;
  std::vector<std::pair<double, int>> vs;       // values and samples, to sort
  part jp;                                      // joint partition of the current pair
  std::vector<int> lab;                         // working label vector of the flip search
  std::vector<double> fsc;                      // score of each flip in a pass (fast or exact)
  std::vector<int> fst;                         // whether each flip improves, and how it was scored
  ent_sum es[3];                                // first probe, second probe, joint
  long n_run = 0, n_mat = 0;                    // single-probe groups clustered as runs, and from their matrix
  bnd_buf bb;
  run_buf rb;
  double run_cap = 0.25;                        // replays a single-probe group may cost as runs, in m^2 steps
  int bnd_min = 400;                            // Chebyshev groups from this size on are clustered by bnd_grp
};
void work_init(work& w);

// Threshold-cut Chebyshev clustering of one group of m samples (smp,
// ascending; coordinates in slot order in w.gx, w.gy) without a distance
// matrix: writes w.rep for its samples, the plain partition. False, having
// written nothing, when the pairs left in doubt would cost more than the
// matrix; the group is then clustered from it.
bool bnd_grp(const int* smp, int m, work& w);

// Threshold-cut clustering of one probe's group of m samples, sorted by
// value (v, ties by sample), as runs of its values: writes w.rep for its
// samples, the plain partition. False, having written nothing, when the
// replays of gaps in doubt would cost more than w.run_cap m^2 steps.
bool run_grp(const std::pair<double, int>* v, int m, work& w);

// Entropy tables for the run: mi(S/M)*M for 0 <= S <= M <= min(n_samp,
// ENT_ROWS), and the label entropy by count of ones. Call once after
// init_work, before threads.
constexpr int ENT_ROWS = 1024;
void tab_init();

// mi(S/M)*M, the entropy term of a cluster of m samples with s ones: from the
// table up to ENT_ROWS samples (4 MB of doubles), above that by the very same
// operations on the same doubles, so the value is the same bit for bit.
inline double ent_term(int m, int s) {
  if (m <= ENT_ROWS) return ent_tab[static_cast<size_t>(m) * (m + 1) / 2 + s];
  const double sd = s, md = m;
  return mi(sd / md) * md;
}

// Partition of probe p alone.
void sin_part(int p, work& w, part& out);
// Joint partition of probes a and b (sel 0: Chebyshev, else Euclidean), given
// their single partitions.
void two_part(int a, int b, int sel, const part& pa, const part& pb, work& w, part& out);
// Conditional label entropy of a partition, as synergic computes it.
double part_ent(const part& pt, const int* lab, work& w);

// Greedy label-flip search on one pair. Returns -1 when the pair has no
// partition; else 1 with the best synergy, the final labels and the joint
// cluster numbers.
struct pair_res {
  double best = 0.0;
  std::vector<int> lab;
  std::vector<int> cid;
};
int flip_search(int a, int b, int sel, const part& pa, const part& pb, work& w, pair_res& r);
