// null_file.h: the search-null file (pair_signif --null-line -> pair_signif
// --search-null, pair_report --null), its writer beside its reader.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

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

// The column names: the optional header line.
std::vector<std::string> null_names();

// One line: seed, candidates, then the best base and best final synergy
// (score text), or NA for both when the search wrote no record (has false).
std::string null_text(uint64_t seed, int n_cand, bool has, double best_base, double best_final);
