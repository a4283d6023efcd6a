// sigtab.h: the significance table (pair_signif OUT -> pair_report --signif,
// R, Python), its writer beside its reader, both made from one column table.
//
// The file: provenance comment lines "# ..." (table.h), the header line, then
// one line per distinct pair. Columns, in this order: SIG_COLS below; p_search
// only with a search null, p_source and p_log2err only with the tail estimate
// (pair_signif --tail none leaves them out, and then writes the table of
// earlier versions byte for byte after the comment lines). The reader finds
// the columns by name.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "records.h"
#include "table.h"

// The columns, in file order.
enum sig_col : int {
  SC_FIRST,
  SC_SECOND,
  SC_BASE,
  SC_FINAL,
  SC_FLIPS,
  SC_P,
  SC_Q,
  SC_P_SEARCH,
  SC_PERMS,
  SC_ADM,
  SC_HITS,
  SC_P_SOURCE,
  SC_P_LOG2ERR,
  SC_N
};

// One column: its name, when it is there ('s': with a search null, 't': with
// the tail estimate, 0: always) and what it holds, for the help and the docs.
struct sig_col_def {
  const char* name;
  char when;
  const char* help;
};

constexpr sig_col_def SIG_COLS[SC_N] = {
    {"first", 0, "first probe of the pair, as its first record names it"},
    {"second", 0, "second probe"},
    {"base", 0, "synergy with the table's labels (score text)"},
    {"final", 0, "final synergy after the label flips, as the record file has it"},
    {"flips", 0, "samples whose label the search flipped"},
    {"p", 0, "permutation p of the base synergy among admissible shufflings"},
    {"q", 0, "Benjamini-Hochberg q-value over all lines"},
    {"p_search", 's', "share of shuffled-label searches reaching the final synergy"},
    {"perms", 0, "shufflings drawn"},
    {"admissible", 0, "of them, those under which both probes stay candidates"},
    {"hits", 0, "of those, the ones with a base synergy at least as high"},
    {"p_source", 't', "where p comes from: perm, tail or floor"},
    {"p_log2err", 't', "standard deviation of log2 p"},
};

// The column names of a table with or without p_search (with_null) and the
// tail's columns (with_src): for the header and the bindings' column lists.
std::vector<std::string> sig_names(bool with_null, bool with_src);
// Its header line.
std::string sig_head(bool with_null, bool with_src);
// "first second ... hits [p_search] ..." for a help text: every column, the
// optional ones in brackets.
std::string sig_cols_help();

// The unordered probe-number pair a record or a table line names.
uint64_t pair_key(int pa, int pb);

// One line of the table, as the writer takes it and the reader gives it.
struct sig_row {
  long line = 0;         // file line (reader)
  std::string a, b;      // probe names
  int pa = -1, pb = -1;  // their probe numbers (reader, against a table)
  double base = 0, fin = 0, p = 1, q = 1, ps = 1;
  // as written (reader); the writer writes fin_txt when it is not empty (the
  // record file's text of the final synergy), and formats the rest
  std::string base_txt, fin_txt, p_txt, q_txt, ps_txt;
  long flips = 0, perms = 0, adm = 0, hits = 0;
  std::string src = "perm";  // p_source: perm, tail or floor
  double l2err = 0;
  std::string l2err_txt;
};

struct sig_tab {
  bool has_ps = false;                      // the p_search column is there
  bool has_src = false;                     // p_source and p_log2err are there (the tail's table)
  std::vector<sig_row> rows;                // file order
  std::unordered_map<uint64_t, size_t> at;  // pair_key -> row (against a table)
};

// One line of the table, with its newline. Numbers: base in score text, p, q
// and p_search with six significant digits, p_log2err with three.
std::string sig_line(const sig_row& r, bool with_null, bool with_src);

// The whole table: provenance lines (prov_text(pv); none for a default prov),
// header, a line per row in the given order. Throws syn_error naming the row
// when a name could not be read back the same or p_source is not perm, tail
// or floor.
std::string write_signif(const std::vector<sig_row>& rows, bool with_null, bool with_src,
                         const prov& pv = {});

// Read a table (plain or gzip): comment lines, then the header (its columns
// found by name: every column but the optional ones must be there), then one
// line per distinct pair: finite synergies, p, q and p_search from 0 to 1,
// whole counts with hits <= admissible <= perms, p_source perm, tail or
// floor, p_log2err a number >= 0, every pair once. With idx (the loaded
// table's make_idx), names must be probes of the table and pa, pb and `at`
// are filled; with none the names are taken as they are.
sig_tab read_signif(const char* path, const name_idx* idx = nullptr);
inline sig_tab read_signif(const char* path, const name_idx& idx) { return read_signif(path, &idx); }
