// synergy.h: the analysis core shared by probe_rank, pair_search and pair_report.
//
// An expression table (header line, 0/1 label line, one row per probe) is loaded
// into a small process-wide analysis state. Samples are partitioned by a
// threshold-cut average-linkage clustering of one probe's values, or of two
// probes' values as points in the plane; a partition is scored by the label
// entropy left inside its clusters (binary entropy in bits); the synergy of a
// pair is what the joint partition tells beyond the two single partitions.
//
// Calling protocol
//   load_exp(path)  -- reset_exp, read_exp, check_exp, init_work, tab_init
//   then any number of scoring calls.
// The named routines (comp_*_dis, cluster, synergic, call_sin_syn,
// call_two_syn) run on the shared working state (dis, min_id, dndr, s_cid) and
// are NOT reentrant: one scoring at a time, from one thread.
//
// The rest of the core has headers of its own:
//   line_src.h  the line reader (plain or gzip) of every text input
//   par.h       the ordered parallel loop
//   fast.h      the fast path the programs run, with the table of which
//               literal routine each fast routine equals and which test says so
//
// Errors: core routines throw syn_error; only programs print.
#pragma once

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

// ---- fixed numbers ----------------------------------------------------------
constexpr double NO_PART = -10.0;       // no-partition score, tested with ==
constexpr double BIG_DIS = 10000000.0;  // start bound of every closest-pair search
constexpr double MAX_SPAN = 7000000.0;  // largest accepted value span of a probe: keeps any distance < BIG_DIS
constexpr double LN2 = 0.6931471805599453;
constexpr double PURE_P = 0.9999;       // a pure cluster is scored as this proportion
constexpr double IMP_MARGIN = 0.01;     // a label flip must raise the synergy by more than this
constexpr double CAND_BOUND = 0.97175;  // ranked probes scoring above this are pair candidates

// ---- score text ------------------------------------------------------------------
// Every file holds a score or synergy as its six-digit text ("%g", the default
// stream format), and candidacy is decided on that text: the one rule, used by
// every writer (io/) and by the candidacy test. buf holds SCORE_CHARS bytes;
// returns the text's length.
constexpr int SCORE_CHARS = 32;
int score_chars(double x, char* buf);
std::string score_text(double x);

// ---- analysis state (defined in state.cpp) ----------------------------------
extern std::vector<std::string> probe;         // probe names, file order; read_exp
extern std::vector<int> phe;                   // labels as read; read_exp
extern std::vector<std::vector<double>> expr;  // expr[p][s]: value of probe p in sample s; read_exp
extern int n_samp;                             // number of labels; read_exp
extern int n_prob;                             // number of probe rows; read_exp
extern std::vector<int64_t> p_line;            // 1-based file line of each probe row; read_exp
extern int64_t n_line;                         // lines in the file (a last line without newline counts); read_exp
extern std::vector<int> ini_phe;               // the run's label vector, copy of phe; init_work
extern std::vector<std::vector<double>> dis;   // n_samp x n_samp distances; sized by the first distance build
                                               // (the fast path never needs it), builders fill, cluster consumes
extern int min_id[2];                          // closest sample pair of the last build; builders
extern std::vector<int> s_cid;                 // cluster number of each sample, last partition read back; synergic
extern std::string dndr;                       // partition string of the last clustering, or "N"; cluster
extern const double cut;                       // merge-height threshold, 0.06
extern std::vector<double> ent_tab;            // mi(S/M)*M at M*(M+1)/2+S, 0 <= S <= M <= min(n_samp, 1024);
                                               // tab_init; read it through ent_term (fast.h)
extern std::vector<double> phe_tab;            // mi(k/n_samp) for k ones; tab_init

// The one error type of the core; what() is a one-line message.
struct syn_error : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// Progress of a load: bytes of the file read so far and its size (0 when
// unknown), called every few thousand lines and at the end.
using load_tick = std::function<void(uint64_t done, uint64_t total)>;

// Load a tab-separated expression table (plain or gzip, detected by content)
// into probe, phe, expr, n_samp, n_prob, p_line, n_line. Line 1 is ignored;
// line 2 gives one label per field after the caption; every later line of 2
// or more characters is a probe row: name, then values. Fields are read
// whole (line_src.h): a label must be 0 or 1, each of the first n_samp values
// of a row a number, blanks around them and the line's final carriage return
// allowed; values beyond n_samp are kept but never read. Throws syn_error
// naming the file, line, sample and field at fault, or when the file cannot
// be opened or read.
void read_exp(const char* path, const load_tick& tick = {});

// Reject what the scoring cannot handle, naming `path` and the line: no label
// line, fewer than 2 samples, labels other than 0/1, rows with fewer values
// than labels, values that are not finite or span MAX_SPAN or more. Throws
// syn_error.
void check_exp(const char* path);

// Why a probe name could not be written into the lists and records and read
// back the same, or "": a tab or a line break in it, or the two bytes of a
// gzip header at its start (a file beginning with it would be read as gzip).
std::string name_fault(const std::string& name);
// Why the loaded table does not look like log-scale expression, or "": its
// values span more than SCALE_SPAN or reach above SCALE_TOP (linear
// intensities or counts), or every probe has mean within 0.05 of 0 and
// standard deviation within 0.05 of 1 (z-scores). The cut height is in the
// units of the values, so such a table gives other clusters than its log
// values would. Only a warning: nothing is changed.
std::string scale_why();
constexpr double SCALE_SPAN = 100.0;
constexpr double SCALE_TOP = 1000.0;

// Text for standard error (the programs' progress and notes): written there
// by say.cpp; a host that owns the console (the R package) links its own.
void say_err(const char* text);

// atoi without its undefined overflow: out-of-range values clamp to INT_MIN
// and INT_MAX.
int to_int(const char* s);

// Working-array setup: size s_cid and ini_phe to n_samp; ini_phe = phe. The
// n_samp x n_samp matrix dis is sized by the first distance build, so runs
// that use only the fast path never hold it.
void init_work();

// Back to the start values of a fresh process, so that another table can be
// loaded (read_exp appends to the containers).
void reset_exp();

// What every program does first: reset_exp, read_exp, check_exp, init_work,
// tab_init. Throws syn_error.
void load_exp(const char* path, const load_tick& tick = {});
// The same from memory: rows named by names, x column-major (rows x labels.size()); errors name src, row, column.
void load_mem(const char* src, const std::vector<std::string>& names, const std::vector<int>& labels, const double* x);

// Permute the labels of the loaded table (phe and ini_phe alike) with the
// seeded shuffle of rng.h: a table whose labels are random but keep their
// counts, for the shuffled-label searches of the significance null. The same
// seed gives the same labels on every machine.
void shuffle_phe(uint64_t seed);

// ---- distances and clustering ------------------------------------------------
// Fill dis with |expr[p][i] - expr[p][j]| and leave the closest pair in min_id
// (strictly smaller wins, so the first pair in scan order takes a tie).
void comp_sin_dis(int p);
// Same over two probes: Euclidean distance in the plane of p and q.
void comp_eu_dis(int p, int q);
// Same over two probes: the larger of the two absolute differences.
void comp_ch_dis(int p, int q);
// Average-linkage clustering of dis, stopping before the first merge higher
// than cut; writes the partition string to dndr ("N" for a single cluster or
// fewer than two samples). Consumes dis; starts from min_id.
void cluster();

// ---- scores ---------------------------------------------------------------------
// Binary entropy in bits of a proportion; a pure proportion counts as PURE_P.
double mi(double x);
// Conditional label entropy given the partition in dndr; fills s_cid.
// NO_PART when dndr is one character.
double synergic(const int* lab);
// Label entropy of a label vector.
double phe_synergic(const int* lab);
// Single-probe score of probe p: comp_sin_dis, cluster, synergic.
double call_sin_syn(int p, const int* lab);
// Pair synergy ((s1 + s2) - e) - h; sel 0: Chebyshev, else Euclidean.
double call_two_syn(int a, int b, const int* lab, int sel);
