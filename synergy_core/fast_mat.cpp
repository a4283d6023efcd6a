// Matrix clustering of one group: average linkage over the upper triangle
// of its distance matrix, with row minima instead of full rescans and the
// closest pair from a tournament tree over them. Every merge equals the
// plain step order bit for bit.
#include <sys/mman.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>

#include "fast_impl.h"
#include "synergy.h"

namespace {

// Row minimum of the cluster in slot k, at position t of the active list,
// over the active slots to its right; the first column in scan order takes a
// tie. No entry below BIG_DIS leaves BIG_DIS and -1.
inline void row_min(mat_scr& w, int m, int count, int t, int k) {
  const int* act = w.act.data();
  const double* dk = w.d.data() + static_cast<size_t>(k) * m;
  double best = BIG_DIS;
  int arg = -1;
  for (int u = t + 1; u < count; ++u) {
    double v = dk[act[u]];
    if (v < best) {
      best = v;
      arg = act[u];
    }
  }
  w.rmin[k] = best;
  w.ramin[k] = arg;
}

// Tournament tree over the slots of a group: each node holds the slot with
// the least (row minimum, slot) below it; slot `none` (key +inf) stands for
// no slot. Slot order is scan order, so the root is the row of the first
// closest pair in scan order. Groups of up to SCAN_MAX samples skip the tree
// and scan the row minima of the active slots in order instead: for them a
// scan costs less than the climbs.
constexpr int SCAN_MAX = 128;

struct min_tree {
  int* tr;
  const double* key;
  int leaves, none;
  const int* act;    // the active slots, ascending
  const int* count;  // how many
  bool scan;
  bool less(int a, int b) const {
    // no branches: which row wins follows no pattern
    return (key[a] < key[b]) | ((key[a] == key[b]) & (a < b));
  }
  void pull(int i) {
    const int a = tr[2 * i], b = tr[2 * i + 1];
    tr[i] = less(b, a) ? b : a;
  }
  void build(int m) {
    if (scan) return;
    for (int s = 0; s < leaves; ++s) tr[leaves + s] = s < m ? s : none;
    for (int i = leaves - 1; i >= 1; --i) pull(i);
  }
  // leaf s now holds v (s itself, or none), or s's key changed
  void set(int s, int v) {
    if (scan) return;
    tr[leaves + s] = v;
    for (int i = (leaves + s) / 2; i >= 1; i /= 2) {
      const int old = tr[i];
      pull(i);
      // the same winner, and not the slot that changed: nothing above changes
      if (tr[i] == old && old != s) break;
    }
  }
  void fix(int s) { set(s, s); }
  int top() const {
    if (!scan) return tr[1];
    // strictly less: the first slot in scan order takes a tie
    double best = key[none];
    int arg = none;
    for (int t = 0, c = *count; t < c; ++t)
      if (key[act[t]] < best) {
        best = key[act[t]];
        arg = act[t];
      }
    return arg;
  }
};

// A merge reads and writes the survivor's column in the rows above it, and
// reads the merged cluster's column in the rows above that one: a cache line
// in every such row. Once the matrix outgrows the core's own cache (PF_MIN
// samples), asking for the line of the row PF places ahead in the list keeps
// several of those misses in flight.
constexpr int PF = 32, PF_MIN = 700;
inline void pf_col(double* d, int m, int row, int col) {
  __builtin_prefetch(d + static_cast<size_t>(row) * m + col, 1);
}

// Average-linkage clustering of one group of m samples (smp, ascending) whose
// distances are in the upper triangle of w.d (m x m, slot = position in the
// group; slots i < j in row i, one copy of each pair, so a merge rewrites
// lo's row to its right and lo's column above it), with the row minima to
// the right of the fresh matrix in w.rmin, w.ramin. The active
// clusters are listed by slot in w.act, ascending; the survivor of a merge
// keeps the lower slot, so slots stay in the order of smallest members and
// scan order over slots is the scan order over cluster numbers of the plain
// clustering (cluster() in cluster.cpp; compared in tests/diff/test_diff.cpp).
// The closest pair is the root of a tournament tree over the row minima. A
// row whose minimum column was merged away, or moved further, is only marked
// stale: its old minimum stays a lower bound of the row (its other entries are
// unchanged), so it is rescanned only when that bound reaches the root.
// Writes rep[sample] = the smallest member of its cluster.
void clus_grp(const int* smp, int m, mat_scr& w, int* rep) {
  double* d = w.d.data();
  int* act = w.act.data();
  double* rmin = w.rmin.data();
  int* ramin = w.ramin.data();
  int* stale = w.stale.data();
  int* pos = w.pos.data();  // list position of each active slot
  int leaves = 1;
  while (leaves < m) leaves *= 2;
  const bool scan = m <= SCAN_MAX, far = m > PF_MIN;
  if (!scan && w.tree.size() < 2 * static_cast<size_t>(leaves))
    w.tree.resize(2 * static_cast<size_t>(leaves));
  rmin[m] = std::numeric_limits<double>::infinity();
  int count = m;
  min_tree mt{w.tree.data(), rmin, leaves, m, act, &count, scan};
  for (int i = 0; i < m; ++i) {
    act[i] = i;
    pos[i] = i;
    stale[i] = 0;
    w.sz[i] = 1.0;
    w.mnext[i] = -1;
    w.mtail[i] = i;
  }
  mt.build(m);
  while (count > 1) {
    int lo = mt.top();
    while (lo < m && stale[lo]) {
      row_min(w, m, count, pos[lo], lo);
      stale[lo] = 0;
      mt.fix(lo);
      lo = mt.top();
    }
    if (lo == m || ramin[lo] < 0) break;  // no distance below BIG_DIS; checked input never gets here
    const int hi = ramin[lo];
    double* dl = d + static_cast<size_t>(lo) * m;
    const double* dh = d + static_cast<size_t>(hi) * m;
    if (dl[hi] / 2 > cut) break;
    const int pl = pos[lo], ph = pos[hi];
    const double n_lo = w.sz[lo], n_hi = w.sz[hi], n_new = n_lo + n_hi;
    // rows above lo: the new distance to lo is an entry of their own row. It is
    // a weighted mean of two entries of that row, so it falls below the row's
    // minimum only by rounding, and the tree rarely changes.
    for (int t = 0; t < pl; ++t) {
      const int k = act[t];
      if (far) {
        const int ahead = t + PF < count ? act[t + PF] : k;
        pf_col(d, m, ahead, lo);
        pf_col(d, m, ahead, hi);
      }
      double* dk = d + static_cast<size_t>(k) * m;
      const double v = (n_lo * dk[lo] + n_hi * dk[hi]) / n_new;
      dk[lo] = v;
      const double r = rmin[k];
      if (stale[k]) {
        // the bound stays a bound unless the new entry is below it
        if (v < r) {
          rmin[k] = v;
          ramin[k] = lo;
          stale[k] = 0;
          mt.fix(k);
        }
        continue;
      }
      // every other entry is at least r, and those before column a above it
      const int a = ramin[k];
      if (v < r || (v == r && lo <= a)) {
        rmin[k] = v;
        ramin[k] = lo;
        if (v != r) mt.fix(k);
      } else if (a == hi || a == lo) {
        stale[k] = 1;
      }
    }
    // rows between lo and hi lose their entry of hi; rows below hi keep their
    // minima. These loops write lo's new row to its right, so they also take
    // its minimum (first column on ties) and drop hi from the list.
    double best = BIG_DIS;
    int arg = -1;
    for (int t = pl + 1; t < ph; ++t) {
      const int k = act[t];
      if (far) pf_col(d, m, t + PF < count ? act[t + PF] : k, hi);
      const double v = (n_lo * dl[k] + n_hi * d[static_cast<size_t>(k) * m + hi]) / n_new;
      dl[k] = v;
      if (ramin[k] == hi) stale[k] = 1;
      if (v < best) {
        best = v;
        arg = k;
      }
    }
    for (int t = ph + 1; t < count; ++t) {
      const int k = act[t];
      const double v = (n_lo * dl[k] + n_hi * dh[k]) / n_new;
      dl[k] = v;
      if (v < best) {
        best = v;
        arg = k;
      }
      act[t - 1] = k;
      pos[k] = t - 1;
    }
    w.sz[lo] = n_new;
    w.mnext[w.mtail[lo]] = hi;
    w.mtail[lo] = w.mtail[hi];
    --count;
    mt.set(hi, m);
    rmin[lo] = best;
    ramin[lo] = arg;
    stale[lo] = 0;
    mt.fix(lo);
  }
  for (int t = 0; t < count; ++t)
    for (int k = act[t]; k >= 0; k = w.mnext[k]) rep[smp[k]] = smp[act[t]];
}

// Chebyshev distances of the point (xi, yi) to the len points of xs, ys,
// into out, and their least value (BIG_DIS when none is below it): four at a
// time, each with the very operations of the plain distance (an absolute
// value clears the sign bit), so each is the same bit for bit.
typedef double v4d __attribute__((vector_size(32)));
typedef long long v4l __attribute__((vector_size(32)));
SYN_CLONES("avx2")
double cheb_row(const double* xs, const double* ys, double xi, double yi, double* out, int len) {
  const v4l mag = {~(1LL << 63), ~(1LL << 63), ~(1LL << 63), ~(1LL << 63)};
  const v4d vx = {xi, xi, xi, xi}, vy = {yi, yi, yi, yi};
  v4d lo = {BIG_DIS, BIG_DIS, BIG_DIS, BIG_DIS};
  int j = 0;
  for (; j + 4 <= len; j += 4) {
    v4d x, y;
    std::memcpy(&x, xs + j, sizeof x);
    std::memcpy(&y, ys + j, sizeof y);
    const v4d a = reinterpret_cast<v4d>(reinterpret_cast<v4l>(vx - x) & mag);
    const v4d b = reinterpret_cast<v4d>(reinterpret_cast<v4l>(vy - y) & mag);
    const v4d v = a > b ? a : b;
    std::memcpy(out + j, &v, sizeof v);
    lo = v < lo ? v : lo;
  }
  double best = BIG_DIS;
  for (int k = 0; k < 4; ++k) best = lo[k] < best ? lo[k] : best;
  for (; j < len; ++j) {
    const double a = std::fabs(xi - xs[j]), b = std::fabs(yi - ys[j]);
    out[j] = a > b ? a : b;
    best = out[j] < best ? out[j] : best;
  }
  return best;
}

// Cluster one group of m samples (smp, ascending) from its distance matrix,
// built by rows: row(i, di, arg) writes di[j] for i < j < m and returns their
// least below BIG_DIS (else BIG_DIS), with its first column in arg (else -1).
template <class Row>
void mat_rows(const int* smp, int m, Row row, mat_scr& w, int* rep) {
  if (m == 1) {
    rep[smp[0]] = smp[0];
    return;
  }
  size_t mm = static_cast<size_t>(m) * m;
  if (w.d.size() < mm) w.d.grow(mm);
  double* d = w.d.data();
  // the upper triangle (the pair of slots i < j in row i) with each row's
  // minimum, first column on ties
  for (int i = 0; i < m; ++i) {
    int arg = -1;
    w.rmin[i] = row(i, d + static_cast<size_t>(i) * m, arg);
    w.ramin[i] = arg;
  }
  clus_grp(smp, m, w, rep);
}

// The same with the distance dist(i, j) of samples i < j, one at a time.
template <class Dist>
void mat_grp(const int* smp, int m, Dist dist, mat_scr& w, int* rep) {
  mat_rows(
      smp, m,
      [smp, m, dist](int i, double* di, int& arg) {
        const int si = smp[i];
        double best = BIG_DIS;
        for (int j = i + 1; j < m; ++j) {
          double v = dist(si, smp[j]);
          di[j] = v;
          if (v < best) {
            best = v;
            arg = j;
          }
        }
        return best;
      },
      w, rep);
}

}  // namespace

void mat_buf::grow(size_t n) {
  p_.reset();
  n_ = 0;
  const size_t huge = size_t(2) << 20;
  size_t bytes = n * sizeof(double);
  void* p = nullptr;
  if (bytes >= huge) {
    bytes = (bytes + huge - 1) / huge * huge;
    p = std::aligned_alloc(huge, bytes);
#ifdef MADV_HUGEPAGE
    if (p) madvise(p, bytes, MADV_HUGEPAGE);  // advice only: small pages work too
#endif
  } else {
    p = std::malloc(bytes);
  }
  if (!p) throw std::bad_alloc();
  p_.reset(static_cast<double*>(p));
  n_ = bytes / sizeof(double);
}

void mat_abs(const int* smp, int m, const double* x, mat_scr& w, int* rep) {
  auto dist = [x](int i, int j) { return std::fabs(x[i] - x[j]); };
  mat_grp(smp, m, dist, w, rep);
}

void mat_cheb(const int* smp, int m, const double* x, const double* y, mat_scr& w, int* rep) {
  mat_grp(
      smp, m,
      [x, y](int i, int j) {
        double u = std::fabs(x[i] - x[j]), v = std::fabs(y[i] - y[j]);
        return u > v ? u : v;
      },
      w, rep);
}

void mat_eucl(const int* smp, int m, const double* x, const double* y, mat_scr& w, int* rep) {
  mat_grp(
      smp, m,
      [x, y](int i, int j) {
        double u = x[i] - x[j], v = y[i] - y[j];
        return std::sqrt(u * u + v * v);
      },
      w, rep);
}

void mat_cheb_rows(const int* smp, int m, const double* gx, const double* gy, mat_scr& w, int* rep) {
  mat_rows(
      smp, m,
      [gx, gy, m](int i, double* di, int& arg) {
        const double best = cheb_row(gx + i + 1, gy + i + 1, gx[i], gy[i], di + i + 1, m - i - 1);
        if (best < BIG_DIS)
          for (int j = i + 1;; ++j)
            if (di[j] == best) {
              arg = j;
              break;
            }
        return best;
      },
      w, rep);
}
