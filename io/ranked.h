// ranked.h: the ranked probe list (probe_rank -> pair_search, pair_report,
// pair_signif), its writer beside its reader. One line per probe, highest
// score first: name, probe number, score (its score text, synergy.h),
// cluster count. The bytes are fixed: no header, no comment lines.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "synergy.h"

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
  int n_cand = 0;            // leading rows scoring above the bound: the pair candidates
  int n_nopart = 0;          // rows with the no-partition score
  std::vector<int> pos;      // by probe number: 0-based line of that probe, -1 if not listed
                             // (only when read against a table)
};

// Read the whole list (plain or gzip). A last line without a newline and with
// fewer than four fields was cut short (probe_rank ends every line). Every
// line: four fields; a probe number (digits only) that the loaded table has, with the name the table gives
// it; a finite score (NaN is an error); a cluster count; every probe at most once. With table false (no table
// loaded: pair_search --count-candidates) the names cannot be checked and probe numbers only need to be
// distinct.
rl_info read_ranked(const char* path, double bound = CAND_BOUND, bool table = true);

// The candidates of a read list: the probe numbers of its first n_cand rows.
std::vector<int> cand_of(const rl_info& rk);

// The column names, for the help and the bindings.
std::vector<std::string> ranked_names();

// One line of the list, appended to out.
void ranked_line(std::string& out, std::string_view name, int prb, double score, int n_cl);

// The whole list for rows in the given order. Throws syn_error naming the row
// when a name could not be read back the same (name_fault).
std::string write_ranked(const std::vector<rl_row>& rows);
