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
// are NOT reentrant: one scoring at a time, from one thread. The fast routines
// at the end of this header read only the loaded table and write only their own
// `work` scratch and outputs, so threads may run them at once, each with its
// own `work`. Both paths give bit-identical scores.
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

// ---- analysis state (defined in state.cpp) ----------------------------------
extern std::vector<std::string> probe;         // probe names, file order; read_exp
extern std::vector<int> phe;                   // labels as read; read_exp
extern std::vector<std::vector<double>> expr;  // expr[p][s]: value of probe p in sample s; read_exp
extern int n_samp;                             // number of labels; read_exp
extern int n_prob;                             // number of probe rows; read_exp
extern std::vector<int> p_line;                // 1-based file line of each probe row; read_exp
extern int n_line;                             // lines in the file (a last line without newline counts); read_exp
extern std::vector<int> ini_phe;               // the run's label vector, copy of phe; init_work
extern std::vector<std::vector<double>> dis;   // n_samp x n_samp distances; builders fill, cluster consumes
extern int min_id[2];                          // closest sample pair of the last build; builders
extern std::vector<int> s_cid;                 // cluster number of each sample, last partition read back; synergic
extern std::string dndr;                       // partition string of the last clustering, or "N"; cluster
extern const double cut;                       // merge-height threshold, 0.06
extern std::vector<double> ent_tab;            // mi(S/M)*M at M*(M+1)/2+S, 0 <= S <= M <= n_samp; tab_init
extern std::vector<double> phe_tab;            // mi(k/n_samp) for k ones; tab_init

// The one error type of the core; what() is a one-line message.
struct syn_error : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// ---- reader -------------------------------------------------------------------
// Lines of a plain or gzip file (detected by content: zlib reads plain files
// as they are). Throws syn_error naming the path when the file cannot be
// opened or read, including a gzip stream that stops early.
class line_src {
 public:
  explicit line_src(const char* path);
  ~line_src();
  line_src(const line_src&) = delete;
  line_src& operator=(const line_src&) = delete;
  // Next line without its newline; false at the end. A final newline does not
  // open another line.
  bool next(std::string& line);
  // 1-based number of the line last returned.
  long line_no() const { return n_; }
  // Whether the line last returned ended with a newline (only the last line
  // of a file can lack one).
  bool had_nl() const { return nl_; }

 private:
  bool fill();
  std::string path_;
  void* f_ = nullptr;  // gzFile
  std::vector<char> buf_;
  size_t pos_ = 0, len_ = 0;
  bool eof_ = false, nl_ = false;
  long n_ = 0;
};

// Load a tab-separated expression table (plain or gzip, detected by content)
// into probe, phe, expr, n_samp, n_prob, p_line, n_line. Line 1 is ignored;
// line 2 gives one label per field after the caption (atoi); every later line
// of 2 or more characters is a probe row: name, then values (atof). A carriage
// return is not stripped. Throws syn_error if the file cannot be opened or read.
void read_exp(const char* path);

// Reject what the scoring cannot handle, naming `path` and the line: no label
// line, labels other than 0/1, rows with fewer values than labels, values that
// are not finite or span MAX_SPAN or more. Throws syn_error.
void check_exp(const char* path);

// atoi without its undefined overflow: out-of-range values clamp to INT_MIN
// and INT_MAX.
int to_int(const char* s);

// Working-array setup: size dis, s_cid and ini_phe to n_samp; ini_phe = phe.
void init_work();

// Back to the start values of a fresh process, so that another table can be
// loaded (read_exp appends to the containers).
void reset_exp();

// What every program does first: reset_exp, read_exp, check_exp, init_work,
// tab_init. Throws syn_error.
void load_exp(const char* path);

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

// ---- fast path ---------------------------------------------------------------------
// Partitions depend only on values, never on labels, so they are computed once
// and scored for any labelling from per-cluster counts. Samples split into
// groups that lie more than 2*cut apart (with a safety margin for rounding); a
// group never merges with another, so each group is clustered alone in the same
// pair order as the whole table, giving the same partition bit for bit.

// A partition as cluster numbers, clusters numbered by their smallest member.
struct part {
  int n_cl = 0;          // number of clusters; 0 when there is no partition ("N")
  std::vector<int> cid;  // cluster number of each sample
  std::vector<int> grp;  // single-probe partitions only: group of each sample
  int n_grp = 0;
};

// Entropy sum of one partition under the flip search's labels.
struct ent_sum {
  std::vector<int> m, s;         // cluster sizes and label sums
  std::vector<double> t, pre;    // cluster terms, and the sum of the terms before each
  std::vector<double> memo;      // sum with one label of cluster c flipped: [2c] up, [2c+1] down
  std::vector<int> memo_at;      // pass that filled each memo entry
  std::vector<double> q;         // fast sum over n_samp with one label of cluster c flipped: [2c] up, [2c+1] down
  double tot = 0.0;
};

// Per-thread scratch, sized once by work_init and reused by every call.
struct work {
  std::vector<double> d;                        // distances within one group, m x m
  std::vector<double> sz, rmin;                 // cluster sizes; row minima to the right (by slot)
  std::vector<int> act, pos, ramin, redo;       // active slots and their positions; argmin slot; stale rows
  std::vector<int> mnext, mtail;                // member chains
  std::vector<int> tree;                        // tournament tree over the row minima
  std::vector<int> ord, off, cnt, stamp, slot, rep, num;
  std::vector<double> val;
  part jp;                                      // joint partition of the current pair
  std::vector<int> lab;                         // working label vector of the flip search
  std::vector<double> fsc;                      // score of each flip in a pass (fast or exact)
  std::vector<int> fst;                         // whether each flip improves, and how it was scored
  ent_sum es[3];                                // first probe, second probe, joint
};
void work_init(work& w);

// Entropy tables for the run: mi(S/M)*M for 0 <= S <= M <= n_samp, and the
// label entropy by count of ones. Call once after init_work, before threads.
void tab_init();

// Partition of probe p alone.
void sin_part(int p, work& w, part& out);
// Joint partition of probes a and b (sel 0: Chebyshev, else Euclidean), given
// their single partitions.
void two_part(int a, int b, int sel, const part& pa, const part& pb, work& w, part& out);
// Conditional label entropy of a partition, as synergic computes it.
double part_ent(const part& pt, const int* lab, work& w);

// Greedy label-flip search on one pair. Returns -1 when the pair has no
// partition; else 1 with the best synergy, the final labels and the joint
// cluster numbers.
struct pair_res {
  double best = 0.0;
  std::vector<int> lab;
  std::vector<int> cid;
};
int flip_search(int a, int b, int sel, const part& pa, const part& pb, work& w, pair_res& r);

// ---- threads -----------------------------------------------------------------------
// Run job(i, tid) for every i in [0, n) on n_thr worker threads (tid in
// [0, n_thr)) and call emit(i) on the calling thread in increasing i, each after
// its job has finished. No job starts more than `window` items ahead of the
// next emit, so callers keep results in a ring of `window` slots (slot
// i % window). An exception from a job or from emit stops the run and is
// rethrown here. n_thr 1 runs everything on the calling thread.
void par_ordered(long n, int n_thr, long window, const std::function<void(long, int)>& job,
                 const std::function<void(long)>& emit);
