// Chebyshev clustering of a large group without its distance matrix. The plain
// clustering updates the distance of a merged cluster to every other cluster,
// a cache line per cluster and merge once the matrix outgrows the cache. Here
// each pair of clusters has only what it needs: a lower bound from the
// centroids, computed afresh whenever asked; when that bound is the least of
// all, an interval around the plain distance from the mean distance itself;
// and only when intervals cannot decide, the plain distance, replayed through
// the merges, once for each pair of clusters (ties: values on a grid). The
// merges are the plain clustering's, in the same order
// (compared with it in tests/test_diff.cpp and tests/test_diff_real.cpp).
//
// Why the bounds hold: Chebyshev distance in the plane is L1 distance in the
// turned coordinates u = x + y, v = x - y, halved: max(|a|, |b|) =
// (|a + b| + |a - b|) / 2. So the mean distance of two clusters (what the
// plain average-linkage update computes, up to its rounding) is half the sum
// of the mean absolute differences of their u and of their v values, and
// each of those is at least the difference of the means: the centroids'
// Chebyshev distance. The mean absolute difference of two sorted lists is a
// sum over the gaps of the merged list, each gap times the pairs it
// separates (for small clusters, simply over the pairs): all terms at least
// 0, so its rounding is small and bounded.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "fast.h"
#include "synergy.h"

namespace {

constexpr double U = 0x1p-53, INF = std::numeric_limits<double>::infinity();

// Four lanes, and eight for the longest loops: one register where the
// processor has 512-bit vectors, two where it has 256.
typedef double v4d __attribute__((vector_size(32)));
typedef long long v4l __attribute__((vector_size(32)));
typedef double v8d __attribute__((vector_size(64)));
typedef long long v8l __attribute__((vector_size(64)));
typedef double v8d_u __attribute__((vector_size(64), aligned(8), may_alias));  // unaligned loads

// absolute values: the sign bit cleared, as fabs does
#define VABS(a) reinterpret_cast<v4d>(reinterpret_cast<v4l>(a) & mag)
#define VABS8(a) reinterpret_cast<v8d>(reinterpret_cast<v8l>(a) & mag8)
// The lower bounds at list positions t to t + 7: the Chebyshev distance of
// the centroids px, py there to the row's own (vx, vy), less ea, times fr,
// unless both clusters are single samples (all false, pm 0 there), where the
// centroids' distance is the plain distance itself.
#define BOUNDS8(o, t)                                                          \
  do {                                                                         \
    const v8d p_ = VABS8(vx - *reinterpret_cast<const v8d_u*>(px + (t)));      \
    const v8d q_ = VABS8(vy - *reinterpret_cast<const v8d_u*>(py + (t)));      \
    const v8d d_ = p_ > q_ ? p_ : q_;                                          \
    o = all ? (d_ - ea) * fr : (*reinterpret_cast<const v8d_u*>(pm + (t)) > 0 ? (d_ - ea) * fr : d_); \
  } while (0)

// The same at one position t, to the cluster at (xs, ys) with flag ms.
inline double bound1(const double* px, const double* py, const double* pm, int t, double xs, double ys, double ms,
                     double ea, double fr) {
  const double p = std::fabs(xs - px[t]), q = std::fabs(ys - py[t]);
  const double d = p > q ? p : q;
  return ms + pm[t] > 0 ? (d - ea) * fr : d;
}

// Least Chebyshev distance from point s to the points after it, the first
// on ties, with the very operations of the plain distance.
SYN_CLONES("avx512f", "avx2") void row_least(const double* px, const double* py, int s, int m, double& best, int& at) {
  const double xs = px[s], ys = py[s];
  const v8l mag8 = v8l{} + ~(1LL << 63);
  const v8d vx = v8d{} + xs, vy = v8d{} + ys;
  v8d b0 = v8d{} + INF, b1 = b0;
  v8l i0 = v8l{} - 1, i1 = i0, ix;
  int t = s + 1;
  for (int k = 0; k < 8; ++k) ix[k] = t + k;
  // two sets of lanes, so that one compare need not wait for the other
  for (; t + 16 <= m; t += 16) {
    const v8d x0 = *reinterpret_cast<const v8d_u*>(px + t), y0 = *reinterpret_cast<const v8d_u*>(py + t);
    const v8d x1 = *reinterpret_cast<const v8d_u*>(px + t + 8), y1 = *reinterpret_cast<const v8d_u*>(py + t + 8);
    const v8d a0 = VABS8(vx - x0), c0 = VABS8(vy - y0), a1 = VABS8(vx - x1), c1 = VABS8(vy - y1);
    const v8d v0 = a0 > c0 ? a0 : c0, v1 = a1 > c1 ? a1 : c1;
    const v8l l0 = v0 < b0, l1 = v1 < b1;
    b0 = l0 ? v0 : b0;
    b1 = l1 ? v1 : b1;
    i0 = l0 ? ix : i0;
    i1 = l1 ? ix + 8 : i1;
    ix += 16;
  }
  double b = INF;
  long long a = -1;
  for (int k = 0; k < 8; ++k) {
    if (b0[k] < b || (b0[k] == b && i0[k] < a)) b = b0[k], a = i0[k];
    if (b1[k] < b || (b1[k] == b && i1[k] < a)) b = b1[k], a = i1[k];
  }
  for (; t < m; ++t) {
    const double p = std::fabs(xs - px[t]), q = std::fabs(ys - py[t]);
    const double v = p > q ? p : q;
    if (v < b) b = v, a = t;
  }
  best = b;
  at = static_cast<int>(a);
}

// Lower bounds of the plain distances of the clusters at list positions
// [t0, t1) to the one at ts, from their centroids (px, py): less ea, times
// fr, unless both are single samples (pm 0), where the centroids' distance is
// the plain distance itself.
SYN_CLONES("avx512f", "avx2") void lower_bounds(const double* px, const double* py, const double* pm, int ts, int t0,
                                                int t1, double ea, double fr, double* out) {
  const double xs = px[ts], ys = py[ts], ms = pm[ts];
  const bool all = ms > 0;
  const v8l mag8 = v8l{} + ~(1LL << 63);
  const v8d vx = v8d{} + xs, vy = v8d{} + ys;
  int t = t0;
  for (; t + 8 <= t1; t += 8) {
    v8d o;
    BOUNDS8(o, t);
    std::memcpy(out + t, &o, sizeof o);
  }
  for (; t < t1; ++t) out[t] = bound1(px, py, pm, t, xs, ys, ms, ea, fr);
}

// The least of list positions [t0, t1) (the first on ties), at at, and the
// second least: of v, or when v is null of the bounds to position ts that
// lower_bounds would write.
SYN_CLONES("avx512f", "avx2") void least_two(const double* v, const double* px, const double* py, const double* pm,
                                             int ts, int t0, int t1, double ea, double fr, double& best, double& sec,
                                             int& at) {
  const double xs = px[ts], ys = py[ts], ms = pm[ts];
  const bool all = ms > 0;
  double b = INF, s2 = INF;
  long long a = -1;
  int t = t0;
  if (t1 - t0 >= 16) {
    const v8l mag8 = v8l{} + ~(1LL << 63);
    const v8d vx = v8d{} + xs, vy = v8d{} + ys;
    v8d b0 = v8d{} + INF, s0 = b0;
    v8l i0 = v8l{} - 1, ix;
    for (int k = 0; k < 8; ++k) ix[k] = t0 + k;
    for (; t + 8 <= t1; t += 8) {
      v8d x0;
      if (v) x0 = *reinterpret_cast<const v8d_u*>(v + t);
      else BOUNDS8(x0, t);
      const v8l l0 = x0 < b0;
      const v8d m0 = x0 < s0 ? x0 : s0;
      s0 = l0 ? b0 : m0;
      i0 = l0 ? ix : i0;
      b0 = l0 ? x0 : b0;
      ix += 8;
    }
    // the lanes in turn: the least (first index on ties), and the second
    // least, the least of the seconds and of the greater of two leasts
    for (int k = 0; k < 8; ++k) {
      const bool lk = b0[k] < b || (b0[k] == b && i0[k] < a);
      const double g = lk ? b : b0[k];
      s2 = s0[k] < s2 ? s0[k] : s2;
      s2 = g < s2 ? g : s2;
      if (lk) b = b0[k], a = i0[k];
    }
  }
  for (; t < t1; ++t) {
    const double x = v ? v[t] : bound1(px, py, pm, t, xs, ys, ms, ea, fr);
    if (x < b) {
      s2 = b;
      b = x;
      a = t;
    } else if (x < s2) {
      s2 = x;
    }
  }
  best = b;
  sec = s2;
  at = static_cast<int>(a);
}

// The rows above slot lo, by slot (slots gone have centroid +inf and key
// -inf), get their entry for the merged cluster now in lo (centroid
// cx[lo], cy[lo], no single sample): where it lies above the row's key only
// the second key can fall, and it does here; the other rows and their
// entries are listed in rare and b for the caller. Returns how many.
SYN_CLONES("avx2") int rows_above(const double* cx, const double* cy, const double* key, double* key2, int lo, double ea,
                                  double fr, double* b, int* rare) {
  const double xs = cx[lo], ys = cy[lo];
  const v4l mag = {~(1LL << 63), ~(1LL << 63), ~(1LL << 63), ~(1LL << 63)};
  const v4d vx = {xs, xs, xs, xs}, vy = {ys, ys, ys, ys};
  const v4d vea = {ea, ea, ea, ea}, vfr = {fr, fr, fr, fr};
  int nr = 0, k = 0;
  for (; k + 4 <= lo; k += 4) {
    v4d x, y, r, q;
    std::memcpy(&x, cx + k, sizeof x);
    std::memcpy(&y, cy + k, sizeof y);
    std::memcpy(&r, key + k, sizeof r);
    std::memcpy(&q, key2 + k, sizeof q);
    const v4d a = VABS(vx - x), c = VABS(vy - y);
    const v4d v = ((a > c ? a : c) - vea) * vfr;
    const v4l hot = v > r;
    q = hot ? (v < q ? v : q) : q;
    std::memcpy(key2 + k, &q, sizeof q);
    if (__builtin_expect((hot[0] & hot[1] & hot[2] & hot[3]) == 0, 0))
      for (int l = 0; l < 4; ++l)
        if (!hot[l]) {
          b[nr] = v[l];
          rare[nr++] = k + l;
        }
  }
  for (; k < lo; ++k) {
    const double a = std::fabs(xs - cx[k]), c = std::fabs(ys - cy[k]);
    const double v = ((a > c ? a : c) - ea) * fr;
    if (v > key[k]) {
      key2[k] = v < key2[k] ? v : key2[k];
    } else {
      b[nr] = v;
      rare[nr++] = k;
    }
  }
  return nr;
}

// Sum over the pairs across two sorted lists of their absolute difference:
// each gap of the merged list times the pairs on its two sides.
double gap_sum(const double* a, int na, const double* b, int nb) {
  int i = 0, j = 0;
  double prev = a[0] <= b[0] ? a[i++] : b[j++];
  double s = 0;
  // which list gives the next value follows no pattern: no branches while
  // both have values left
  while (i < na && j < nb) {
    const double wt = static_cast<double>(i) * (nb - j) + static_cast<double>(j) * (na - i);
    const bool ta = a[i] <= b[j];
    const double w = ta ? a[i] : b[j];
    i += ta;
    j += !ta;
    s += (w - prev) * wt;
    prev = w;
  }
  // then the rest of one list, each gap separating the other list from the
  // values of this one still to come
  for (; i < na; ++i) {
    s += (a[i] - prev) * (static_cast<double>(nb) * (na - i));
    prev = a[i];
  }
  for (; j < nb; ++j) {
    s += (b[j] - prev) * (static_cast<double>(na) * (nb - j));
    prev = b[j];
  }
  return s;
}

// The same sum pair by pair, four sums at a time: for small clusters, where
// it costs less than the walk, whose steps wait on each other.
double pair_sum(const double* a, int na, const double* b, int nb) {
  double s[4] = {0, 0, 0, 0};
  for (int i = 0; i < na; ++i) {
    int j = 0;
    for (; j + 4 <= nb; j += 4)
      for (int l = 0; l < 4; ++l) s[l] += std::fabs(a[i] - b[j + l]);
    for (; j < nb; ++j) s[0] += std::fabs(a[i] - b[j]);
  }
  return (s[0] + s[1]) + (s[2] + s[3]);
}

struct bnd_run {
  work& w;
  bnd_buf& z;
  const int m;
  int count, leaves, n_node, n_eq;
  double ea, fr, rho, mxy, budget;
  const double lim = 2 * cut;  // a merge happens at a distance of 2 cut or less

  bool single(int s) const { return z.n[s] == 1.0; }
  bool alive(int s) const { return z.n[s] > 0; }
  // s's place in the ascending list of active slots: the number of active
  // slots before it, from a Fenwick tree over the slots
  int pos(int s) const {
    int r = 0;
    for (int i = s; i > 0; i &= i - 1) r += z.fw[i];
    return r;
  }
  void drop(int s) {
    for (int i = s + 1; i <= m; i += i & -i) --z.fw[i];
  }

  // Tournament tree over the rows' keys: each node holds the least (key,
  // slot) below it, its key stored with it; slot m (key +inf) stands for no
  // row. Slot order is scan order, so the root is the first row in scan
  // order whose key is least.
  void pull(int i) {
    const int l = 2 * i, r = l + 1;
    const bool right = (z.tk[r] < z.tk[l]) | ((z.tk[r] == z.tk[l]) & (z.ts[r] < z.ts[l]));
    z.tk[i] = right ? z.tk[r] : z.tk[l];
    z.ts[i] = right ? z.ts[r] : z.ts[l];
  }
  // row s's key changed, or (v == m) row s is gone: the least of each node
  // on the way up, carried rather than read back
  void set(int s, int v) {
    int i = leaves + s;
    double k = v == m ? INF : w.rmin[s];
    int sl = v;
    z.tk[i] = k;
    z.ts[i] = sl;
    for (; i > 1; i /= 2) {
      const double ks = z.tk[i ^ 1];
      const int ss = z.ts[i ^ 1];
      const bool sib = (ks < k) | ((ks == k) & (ss < sl));
      k = sib ? ks : k;
      sl = sib ? ss : sl;
      // the same least, with the same key: nothing above changes
      if (z.tk[i / 2] == k && z.ts[i / 2] == sl) break;
      z.tk[i / 2] = k;
      z.ts[i / 2] = sl;
    }
  }
  void fix(int s) { set(s, s); }

  // Rows whose candidate is slot c, and that are not stale, are listed at c,
  // so a merge finds the rows that lose their candidate without a pass.
  void unwatch(int k) {
    if (z.wpv[k] == -2) return;
    if (z.wpv[k] == -1) z.whd[w.ramin[k]] = z.wnx[k];
    else z.wnx[z.wpv[k]] = z.wnx[k];
    if (z.wnx[k] >= 0) z.wpv[z.wnx[k]] = z.wpv[k];
    z.wpv[k] = -2;
  }
  void watch(int k, int c) {
    unwatch(k);
    w.ramin[k] = c;
    if (c < 0) return;
    z.wnx[k] = z.whd[c];
    z.wpv[k] = -1;
    if (z.whd[c] >= 0) z.wpv[z.whd[c]] = k;
    z.whd[c] = k;
  }
  void make_stale(int k) {
    unwatch(k);
    w.redo[k] = 1;
  }
  // the rows whose candidate c merged: every other entry of theirs is at
  // least their second key
  void orphan(int c) {
    for (int k = z.whd[c], nx; k >= 0; k = nx) {
      nx = z.wnx[k];
      make_stale(k);
      if (z.key2[k] != w.rmin[k]) {
        w.rmin[k] = z.key2[k];
        fix(k);
      }
    }
  }
  // the least key of all other slots
  double runner_up(int s) const {
    double r = INF;
    for (int i = leaves + s; i > 1; i /= 2) r = std::min(r, z.tk[i ^ 1]);
    return r;
  }

  // the plain distance of nodes p and q: the later-formed split first
  // the plain distance of nodes p and q: the later-formed split first. Sets
  // of samples at one point (nodes below n_eq, formed by fold_equal one
  // after another) are not split pair by pair: all their leaf distances are
  // one double, so the replay of two of them is a walk of their sizes. ops
  // counts the steps.
  double replay(int p, int q, double& ops) const {
    if (p < n_eq && q < n_eq) {
      // e formed first (a leaf before all), then l; a set's last sample is nhi
      const int e = std::min(p, q), l = std::max(p, q);
      const int se = e < m ? e : z.nhi[e], sl = l < m ? l : z.nhi[l];
      const double a = std::fabs(w.gx[se] - w.gx[sl]), b = std::fabs(w.gy[se] - w.gy[sl]);
      const double d = a > b ? a : b;
      const int ke = static_cast<int>(z.nn[e]), kl = static_cast<int>(z.nn[l]);
      ops += ke + kl;
      double g = d;  // e against one sample: its merges one by one
      for (int j = 2; j <= ke; ++j) {
        const double na = j - 1, nb = 1.0;
        g = (na * g + nb * d) / (na + nb);
      }
      double f = g;  // then l's merges, each sample of l at g from e
      for (int j = 2; j <= kl; ++j) {
        const double na = j - 1, nb = 1.0;
        f = (na * f + nb * g) / (na + nb);
      }
      return f;
    }
    ops += 1;
    if (p < q) std::swap(p, q);
    const int a = z.nlo[p], b = z.nhi[p];
    const double na = z.nn[a], nb = z.nn[b];
    return (na * replay(a, q, ops) + nb * replay(b, q, ops)) / (na + nb);
  }
  bool exact(int s, int c, double& v) {
    if (!(budget > 0) || z.n[s] + z.n[c] > 4096) return false;  // also bounds the replay's depth
    double ops = 0;
    v = replay(z.cur[s], z.cur[c], ops);
    budget -= ops;
    return true;
  }
  // an interval around the plain distance of the clusters in slots s and c:
  // the mean distance from the sorted lists, widened by its rounding (the
  // gap sums, the turned coordinates), the plain leaf distances' rounding and
  // the plain updates' (rho)
  bnd_ent interval(int s, int c) const {
    const double na = z.n[s], nb = z.n[c], ab = na * nb;
    const double* pu = z.su.data();
    const double* pv = z.sv.data();
    const int ia = static_cast<int>(na), ib = static_cast<int>(nb);
    // either way a sum of at most k terms of at least 0, each rounded once or
    // twice: relative error below (k + 2) u
    const bool pairs = ab <= 8 * (na + nb);
    const auto sum = pairs ? pair_sum : gap_sum;
    const double su = sum(pu + z.off[s], ia, pu + z.off[c], ib);
    const double sv = sum(pv + z.off[s], ia, pv + z.off[c], ib);
    const double d = (su / ab + sv / ab) * 0.5;
    const double r1 = 1.02 * ((pairs ? ab : na + nb) + 6) * U, a1 = 4.1 * U * mxy;
    const double lo = (d * (1 - r1) - a1) * (1 - U) * (1 - rho) * (1 - 4 * U);
    const double hi = (d * (1 + r1) + a1) * (1 + U) * (1 + rho) * (1 + 4 * U);
    return bnd_ent{c, z.cur[c], lo, hi};
  }
  // row s's entry for c, replacing an older one; entries of clusters since
  // merged are dropped
  void put(int s, const bnd_ent& k) {
    std::vector<bnd_ent>& l = z.kn[s];
    size_t o = 0;
    for (const bnd_ent& e : l)
      if (e.col != k.col && alive(e.col) && e.node == z.cur[e.col]) l[o++] = e;
    l.resize(o);
    l.push_back(k);
  }
  const bnd_ent* known(int s, int c) const {
    for (const bnd_ent& e : z.kn[s])
      if (e.col == c && e.node == z.cur[c]) return &e;
    return nullptr;
  }
  // the lower bounds of row s (at list position t0) into z.lb by position,
  // raised to what is known
  void row_bounds(int s, int t0) {
    lower_bounds(z.px.data(), z.py.data(), z.pm.data(), t0, t0 + 1, count, ea, fr, z.lb.data());
    for (const bnd_ent& e : z.kn[s])
      if (e.col > s && alive(e.col) && e.node == z.cur[e.col]) {
        const int t = pos(e.col);
        z.lb[t] = std::max(z.lb[t], e.lo);
      }
  }
  // row s's key (its least bound), second key, candidate column and the
  // candidate's upper bound (+inf when only its lower bound is known)
  void rescan(int s) {
    // the bounds alone first: what is known only raises entries, so they
    // stand unless the least is a known entry
    const int t0 = pos(s);
    double best, sec;
    int at;
    least_two(nullptr, z.px.data(), z.py.data(), z.pm.data(), t0, t0 + 1, count, ea, fr, best, sec, at);
    if (at >= 0 && known(s, w.act[at])) {
      row_bounds(s, t0);
      least_two(z.lb.data(), z.px.data(), z.py.data(), z.pm.data(), t0, t0 + 1, count, ea, fr, best, sec, at);
    }
    settled(s, best, sec, at);
  }
  // row s's key, second key and the candidate at list position at
  void settled(int s, double best, double sec, int at) {
    w.rmin[s] = best;
    z.key2[s] = sec;
    w.redo[s] = 0;
    if (at < 0) {
      watch(s, -1);
      z.kup[s] = INF;
    } else {
      const int c = w.act[at];
      watch(s, c);
      const bnd_ent* e = known(s, c);
      z.kup[s] = e ? e->hi : single(s) && single(c) ? best : INF;
    }
    fix(s);
  }

  // row k above a merge, whose new entry b (for the cluster now in slot lo)
  // is at most its key
  __attribute__((noinline, cold)) void above(int k, double b, int lo) {
    if (w.redo[k]) {
      // a stale row's key stays a bound unless the new entry is below it
      if (b < w.rmin[k]) {
        w.rmin[k] = b;
        fix(k);
      }
    } else if (b < w.rmin[k] || lo < w.ramin[k]) {
      z.key2[k] = w.rmin[k];
      w.rmin[k] = b;
      watch(k, lo);
      z.kup[k] = INF;
      fix(k);
    } else if (b < z.key2[k]) {
      z.key2[k] = b;
    }
  }

  // The clusters in slots lo < hi become one in lo: its merge node, size,
  // sums, centroid and sorted lists; hi leaves the list of active slots.
  void fold(int lo, int hi) {
    const int pl = pos(lo), ph = pos(hi);
    const int nd = n_node++;
    z.nlo[nd] = z.cur[lo];
    z.nhi[nd] = z.cur[hi];
    z.nn[nd] = z.n[lo] + z.n[hi];
    z.cur[lo] = nd;
    z.sx[lo] += z.sx[hi];
    z.sy[lo] += z.sy[hi];
    // the merged lists go to the end of the pool; once that is full, the
    // lists of the clusters left are closed up (they hold m values in all)
    const int na = static_cast<int>(z.n[lo]), nb = static_cast<int>(z.n[hi]);
    if (z.top + na + nb > z.su.size()) {
      size_t t = 0;
      for (int i = 0; i < count; ++i) {
        const int k = w.act[i], len = static_cast<int>(z.n[k]);
        std::copy(z.su.begin() + z.off[k], z.su.begin() + z.off[k] + len, z.cu.begin() + t);
        std::copy(z.sv.begin() + z.off[k], z.sv.begin() + z.off[k] + len, z.cv.begin() + t);
        z.off[k] = t;
        t += len;
      }
      z.su.swap(z.cu);
      z.sv.swap(z.cv);
      z.top = t;
    }
    for (auto* l : {&z.su, &z.sv}) {
      double* p = l->data();
      std::merge(p + z.off[lo], p + z.off[lo] + na, p + z.off[hi], p + z.off[hi] + nb, p + z.top);
    }
    z.off[lo] = z.top;
    z.top += na + nb;
    z.n[lo] = z.nn[nd];
    z.n[hi] = 0;
    w.mnext[w.mtail[lo]] = hi;
    w.mtail[lo] = w.mtail[hi];
    z.px[pl] = z.cx[lo] = z.sx[lo] / z.n[lo];
    z.py[pl] = z.cy[lo] = z.sy[lo] / z.n[lo];
    z.pm[pl] = 1;
    z.cx[hi] = z.cy[hi] = INF;
    const size_t tail = static_cast<size_t>(count - ph - 1);
    std::memmove(w.act.data() + ph, w.act.data() + ph + 1, tail * sizeof(int));
    for (auto* v : {&z.px, &z.py, &z.pm}) std::memmove(v->data() + ph, v->data() + ph + 1, tail * sizeof(double));
    drop(hi);
    --count;
    w.rmin[hi] = -INF;  // a slot gone: its bound INF from the centroid stays above
  }

  void merge(int lo, int hi) {
    fold(lo, hi);
    z.kn[lo].clear();
    z.kn[hi].clear();
    // rows that lose their candidate go stale; rows above lo get an entry
    // for the merged cluster
    orphan(lo);
    orphan(hi);
    unwatch(lo);
    unwatch(hi);
    const int nr = rows_above(z.cx.data(), z.cy.data(), w.rmin.data(), z.key2.data(), lo, ea, fr, z.lb.data(), z.rare.data());
    for (int i = 0; i < nr; ++i) above(z.rare[i], z.lb[i], lo);
    set(hi, m);
    rescan(lo);
  }

  // Samples at the same point are at distance 0, and only they: the plain
  // clustering merges them first, each set into its smallest sample one by
  // one, the sets in the order of their smallest samples (the first pair in
  // scan order at 0 each time). Those merges here, before any row is known.
  void fold_equal() {
    const double* gx = w.gx.data();
    const double* gy = w.gy.data();
    std::vector<int>& o = z.rare;
    for (int i = 0; i < m; ++i) o[i] = i;
    std::sort(o.begin(), o.begin() + m, [gx, gy](int a, int b) {
      return gx[a] < gx[b] || (gx[a] == gx[b] && (gy[a] < gy[b] || (gy[a] == gy[b] && a < b)));
    });
    // the smallest sample at each one's point
    std::vector<int>& lead = z.lead;
    lead.resize(m);
    for (int i = 0; i < m; ++i) {
      const int k = o[i], j = i > 0 ? o[i - 1] : -1;
      lead[k] = j >= 0 && gx[j] == gx[k] && gy[j] == gy[k] ? lead[j] : k;
    }
    int n = 0;
    for (int k = 0; k < m; ++k)
      if (lead[k] != k) o[n++] = k;
    std::sort(o.begin(), o.begin() + n, [&lead](int a, int b) { return lead[a] < lead[b] || (lead[a] == lead[b] && a < b); });
    for (int i = 0; i < n; ++i) fold(lead[o[i]], o[i]);
  }

  // Row s's candidate is not clear of the row's second key, so its columns
  // tie or nearly tie (values on a grid): every column whose bound is at
  // most h gets its interval, and where two or more intervals overlap the
  // least upper bound, their plain distances; then the row is scanned once
  // with them. Scanning it again for each tied column in turn would cost a
  // row per column. False when replays would cost more than the matrix.
  bool settle(int s, double h) {
    const int t0 = pos(s);
    budget -= count - t0;
    if (!(budget > 0)) return false;
    row_bounds(s, t0);
    std::vector<bnd_ent>& es = z.tie;
    es.clear();
    double h2 = INF;
    for (int u = t0 + 1; u < count; ++u) {
      if (!(z.lb[u] <= h)) continue;
      const int c = w.act[u];
      const bnd_ent* e = known(s, c);
      bnd_ent k = e ? *e : single(s) && single(c) ? bnd_ent{c, z.cur[c], z.lb[u], z.lb[u]} : interval(s, c);
      if (!e && k.lo != k.hi) put(s, k);
      z.lb[u] = std::max(z.lb[u], k.lo);
      k.node = u;  // its list position, for below
      es.push_back(k);
      h2 = std::min(h2, k.hi);
    }
    int n_in = 0;
    for (const bnd_ent& e : es) n_in += e.lo <= h2;
    if (n_in > 1)
      for (const bnd_ent& e : es) {
        if (!(e.lo <= h2) || e.lo == e.hi) continue;
        double v;
        if (!exact(s, e.col, v)) return false;
        put(s, bnd_ent{e.col, z.cur[e.col], v, v});
        z.lb[e.node] = v;
      }
    // the row's bounds are now raised to all that is known
    double best, sec;
    int at;
    least_two(z.lb.data(), z.px.data(), z.py.data(), z.pm.data(), t0, t0 + 1, count, ea, fr, best, sec, at);
    unwatch(s);
    settled(s, best, sec, at);
    return true;
  }

  bool run() {
    while (count > 1) {
      const int s = z.ts[1];
      if (s == m || w.rmin[s] > lim) break;  // every pair is above the cut
      if (w.redo[s]) {
        rescan(s);
        continue;
      }
      const int c = w.ramin[s];
      if (z.kup[s] == INF) {
        // only a bound: its interval, which stays the row's least below the second key
        const bnd_ent e = interval(s, c);
        put(s, e);
        const double nk = std::max(w.rmin[s], e.lo);
        if (nk < z.key2[s]) {
          w.rmin[s] = nk;
          z.kup[s] = e.hi;
          fix(s);
        } else if (!settle(s, e.hi)) {
          return false;
        }
        continue;
      }
      // an exact least at the root merges: rows before it are further, and
      // later rows and columns lose ties
      if (z.kup[s] == w.rmin[s]) {
        merge(s, c);
        continue;
      }
      // an interval clear of every other bound
      if (z.kup[s] < std::min(z.key2[s], runner_up(s))) {
        if (z.kup[s] <= lim) {
          merge(s, c);
          continue;
        }
        double v;
        if (!exact(s, c, v)) return false;
        if (v > lim) break;
        merge(s, c);
        continue;
      }
      // else the candidate's plain distance, replayed once: the row's least
      // while it lies below the row's second key (the row then comes back to
      // the root and merges, or a lesser row goes first), else the row's
      // other columns that may lie below it are settled
      double v;
      if (!exact(s, c, v)) return false;
      put(s, bnd_ent{c, z.cur[c], v, v});
      if (v < z.key2[s]) {
        w.rmin[s] = v;
        z.kup[s] = v;
        fix(s);
      } else if (!settle(s, v)) {
        return false;
      }
    }
    return true;
  }
};

}  // namespace

bool bnd_grp(const int* smp, int m, work& w) {
  bnd_buf& z = w.bb;
  const double* gx = w.gx.data();
  const double* gy = w.gy.data();
  double mxy = 0;
  for (int i = 0; i < m; ++i) mxy = std::max(mxy, std::max(std::fabs(gx[i]), std::fabs(gy[i])));
  if (!(mxy < 1e300)) return false;
  z.px.assign(gx, gx + m);
  z.py.assign(gy, gy + m);
  z.cx = z.px;
  z.cy = z.py;
  z.rare.resize(m);
  z.sx = z.px;
  z.sy = z.py;
  z.pm.assign(m, 0.0);
  z.n.assign(m, 1.0);
  z.key2.resize(m);
  z.kup.resize(m);
  z.lb.resize(m);
  z.cur.resize(m);
  z.nlo.resize(2 * static_cast<size_t>(m));
  z.nhi.resize(2 * static_cast<size_t>(m));
  z.nn.assign(2 * static_cast<size_t>(m), 1.0);
  if (z.kn.size() < static_cast<size_t>(m)) z.kn.resize(m);
  for (auto* v : {&z.su, &z.sv, &z.cu, &z.cv}) v->resize(4 * static_cast<size_t>(m));
  z.off.resize(m);
  z.top = m;
  // every slot active: node i of the Fenwick tree counts the slots i - lowbit(i) to i - 1
  z.fw.resize(m + 1);
  for (int i = 1; i <= m; ++i) z.fw[i] = i & -i;
  for (int i = 0; i < m; ++i) {
    z.cur[i] = i;
    w.act[i] = i;
    w.redo[i] = 0;
    w.mnext[i] = -1;
    w.mtail[i] = i;
    z.su[i] = gx[i] + gy[i];
    z.sv[i] = gx[i] - gy[i];
    z.off[i] = i;
    z.kn[i].clear();
  }
  int leaves = 1;
  while (leaves < m) leaves *= 2;
  z.tk.resize(2 * static_cast<size_t>(leaves));
  z.ts.resize(2 * static_cast<size_t>(leaves));
  bnd_run r{w, z, m, m, leaves, m, m, 0, 0, 0, mxy, 2.0 * m * m + 4096.0};
  // relative rounding of any plain average (3 an update, an update per merge),
  // and the centroids' absolute rounding
  r.rho = 1.05 * (3.0 * m + 1) * U;
  r.ea = 2.03 * (m + 1) * U * mxy;
  r.fr = (1 - 2 * U) * (1 - r.rho - U) * (1 - 4 * U);
  w.rmin[m] = INF;
  // samples at one point (values rounded to few decimals): the rows' least
  // are found after those merge, not before as well
  bool equal = false;
  {
    std::vector<int>& o = z.rare;
    for (int i = 0; i < m; ++i) o[i] = i;
    std::sort(o.begin(), o.begin() + m,
              [gx, gy](int a, int b) { return gx[a] < gx[b] || (gx[a] == gx[b] && gy[a] < gy[b]); });
    for (int i = 1; i < m && !equal; ++i) equal = gx[o[i]] == gx[o[i - 1]] && gy[o[i]] == gy[o[i - 1]];
  }
  for (int s = 0; s < m && !equal; ++s) {
    // single samples: the least is the plain distance; the second key is not
    // known yet, and the least is a bound of it
    int at;
    row_least(gx, gy, s, m, w.rmin[s], at);
    w.ramin[s] = at;
    z.key2[s] = w.rmin[s];
    z.kup[s] = w.rmin[s];
  }
  z.whd.assign(m, -1);
  z.wnx.resize(m);
  z.wpv.assign(m, -2);
  if (equal) {
    // samples at one point merge first; then the rows of the clusters left,
    // into an empty tree
    r.fold_equal();
    r.n_eq = r.n_node;
    for (int s = 0; s < 2 * leaves; ++s) {
      z.tk[s] = INF;
      z.ts[s] = m;
    }
    for (int t = 0; t < r.count; ++t) r.rescan(w.act[t]);
  } else {
    for (int s = 0; s < m; ++s) r.watch(s, w.ramin[s]);
    for (int s = 0; s < leaves; ++s) {
      z.tk[leaves + s] = s < m ? w.rmin[s] : INF;
      z.ts[leaves + s] = s < m ? s : m;
    }
    for (int i = leaves - 1; i >= 1; --i) r.pull(i);
  }
  if (!r.run()) return false;
  for (int t = 0; t < r.count; ++t)
    for (int k = w.act[t]; k >= 0; k = w.mnext[k]) w.rep[smp[k]] = smp[w.act[t]];
  return true;
}
