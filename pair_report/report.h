// report.h: reading a finished search back in, and the page that shows it.
//
// pair_report loads the expression table with the core's reader (load_exp),
// then reads the sample names from the table's header line, the ranked probe
// list and the pair record file, checking each line against the loaded table. Every reading routine throws syn_error with a one-line message
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

#include "inputs.h"
#include "synergy.h"

constexpr int TOP_DEF = 20;    // pairs shown in the table and plotted, by default
constexpr int TOP_MAX = 1000;  // beyond this the page (a plot per pair) grows past any use

// ---- inputs ---------------------------------------------------------------------

// Sample names from line 1 of the table (plain or gzip): the fields after the
// first; a missing or empty field gives "sample <number>". One trailing carriage
// return is dropped. Returns n_samp names.
std::vector<std::string> read_names(const char* path, int n_samp);

// The ranked probe list and the pair records are read by the shared readers
// of inputs.h (read_ranked, parse_rec, rec_reader), by the same rules as in
// every other program.

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
