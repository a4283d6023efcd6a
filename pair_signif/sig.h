// sig.h: pair_signif's routines: reading a finished search back, the search
// null, and the significance table. Every reading routine throws syn_error
// with a one-line message naming the file and line; nothing here prints.
//
// Call after load_exp (and shuffle_phe for a shuffled-label run).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "signif.h"
#include "sigtab.h"

// The distinct pairs of a record file, in first-record order.
struct sig_in {
  std::vector<sig_pair> pr;          // probe numbers a, b as in the first record
  std::vector<std::string> fin_txt;  // final synergy as written
  std::vector<double> fin;           // its value
  std::vector<int> flips;            // samples whose final label differs from ini_phe
  long n_rec = 0;                    // records read
};

// Read a pair record file (plain or gzip; one run or shards concatenated),
// every record checked against the loaded table by the shared record reader;
// a file cut inside its last line is rejected. Parsed on n_thr threads; the
// result does not depend on n_thr. With chk, the records are also checked to
// belong to the table, list and bound (rec_check.h).
class rec_check;
sig_in read_pairs(const char* path, int n_thr, rec_check* chk = nullptr);

// Check the ranked list against the loaded table (the shared reader) and
// return its candidate count: leading lines whose score is above bound.
int count_cand(const char* path, double bound);

// The best final synergy of each line of a search-null file (the shared
// reader), NaN for "NA".
std::vector<double> null_finals(const char* path);

// The table's order (p ascending, base descending, record order) as indices
// into in.pr, and the Benjamini-Hochberg q-value of each pair (by index).
void sig_rank(const sig_in& in, std::vector<size_t>& ord, std::vector<double>& q);

// The significance table: header and one line per pair, sorted by p
// ascending, base descending, record order (its format: io/sigtab.h), after
// the provenance lines of pv. null_final: with a p_search column when not
// null; with_src: with p_source and p_log2err.
std::string sig_table(const sig_in& in, const std::vector<double>* null_final, bool with_src = false,
                      const prov& pv = {});

// The search-null line of a shuffled-label run: seed, candidates, best base
// and best final over its pairs ("NA" for both without pairs). Needs bases.
std::string null_line(uint64_t seed, int n_cand, const sig_in& in);

// The whole command line of pair_signif and "synergy signif" (the same exit
// statuses); name is what help and messages call it. Returns the exit status.
int signif_cmd(int argc, char** argv, const char* name);
