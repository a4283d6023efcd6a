// fast.h: the fast path the programs run, bit-identical to the named routines
// of synergy.h (the plain step order) and to the literal oracle of tests/oracle.
//
// Each fast routine, its literal twin, and the tests that hold them equal
// (tests/ unless said; the inside of each routine: fast_impl.h):
//
//   sin_part      fast_part.cpp: groups as runs (runs.cpp), or from their matrix
//                 (fast_mat.cpp) where the runs' replays cost more
//     twin        comp_sin_dis + cluster (the partition of call_sin_syn)
//     tests       test_diff.cpp DiffFast.PartitionsAndEntropiesMatchOracle;
//                 test_diff_real.cpp DiffReal.DenseTablesMatchOracle,
//                 DiffReal.RunsOfValuesGiveThePlainPartition, DiffReal.RoundedTablesMatchOracle;
//                 fuzz/fuzz_diff.cpp (rounded inputs)
//   two_part      fast_part.cpp: cells from their matrix (fast_mat.cpp), large
//                 Chebyshev cells without it (bound.cpp, bound_kern.cpp)
//     twin        comp_ch_dis / comp_eu_dis + cluster
//     tests       test_diff.cpp DiffFast.PartitionsAndEntropiesMatchOracle,
//                 DiffFast.RoundingAtTheCutCanJoinSamplesFartherApart;
//                 test_diff_real.cpp DiffReal.DenseTablesMatchOracle, DiffReal.RoundedTablesMatchOracle;
//                 fuzz/fuzz_diff.cpp (rounded inputs)
//   part_ent      fast_flip.cpp
//     twin        synergic (and call_sin_syn's score)
//     tests       test_diff.cpp DiffFast.PartitionsAndEntropiesMatchOracle
//   tab_init      fast_flip.cpp
//     twin        mi(S/M)*M and phe_synergic, computed per call
//     tests       through part_ent and flip_search in the tests above
//   ent_term      here
//     twin        mi(S/M)*M of synergic, table or computed above ENT_ROWS
//     tests       test_diff.cpp DiffFast.ClustersBeyondTheEntropyTableScoreAsTheLiteralSum
//   flip_search   fast_flip.cpp
//     twin        optimize (pair_search/search.cpp), oracle::optimize
//     tests       test_diff.cpp DiffFast.FlipSearchMatchesOracle;
//                 test_pair_search.cpp PairSearch.LiteralOptimizeMatchesOracleAndFastSearch
//   rank_probes   probe_rank/rank.cpp, over sin_part and part_ent
//     twin        oracle::rank_list
//     tests       test_probe_rank.cpp ProbeRank.MatchesOracleOnGeneratedTables
//   run_search    pair_search/search.cpp, over flip_search (a mirror pair reuses its result)
//     twin        oracle::pair_search
//     tests       test_pair_search.cpp PairSearch.MatchesOracleOnGeneratedTables,
//                 PairSearch.MirrorResultsGiveTheSameBytes
//
// The fast routines read only the loaded table (and the tables of tab_init)
// and write only their own `work` scratch and outputs, so threads may run
// them at once, each with its own `work`.
#pragma once

#include <cstddef>
#include <memory>
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

struct fast_scr;  // each algorithm's scratch (fast_impl.h)

// Per-thread scratch, sized once by work_init and reused by every call; the
// knobs and counters are for tests and benchmarks.
struct work {
  part jp;                    // joint partition of the last pair of flip_search
  long n_run = 0, n_mat = 0;  // single-probe groups clustered as runs, and from their matrix
  double run_cap = 0.25;      // replays a single-probe group may cost as runs, in m^2 steps
  int bnd_min = 400;          // Chebyshev groups from this size on are clustered without their matrix
  std::unique_ptr<fast_scr> s;
  work();
  ~work();
  work(work&&) noexcept;
  work& operator=(work&&) noexcept;
};
void work_init(work& w);

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
