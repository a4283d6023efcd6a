// fast_impl.h: the inside of the fast path (fast.h), for its own files only.
//
//   fast_part.cpp   partition assembly: groups and cells of samples, each
//                   clustered by one of the three below, numbered (sin_part,
//                   two_part, work_init)
//   fast_mat.cpp    matrix clustering of one group: row minima and a
//                   tournament tree over them
//   runs.cpp        sorted-run clustering of one probe's group (run_grp)
//   bound.cpp       bounded clustering of a large Chebyshev group without
//   bound_kern.cpp  its matrix (bnd_grp), and its vector kernels
//   fast_flip.cpp   entropy sums and the label-flip search (tab_init,
//                   part_ent, flip_search)
//
// Each algorithm has one scratch struct of its own, kept per thread in
// `work` and sized by work_init or by the algorithm itself. A group
// clustering writes its partition into rep: rep[sample] = the smallest
// member of the sample's cluster, for the group's samples only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <unordered_map>
#include <utility>
#include <vector>

#include "fast.h"

// ---- matrix clustering (fast_mat.cpp) ----------------------------------------

// The distance matrix of one group. From 512 samples on its rows are a page
// or more apart, and walks down a column would miss the address cache on
// every row: large matrices ask for large pages.
class mat_buf {
 public:
  double* data() { return p_.get(); }
  size_t size() const { return n_; }
  // room for at least n doubles, contents undefined; the old block goes first
  void grow(size_t n);

 private:
  struct frees {
    void operator()(double* p) const { std::free(p); }
  };
  std::unique_ptr<double[], frees> p_;
  size_t n_ = 0;
};

// Scratch of the matrix clustering, by slot (position in the group).
struct mat_scr {
  mat_buf d;                         // distances within one group: m x m, upper triangle used
  std::vector<double> sz, rmin;      // cluster sizes; row minima to the right, and the tree's key of no slot
  std::vector<int> act, pos, ramin;  // active slots and their positions; argmin slot
  std::vector<int> stale;            // rows whose minimum is only a lower bound
  std::vector<int> mnext, mtail;     // member chains
  std::vector<int> tree;             // tournament tree over the row minima
};

// Below ROW_MIN samples a Chebyshev group's distances are taken one at a
// time: the gathering and the call per row cost more than whole rows save.
constexpr int ROW_MIN = 100;

// Average-linkage clustering of one group of m samples (smp, ascending)
// from its distance matrix, with the distance of samples i < j:
// |x[i] - x[j]| (one probe), Chebyshev or Euclidean in the plane of x, y
// (two probes), or Chebyshev from the group's coordinates in slot order
// gx, gy, whole rows at once.
void mat_abs(const int* smp, int m, const double* x, mat_scr& w, int* rep);
void mat_cheb(const int* smp, int m, const double* x, const double* y, mat_scr& w, int* rep);
void mat_eucl(const int* smp, int m, const double* x, const double* y, mat_scr& w, int* rep);
void mat_cheb_rows(const int* smp, int m, const double* gx, const double* gy, mat_scr& w, int* rep);

// ---- sorted-run clustering (runs.cpp) -----------------------------------------

// A run of one probe's sorted values: the sum of its values less its first,
// a bound on that sum's error, and the sum over the run's size.
struct run_sum {
  double s = 0.0, e = 0.0, mean = 0.0;
};

// A merge in the history of one probe's runs: its two parts (the one with
// the smaller sample first), its size and when it happened.
struct run_node {
  int lo, hi;
  double n;
  long long t;
};

// Scratch of the clustering of one probe's group as runs of its sorted
// values, by sorted position of a run's first value.
struct run_buf {
  std::vector<run_sum> rs;
  std::vector<double> est, key;  // each gap's estimate; its plain distance where exact, else a lower bound
  std::vector<long long> sec;    // an exact gap's pair in scan order, else -1
  std::vector<int> nxt, prv, cnt, nv;         // neighbours, size, distinct values
  std::vector<int> low, cur, tr;              // smallest sample, merge node; the gaps' tree
  std::vector<run_node> node;                 // the history of the runs' merges
  std::unordered_map<uint64_t, double> memo;  // replays of two large sets of equal values
};

// Threshold-cut clustering of one probe's group of m samples, sorted by
// value (v, ties by sample), as runs of its values: writes rep for its
// samples, the plain partition. False, having written nothing, when the
// replays of gaps in doubt would cost more than run_cap m^2 steps.
bool run_grp(const std::pair<double, int>* v, int m, double run_cap, run_buf& z, int* rep);

// ---- bounded clustering (bound.cpp, bound_kern.cpp) -------------------------------

// A pair of clusters whose plain distance is known to lie in [lo, hi]: the
// cluster in slot col, as formed at merge node `node`.
struct bnd_ent {
  int col, node;
  double lo, hi;
};

// Scratch of the clustering of large Chebyshev groups without their matrix,
// by slot unless said.
struct bnd_buf {
  std::vector<double> key;                // each row's key: its least lower bound (slot m: +inf)
  std::vector<int> cand, stale;           // each row's candidate column; rows whose key is only a bound
  std::vector<int> act, mnext, mtail;     // active slots, ascending; member chains
  std::vector<double> px, py, pm;         // centroids by list position, and 1 unless a single sample
  std::vector<double> sx, sy, n, cx, cy;  // coordinate sums, sizes (0 once merged away), centroids
  std::vector<int> rare, fw, lead;        // rows above a merge whose least may change; active slots, Fenwick;
                                          // the smallest sample at each one's point
  std::vector<double> key2, kup, lb;      // second key and candidate's upper bound per row; scratch
  std::vector<int> cur, nlo, nhi;         // each slot's merge node; the nodes' parts (survivor first)
  std::vector<int> whd, wnx, wpv;      // rows listed at their candidate: first, next, previous (-2 unlisted)
  std::vector<double> nn, tk;          // the nodes' sizes; the tree's keys
  std::vector<int> ts;                 // and slots
  std::vector<double> su, sv, cu, cv;  // sorted x + y and x - y of each cluster's members, from off
  std::vector<size_t> off;             // in a pool filled to top (cu, cv: room to close it up)
  size_t top = 0;
  std::vector<std::vector<bnd_ent>> kn;  // intervals known, in the row of the lower slot
  std::vector<bnd_ent> tie;              // the columns of one row in doubt
};

// Threshold-cut Chebyshev clustering of one group of m samples (smp,
// ascending; coordinates in slot order gx, gy) without a distance matrix:
// writes rep for its samples, the plain partition. False, having written
// nothing, when the pairs left in doubt would cost more than the matrix; the
// group is then clustered from it.
bool bnd_grp(const int* smp, int m, const double* gx, const double* gy, bnd_buf& z, int* rep);

// The kernels of bnd_grp (bound_kern.cpp, where each is described).
void row_least(const double* px, const double* py, int s, int m, double& best, int& at);
void lower_bounds(const double* px, const double* py, const double* pm, int ts, int t0, int t1, double ea,
                  double fr, double* out);
void least_two(const double* v, const double* px, const double* py, const double* pm, int ts, int t0, int t1,
               double ea, double fr, double& best, double& sec, int& at);
int rows_above(const double* cx, const double* cy, const double* key, double* key2, int lo, double ea,
               double fr, double* b, int* rare);
double gap_sum(const double* a, int na, const double* b, int nb);
double pair_sum(const double* a, int na, const double* b, int nb);

// ---- partition assembly (fast_part.cpp) -----------------------------------------

// Scratch of sin_part and two_part.
struct part_scr {
  std::vector<std::pair<double, int>> vs;  // one probe's values with their samples, to sort
  std::vector<int> left;                   // sin_part: samples of each group left for its matrix
  std::vector<int> bya;                    // two_part: samples by group of the first probe
  std::vector<int> at;           // two_part: fill position of each group of the first probe, then cell
  std::vector<int> cell;         // two_part: cell of each sample
  std::vector<int> stamp, slot;  // two_part: second-probe groups met in one first-probe group; their cell
  std::vector<int> off, ord;     // groups (cells) in ord: where each starts; their samples, ascending
  std::vector<double> gx, gy;    // coordinates of one cell's samples, by slot
  std::vector<int> rep;          // what the group clusterings write
  std::vector<int> num;          // cluster number of each smallest member
};

// ---- flip search (fast_flip.cpp) -----------------------------------------------

// Entropy sum of one partition under the flip search's labels.
struct ent_sum {
  std::vector<int> m, s;       // cluster sizes and label sums
  std::vector<double> t, pre;  // cluster terms, and the sum of the terms before each
  std::vector<double> memo;    // sum with one label of cluster c flipped: [2c] up, [2c+1] down
  std::vector<int> memo_at;    // pass that filled each memo entry
  std::vector<double> q;  // fast sum over n_samp with one label of cluster c flipped: [2c] up, [2c+1] down
  double tot = 0.0;
};

struct flip_scr {
  ent_sum es[3];            // first probe, second probe, joint
  std::vector<int> lab;     // working label vector
  std::vector<double> fsc;  // score of each flip in a pass (fast or exact)
  std::vector<int> fst;     // whether each flip improves, and how it was scored
};

// Every algorithm's scratch: what work holds.
struct fast_scr {
  part_scr pa;
  mat_scr mx;
  run_buf rn;
  bnd_buf bd;
  flip_scr fl;
};
