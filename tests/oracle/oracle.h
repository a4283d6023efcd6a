// oracle.h: a literal, unoptimised copy of the whole scoring path, kept beside
// the core as the reference it is compared with, byte for byte and with ==.
//
// It follows the step lists of the analysis word for word: the same
// floating-point operation order, strict comparisons, scan order and
// tie-breaks, a real partition string read back with stoi, and a full pair
// scoring for every label flip tried. It is slow on purpose (a pair search
// costs 1 + n_samp * (passes + 1) pair scorings per pair): feed it small tables.
//
// It has its own state (nothing is shared with synergy_core) and its own plain
// text reader: lines split at '\n', fields at '\t' (k tabs give k + 1 fields),
// no carriage return stripped, probe lines shorter than 2 characters skipped,
// atoi for labels and atof for values. No input checks: give it tables the
// core's check accepts (every row holds at least n_samp values).
//
// Not thread-safe; one load at a time.
#pragma once

#include <string>
#include <vector>

namespace oracle {

// Load an expression table; replaces everything the oracle held before.
void load(const std::string& expr_path);

// Single-probe score of probe p under the labels lab (one per sample):
// the conditional label entropy given the probe's partition, or -10.0.
double sin_syn(int p, const std::vector<int>& lab);

// Pair synergy of probes a, b under lab; sel 0 Chebyshev, else Euclidean.
double two_syn(int a, int b, const std::vector<int>& lab, int sel);

// Partition string of one probe (its distance build and clustering only),
// and of a pair (sel 0 Chebyshev, else Euclidean). Leaves dndr() set.
const std::string& sin_part(int p);
const std::string& two_part(int a, int b, int sel);
// Conditional label entropy given the partition now in dndr(); fills s_cid().
double synergic(const std::vector<int>& lab);

// State left by the last scoring call.
const std::string& dndr();          // partition string, or "N"
const std::vector<int>& s_cid();    // cluster number of each sample
int n_samp();
int n_prob();
const std::vector<int>& labels();   // labels as read
const std::vector<std::string>& names();

// Exact bytes the probe ranking program writes for this table. A probe
// without a partition gets 1 in the cluster-count column.
std::string rank_list(const std::string& expr_path);

// Greedy label-flip search of one ordered pair, as the pair search runs it.
// Returns -1 (and leaves rec empty) when the pair has no partition; else 1
// and rec holds the two record lines. When improving flips exist but none
// scores above 0.0, the improving flip with the largest score (lowest sample
// number on ties) is applied and its score becomes the current best.
struct opt_res {
  double best = 0.0;     // final current best
  std::vector<int> lab;  // final labels
  std::vector<int> cid;  // joint cluster numbers
};
int optimize(int a, int b, int sel, opt_res& r);
int optimize(int a, int b, int sel, std::string& rec);

// Exact bytes the pair search appends to an empty record file, and prints on
// stdout, for the candidate range [start, end) read from ranked_path.
struct search_out {
  std::string records, progress;
};
search_out pair_search(const std::string& expr_path, const std::string& ranked_path, int start, int end);

// Candidate list (probe numbers) read from a ranked probe list: leading
// lines while their score, read with atof from field 3, is above 0.97175.
// A line with fewer than three fields reads a score of 0 and stops the list.
std::vector<int> candidates(const std::string& ranked_path);

// Counts of the rare situations met since the last reset, so that tests can
// show their tables reach them.
struct stats {
  long cut_equal = 0;  // merges whose height equals the cut exactly
  long ties = 0;       // closest-pair scans with a tie for the smallest distance
  long fallback = 0;   // passes whose improving flips all scored 0.0 or less
};
stats& counters();

}  // namespace oracle
