// signif.h: permutation significance of pair synergies under shuffled labels.
//
// A pair's base synergy (its synergy with the run's labels, before any label
// flip) is compared with its base synergy under random relabellings of the
// samples. The three partitions of a pair depend on values only, so they are
// computed once; a relabelling costs only the per-cluster label counts, taken
// as popcounts of cluster bitsets against the labels as a bitset.
//
// The shufflings form one virtual pool shared by all pairs: shuffling j
// (j = 0, 1, ...) is ini_phe permuted by shuffle_n with rng(sig_seed(seed, j)).
// A pair's result therefore depends only on the seed and its two probes, never
// on thread count, record order or sharding.
//
// Conditioning on selection: the pair was tested because both probes were
// candidates, so only shufflings under which both probes would still be
// candidates (single-probe score, written with six digits, above the bound)
// are admissible; the others belong to other searches.
//
// Sequential stopping (Besag and Clifford 1991): a pair stops at its h-th hit
// (an admissible shuffling whose base synergy is >= the observed one), with
// p = h / A (A admissible shufflings drawn by then); a pair that never gets h
// hits within the cap gets p = (hits + 1) / (A + 1), which is 1 when A = 0.
//
// The tail (sig_opt::tail): a pair that ends with fewer than h hits gets its
// p from adaptive multilevel splitting over the admissible labellings instead
// (the "last particle" form): R runs of N particles, the first N R
// admissible shufflings of the pool, each with an auxiliary uniform u drawn
// from the pair's own generator; the statistic is (base, u) in lexicographic order, which has no
// ties, so P(base >= b0) = P((base, u) >= (b0, 0)) is a continuous tail. The
// lowest particle is replaced by a copy of another moved by label swaps (one
// to three exchanges of a one and a zero, u drawn afresh) kept only when both
// probes stay candidates and the particle stays above the lowest level (as
// many proposals as the acceptance rate of the last replacements says give
// about `acc` kept moves, at most `moves`); after K
// replacements every particle has base >= b0 and p = (1 - 1/N)^K, unbiased,
// with K Poisson of mean -N ln p: sd(ln p) = sqrt(-ln p / N). Everything is
// drawn from the seed and the pair's probe numbers. R such runs (reps) are
// averaged; the error stated is the larger of what N R ideal particles give
// (scaled up when the copies kept fewer than `acc` moves on average) and
// what the runs' spread shows. A pair whose estimate falls below floor
// stops there (its p is then an upper bound); one with fewer than N R
// admissible shufflings within the cap keeps its permutation p.
//
// Call after load_exp (and shuffle_phe, if any). Reads the loaded table,
// ini_phe and the entropy tables only, and keeps no state between calls
// (each runs its own threads, par.h); throws syn_error.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "fast.h"
#include "synergy.h"

constexpr uint64_t SIG_PERM = 10000000;      // default cap on shufflings per pair without the tail
constexpr uint64_t SIG_PERM_TAIL = 1000000;  // default cap when the tail takes over below it...
constexpr double SIG_WORK = 1e8;         // ...and at most this over the sample count (a shuffling costs ~n)
constexpr int SIG_PART = 64;             // particles per run of the tail
constexpr int SIG_REPS = 4;              // independent runs: sd(ln p) 0.36 (a factor 1.43) at 1e-12
constexpr int SIG_ACC = 30;              // moves kept per replaced particle, sought...
constexpr int SIG_MOVES = 3000;          // ...with at most this many proposals
constexpr double SIG_FLOOR = 1e-15;      // the tail stops below this p
constexpr int SIG_HITS = 20;             // default hits that stop a pair: p within about 1/sqrt(20) = 22%
constexpr bool SIG_TAIL = true;          // the tail estimate is on by default
constexpr uint64_t SIG_SEED = 1;         // default seed of the shuffling pool
constexpr int SIG_CHUNK0 = 1 << 14;      // shufflings in the first chunk of the pool
constexpr int SIG_CHUNK_MAX = 1 << 20;   // largest chunk; chunks double up to it

struct sig_opt {
  uint64_t seed = SIG_SEED;
  uint64_t cap = SIG_PERM_TAIL;  // shufflings drawn at most per pair (the programs: sig_cap(tail))
  int hits = SIG_HITS;      // hits that stop a pair (>= 1)
  double bound = CAND_BOUND;  // candidate bound; -infinity admits every shuffling
  int n_thr = 1;
  bool tail = SIG_TAIL;      // estimate p in the tail below h hits
  int part = SIG_PART;       // particles per run (>= 2)
  int reps = SIG_REPS;       // independent runs, averaged
  int acc = SIG_ACC;         // accepted moves sought per replacement
  int moves = SIG_MOVES;     // proposals per replacement at most
  double floor = SIG_FLOOR;  // the tail stops below this p
  // Given each pair's index and joint partition as it is made (on any
  // thread; may throw): the records' partition lines checked against it.
  std::function<void(size_t, const ::part&)> joint;
};

// Where a pair's p comes from.
enum sig_src : int { SRC_PERM = 0, SRC_TAIL = 1, SRC_FLOOR = 2 };
extern const char* const SIG_SRC_NAME[3];  // "perm", "tail", "floor"

// One pair: a, b are set by the caller, the rest is filled by sig_run.
struct sig_pair {
  int a = 0, b = 0;       // probe numbers, first and second as recorded
  double base = 0.0;      // base synergy with ini_phe
  double p = 1.0;
  uint64_t perms = 0;     // shufflings drawn for the pair
  uint64_t adm = 0;       // of those, admissible
  uint64_t hits = 0;      // of those, base synergy >= base
  int src = SRC_PERM;     // where p comes from
  double l2err = 0.0;     // standard deviation of log2 p (approximate for perm)
};

// The default cap for the loaded table: SIG_PERM without the tail; with it
// SIG_PERM_TAIL, at most SIG_WORK / n_samp (10^5 at 1000 samples).
uint64_t sig_cap(bool tail);

// Seed of shuffling j of the pool.
uint64_t sig_seed(uint64_t seed, uint64_t j);

// Whether a single-probe score would make a candidate: its six-digit text
// ("%g", as the ranked list holds it) read back is above bound.
bool sig_cand(double score, double bound);

// Base synergy of a pair from its three partitions under labels lab: the
// first score of flip_search, ((s1/n + s2/n) - e/n) - h, each entropy summed
// term by term in cluster order (bit-identical to call_two_syn; tested in
// tests/unit/test_signif.cpp). NO_PART when a partition is missing.
double sig_base(const part& pa, const part& pb, const part& pj, const int* lab);

// Base synergies only (no shufflings), on n_thr threads. Throws syn_error
// naming the pair when a pair has no partition.
void sig_bases(std::vector<sig_pair>& pr, int n_thr, const std::function<void(size_t, const part&)>& joint = {});

// Base, p, perms, admissible and hits of every pair. tick(k) is called on the
// calling thread with the number of pairs whose p is final (may be empty).
void sig_run(std::vector<sig_pair>& pr, const sig_opt& o, const std::function<void(long)>& tick);

// sd of log2 p of a pair settled by the shufflings: sqrt((1 - p) / hits)
// for a pair stopped at its h-th hit, with hits + 1 at the cap (then p may be
// far smaller still); 0 without an admissible shuffling.
double perm_l2err(const sig_pair& q, int h);

// Benjamini-Hochberg q-values, in the order of p: q_i = min over ranks
// j >= rank(i) of p_(j) * m / j, at most 1.
std::vector<double> bh_q(const std::vector<double>& p);

// Search-level p: (1 + searches whose best final >= fin) / (1 + searches);
// NaN entries (searches without a record) never count as >=.
double p_search(double fin, const std::vector<double>& null_final);
