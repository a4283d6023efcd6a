// exports.h: the column tables of pair_report's exports (--tsv: every
// distinct pair; --edges: the pairs that pass, as an edge list). Both start
// with provenance comment lines (table.h), then the header. Fields that hold
// a double quote are quoted, inner quotes doubled, so that R's read.delim and
// Python's csv module read them back as written.
#pragma once

#include <string>
#include <vector>

// The columns of --tsv, in file order.
enum tsv_col : int {
  TC_RANK,
  TC_FIRST,
  TC_SECOND,
  TC_FIRST_PROBE,
  TC_SECOND_PROBE,
  TC_BASE,
  TC_FINAL,
  TC_P,
  TC_P_SOURCE,
  TC_P_LOG2ERR,
  TC_Q,
  TC_P_SEARCH,
  TC_PASS,
  TC_JOINT,
  TC_FLIPPED,
  TC_FLIPPED_SAMPLES,
  TC_FIRST_SCORE,
  TC_SECOND_SCORE,
  TC_N
};

// A column and when it is there: 0 always; 'g' with a significance table;
// 't' with its tail columns; 's' with its p_search.
struct exp_col_def {
  const char* name;
  char when;
  const char* help;
};

constexpr exp_col_def TSV_COLS[TC_N] = {
    {"rank", 0, "place in the page's order"},
    {"first", 0, "first gene (symbol and probe with gene names, else the probe)"},
    {"second", 0, "second gene"},
    {"first_probe", 0, "first probe"},
    {"second_probe", 0, "second probe"},
    {"base", 'g', "synergy with the table's labels"},
    {"final", 0, "final synergy after the label flips"},
    {"p", 'g', "permutation p"},
    {"p_source", 't', "where p comes from: perm, tail or floor"},
    {"p_log2err", 't', "standard deviation of log2 p"},
    {"q", 'g', "Benjamini-Hochberg q-value"},
    {"p_search", 's', "share of shuffled-label searches reaching the final synergy"},
    {"pass", 'g', "1 when q is below --q, else 0"},
    {"joint_clusters", 0, "clusters of the joint partition"},
    {"flipped", 0, "samples whose label the search flipped"},
    {"flipped_samples", 0, "their names, comma-separated"},
    {"first_score", 0, "single-probe score of the first probe (NA: not in the list)"},
    {"second_score", 0, "single-probe score of the second probe"},
};

// The columns of --tsv for a report with or without a significance table
// (sig), its tail columns (src) and its p_search (ps), in file order.
std::vector<int> tsv_cols(bool sig, bool src, bool ps);
std::vector<std::string> tsv_names(bool sig, bool src, bool ps);

// The columns of --edges.
std::vector<std::string> edge_names();

// A field as the exports write it (quoted when it holds a double quote).
std::string tsv_field(const std::string& s);
