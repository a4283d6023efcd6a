// report.h: reading a finished search back in, and the page that shows it.
//
// pair_report loads the expression table with the core's reader (read_exp,
// check_exp), then reads the sample names from the table's header line, the
// ranked probe list and the pair record file, checking each line against the
// loaded table. Every reading routine throws syn_error with a one-line message
// "FILE:LINE: reason"; nothing here prints.
//
// A pair and its mirror (the same two probes in the other order), and a pair
// recorded twice (overlapping shards), count once: the first record of each
// unordered pair in file order stands for it everywhere in the report.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "synergy.h"

constexpr int TOP_DEF = 20;    // pairs shown in the table and plotted, by default
constexpr int TOP_MAX = 1000;  // beyond this the page (a plot per pair) grows past any use

// ---- inputs ---------------------------------------------------------------------

// Sample names from line 1 of the table (plain or gzip): the fields after the
// first; a missing or empty field gives "sample <number>". One trailing carriage
// return is dropped. Returns n_samp names.
std::vector<std::string> read_names(const char* path, int n_samp);

// One line of the ranked probe list.
struct rl_row {
  std::string name;  // probe name, as the table has it
  int prb = 0;       // probe number
  double score = 0;  // single-probe score (NO_PART: no partition)
  int n_cl = 0;      // cluster count
};

struct rl_info {
  std::vector<rl_row> rows;  // file order
  int n_cand = 0;              // leading rows scoring above CAND_BOUND: the pair candidates
  int n_nopart = 0;            // rows with the no-partition score
  std::vector<int> pos;        // by probe number: 0-based line of that probe, -1 if not listed
};

// Read the ranked probe list against the loaded table: four fields per line,
// a probe number of the table with its name, a finite score, a cluster count;
// every probe at most once.
rl_info read_ranked(const char* path);

// One pair record (two lines of the pair record file).
struct pair_rec {
  long line = 0;         // file line of the record's first line
  std::string a, b;      // probe names as written
  int pa = -1, pb = -1;  // their probe numbers (first table row of that name)
  double syn = 0.0;      // final synergy
  std::string syn_txt;   // final synergy as written
  std::vector<int> lab;  // final labels, one per sample
  std::vector<int> cid;  // joint cluster number of each sample
  int n_cl = 0;          // clusters in the joint partition
};

// First table row of every probe name.
using name_idx = std::unordered_map<std::string, int>;
name_idx make_idx();

// Parse the two lines of one record (l1 at file line `line` of `where`) against
// the loaded table: n_samp + 3 fields each, known probe names, the same pair on
// both lines, a finite synergy, labels 0/1, "-9" in field 3 of line 2, cluster
// numbers 0 to n_samp - 1. `l2` null: the file ended after line 1.
void parse_rec(const std::string& l1, const std::string* l2, const std::string& where, long line,
               const name_idx& idx, pair_rec& out);

// What the report needs from all records, gathered one record at a time.
struct rec_sum {
  long n_rec = 0;              // records read
  long n_dup = 0;              // records of a pair already seen (mirror or repeat)
  std::vector<double> syn;     // final synergy of each distinct pair, in record order
  std::vector<long> n_flip;    // per sample: distinct pairs whose search flipped its label
  std::vector<pair_rec> top;   // best distinct pairs, synergy descending, ties in record order
  std::unordered_set<uint64_t> seen;  // unordered probe-number pairs taken so far
};

// Start an empty summary for the loaded table.
void sum_init(rec_sum& s);
// Take one record: a pair already seen only counts in n_dup; a new pair adds
// its synergy and flips and competes for the `top_n` places. Returns false for
// a pair already seen.
bool add_rec(rec_sum& s, pair_rec&& r, int top_n);
// Samples whose final label differs from the table's label, ascending.
std::vector<int> flipped(const pair_rec& r);
// Samples flipped at least once, most often first; ties by sample number.
std::vector<int> flip_rank(const rec_sum& s);

// Read the whole pair record file (plain or gzip) into a summary.
rec_sum read_records(const char* path, int top_n);

// ---- page ---------------------------------------------------------------------------

struct page_in {
  std::string expr_path, ranked_path, rec_path;  // as given, for the page's heading
  std::string version;
  int top_n = TOP_DEF;
  std::vector<std::string> names;  // sample names
  const rl_info* rk = nullptr;
  const rec_sum* rs = nullptr;
};

// Write the self-contained HTML page (inline SVG and CSS, no scripts).
void write_page(std::ostream& os, const page_in& in);
