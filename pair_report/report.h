// report.h: reading a finished search back in, and the page that shows it.
//
// pair_report loads the expression table with the core's reader (read_exp,
// check_exp), then reads the sample names from the table's header line, the
// ranked probe list and the pair record file, checking each line against the
// loaded table; optionally the significance table of pair_signif (which must
// name the same distinct pairs), the search-level null and gene names. Every
// reading routine throws syn_error with a one-line message "FILE:LINE:
// reason"; nothing here prints. run_report does the whole run; main only
// fills a rep_opt from the command line.
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

#include "null_file.h"
#include "ranked.h"
#include "records.h"
#include "sigtab.h"
#include "synergy.h"

constexpr int TOP_DEF = 20;    // pairs shown in the table and plotted, by default
constexpr int TOP_MAX = 1000;  // beyond this the page (a plot per pair) grows past any use

// ---- inputs ---------------------------------------------------------------------

// Sample names from line 1 of the table (plain or gzip): the fields after the
// first; a missing or empty field gives "sample <number>". One trailing carriage
// return is dropped. Returns n_samp names.
std::vector<std::string> read_names(const char* path, int n_samp);

// The ranked probe list and the pair records are read by the shared readers
// of io/ (read_ranked, parse_rec, rec_reader), by the same rules as in every
// other program.

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

// ---- significance, search null, gene names (extra_in.cpp) ----------------------

constexpr double Q_DEF = 0.05;      // pairs with q below this pass, by default
constexpr double FLIP_ALPHA = 0.05; // family-wise level of the per-sample flip test

// The significance table (sig_row, sig_tab, read_signif, pair_key) and the
// search null (null_tab, read_null) are read by io/ (sigtab.h, null_file.h).

// Gene names by probe number; an empty symbol: the probe keeps its ID.
struct annot {
  std::vector<std::string> sym, desc;
};
// Tab-separated: probe name, symbol, optional description. Lines naming no
// probe of the table are skipped (a header line among them); an empty or "NA"
// symbol leaves the probe unnamed; a probe listed again adds its other symbols
// ("A/B"). Surrounding double quotes of a field are dropped.
annot read_annot(const char* path, const name_idx& idx);
// "symbol (probe)", or the probe name alone when it has no symbol or `an` is null.
std::string disp(const annot* an, int p, const std::string& name);

// One distinct pair of the records, with what the page and the exports show.
struct pair_row {
  int pa = -1, pb = -1;
  std::string a, b;
  double syn = 0;
  std::string syn_txt;
  int n_cl = 0;
  std::vector<int> fl;   // flipped samples, ascending
  long line = 0;         // record line
  long sig = -1;         // row of the significance table, -1 without one
};

// Every option of the report, filled by the program's command line.
struct rep_opt {
  std::string expr, ranked, records, out;   // the four arguments
  int top_n = TOP_DEF;
  double q = Q_DEF;                         // --q: threshold on q
  double bound = CAND_BOUND;                // --bound: the search's candidate bound
  std::string signif, null, annot, tsv, edges;  // optional files, empty when not given
  std::string version;
  std::string command;  // the command line, for the page's footer
};

// Everything the page and the exports are made from.
struct rep_data {
  std::vector<std::string> names;  // sample names
  rl_info rk;
  rec_sum rs;                      // top: the top pairs in page order
  std::vector<pair_row> all;       // distinct pairs in page order
  sig_tab sig;
  null_tab nul;
  annot an;
  bool has_sig = false, has_null = false, has_annot = false;
};

// Read every input of `o` (the expression table already loaded), checking the
// records and the significance table name the same pairs with the same final
// synergy, and order the pairs: by q, then base synergy descending, then table
// order with a significance table; by final synergy descending, then record
// order without one.
void load_report(const rep_opt& o, rep_data& d);

// What is wrong with the combination of files in `o` (an output that is an
// input or another output, --edges without --signif), or "".
std::string opt_error(const rep_opt& o);

// Run the report: check arguments and outputs, load, write the page and the
// exports, each whole (temporary file renamed into place, all three after
// every one is complete). Throws syn_error. Returns notes for standard error
// (an empty result and why).
std::vector<std::string> run_report(const rep_opt& o);

// Upper tail P(X >= c) of a binomial(n, r) count.
double binom_upper(long c, long n, double r);

constexpr double FLIP_FOLD = 2.0;  // a marked sample is flipped at least this many times the average rate

// Samples flipped far more often than all samples together: with n distinct
// pairs and the average rate r (all flips over n times the sample count), a
// sample's tail p is binom_upper(its count, n, r) times the sample count
// (Bonferroni), and it is marked when that is below FLIP_ALPHA and its share of
// pairs is at least FLIP_FOLD times r (over many pairs a tiny excess is
// "significant" yet says nothing).
struct flip_test {
  double rate = 0;            // average flip rate
  std::vector<double> padj;   // per sample: Bonferroni-corrected tail p
  std::vector<char> hot;      // per sample: marked
  long n_hot = 0;
};
flip_test test_flips(const rec_sum& s);

// ---- page ---------------------------------------------------------------------------

struct page_in {
  std::string expr_path, ranked_path, rec_path;  // as given, for the page's heading
  std::string signif_path, null_path, annot_path;
  std::string version, command;
  int top_n = TOP_DEF;
  double q = Q_DEF;
  double bound = CAND_BOUND;       // the search's candidate bound
  std::vector<std::string> names;  // sample names
  const rl_info* rk = nullptr;
  const rec_sum* rs = nullptr;
  const rep_data* d = nullptr;     // significance, null and names; null: a page without them
};

// The two exports (columns: io/exports.h), with the numbers the page shows
// (as written in the inputs), after the provenance lines of pv.
void write_tsv(std::ostream& os, const rep_data& d, double q, const prov& pv = {});
void write_edges(std::ostream& os, const rep_data& d, double q, const prov& pv = {});

// Write the self-contained HTML page (inline SVG and CSS, no scripts).
void write_page(std::ostream& os, const page_in& in);

// The whole command line of pair_report and "synergy report" (the same exit
// statuses); name is what help and messages call it. Returns the exit status.
int report_cmd(int argc, char** argv, const char* name);
