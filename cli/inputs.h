// inputs.h: the readers of the files the programs write for each other, one
// reader per file kind, so that a file one program accepts every program
// accepts: the ranked probe list (probe_rank -> pair_search, pair_report,
// pair_signif) and the pair record file (pair_search -> pair_report,
// pair_signif). Fields are judged whole by the rules of line_src.h; a line's
// final carriage return is allowed. Each reader throws syn_error with a
// one-line message "FILE:LINE: reason".
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "synergy.h"

class line_src;

// The fields of a line, split at every tab (k tabs: k + 1 fields).
void split_tabs(std::string_view s, std::vector<std::string_view>& f);

// ---- ranked probe list ---------------------------------------------------------
// One line per probe: name, probe number, score, cluster count.

struct rl_row {
  std::string name;  // probe name, as the table has it
  int prb = 0;       // probe number
  double score = 0;  // single-probe score (NO_PART: no partition)
  int n_cl = 0;      // cluster count
};

struct rl_info {
  std::vector<rl_row> rows;  // file order
  int n_cand = 0;              // leading rows scoring above the bound: the pair candidates
  int n_nopart = 0;            // rows with the no-partition score
  std::vector<int> pos;        // by probe number: 0-based line of that probe, -1 if not listed
                               // (only when read against a table)
};

// Read the whole list. A last line without a newline and with fewer than four
// fields was cut short (probe_rank ends every line). Every line: four fields; a probe number (digits only)
// that the loaded table has, with the name the table gives it; a finite
// score (NaN is an error); a cluster count; every probe at most once. With
// table false (no table loaded: pair_search --count-candidates) the names
// cannot be checked and probe numbers only need to be distinct.
rl_info read_ranked(const char* path, double bound = CAND_BOUND, bool table = true);

// The candidates of a read list: the probe numbers of its first n_cand rows.
std::vector<int> cand_of(const rl_info& rk);

// ---- pair record file -------------------------------------------------------------

// One pair record (two lines of the pair record file).
struct pair_rec {
  int64_t line = 0;      // file line of the record's first line
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

// Parse the two lines of one record (l1 at file line `line` of `where`, final
// carriage returns already removed) against the loaded table: n_samp + 3
// fields each, known probe names, the same pair on both lines, a finite
// synergy, labels 0/1, "-9" in field 3 of line 2, cluster numbers 0 to
// n_samp - 1. `l2` null: the file ended after line 1.
void parse_rec(const std::string& l1, const std::string* l2, const std::string& where, int64_t line,
               const name_idx& idx, pair_rec& out);

// The records of a file (plain or gzip), one at a time, against the loaded
// table. A file whose last line has no newline was cut short (a killed run)
// and is rejected. With n_thr > 1, batches of records are parsed on that many
// threads ahead of the caller; the records, and the first error, are the same.
// With a rec_check, every record is also checked to belong to the table, list
// and bound (rec_check.h); the last checks run when the end is reached.
class rec_check;
class rec_reader {
 public:
  explicit rec_reader(const char* path, int n_thr = 1, rec_check* chk = nullptr);
  ~rec_reader();  // where line_src is whole
  rec_reader(const rec_reader&) = delete;
  rec_reader& operator=(const rec_reader&) = delete;
  // Next record; false at the end of the file.
  bool next(pair_rec& r);

 private:
  bool fill();
  std::unique_ptr<line_src> in_;
  std::string where_;
  name_idx idx_;
  int n_thr_ = 1;
  rec_check* chk_ = nullptr;
  std::vector<std::string> l1_, l2_, err_;  // one batch: its lines and parse errors
  std::vector<char> has2_;
  std::vector<int64_t> line_;
  std::vector<pair_rec> buf_;
  size_t at_ = 0, n_ = 0;
  bool done_ = false;
};

// ---- search-null file ----------------------------------------------------------------
// One line per shuffled-label search (pair_signif --null-line), after an
// optional header line "seed candidates best_base best_final": a seed and a
// candidate count (whole numbers), then the best base and the best final
// synergy (numbers), or NA for both when the search wrote no record. At
// least one search, each seed once (a search counted twice would make
// p_search too small).

struct null_tab {
  long n = 0;                    // searches
  long n_na = 0;                 // of them without any record (NA)
  std::vector<double> best_fin;  // best final synergy of the others, file order
};
null_tab read_null(const char* path);
