// The vector kernels of the bounded Chebyshev clustering (bound.cpp): the
// rows' least distances and lower bounds, four or eight lanes at a time, and
// the sums of absolute differences of two sorted lists.
#include <cmath>
#include <cstring>
#include <limits>

#include "fast_impl.h"

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
#define BOUNDS8(o, t)                                                                                 \
  do {                                                                                                \
    const v8d p_ = VABS8(vx - *reinterpret_cast<const v8d_u*>(px + (t)));                             \
    const v8d q_ = VABS8(vy - *reinterpret_cast<const v8d_u*>(py + (t)));                             \
    const v8d d_ = p_ > q_ ? p_ : q_;                                                                 \
    o = all ? (d_ - ea) * fr : (*reinterpret_cast<const v8d_u*>(pm + (t)) > 0 ? (d_ - ea) * fr : d_); \
  } while (0)

// The same at one position t, to the cluster at (xs, ys) with flag ms.
inline double bound1(const double* px, const double* py, const double* pm, int t, double xs, double ys,
                     double ms, double ea, double fr) {
  const double p = std::fabs(xs - px[t]), q = std::fabs(ys - py[t]);
  const double d = p > q ? p : q;
  return ms + pm[t] > 0 ? (d - ea) * fr : d;
}

}  // namespace

// Least Chebyshev distance from point s to the points after it, the first
// on ties, with the very operations of the plain distance.
SYN_CLONES("avx512f", "avx2")
static void row_least_v(const double* px, const double* py, int s, int m, double& best, int& at) {
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
    const v8d x1 = *reinterpret_cast<const v8d_u*>(px + t + 8),
              y1 = *reinterpret_cast<const v8d_u*>(py + t + 8);
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
SYN_CLONES("avx512f", "avx2")
static void lower_bounds_v(const double* px, const double* py, const double* pm, int ts, int t0, int t1, double ea,
                  double fr, double* out) {
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
SYN_CLONES("avx512f", "avx2")
static void least_two_v(const double* v, const double* px, const double* py, const double* pm, int ts, int t0, int t1,
               double ea, double fr, double& best, double& sec, int& at) {
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
      if (v)
        x0 = *reinterpret_cast<const v8d_u*>(v + t);
      else
        BOUNDS8(x0, t);
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
SYN_CLONES("avx2")
static int rows_above_v(const double* cx, const double* cy, const double* key, double* key2, int lo, double ea,
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

// The entry points the other files call: a multi-versioned function is
// called through its dispatcher only from its own file (clang does not
// resolve one declared elsewhere).
void row_least(const double* px, const double* py, int s, int m, double& best, int& at) {
  row_least_v(px, py, s, m, best, at);
}
void lower_bounds(const double* px, const double* py, const double* pm, int ts, int t0, int t1, double ea,
                  double fr, double* out) {
  lower_bounds_v(px, py, pm, ts, t0, t1, ea, fr, out);
}
void least_two(const double* v, const double* px, const double* py, const double* pm, int ts, int t0, int t1,
               double ea, double fr, double& best, double& sec, int& at) {
  least_two_v(v, px, py, pm, ts, t0, t1, ea, fr, best, sec, at);
}
int rows_above(const double* cx, const double* cy, const double* key, double* key2, int lo, double ea,
               double fr, double* b, int* rare) {
  return rows_above_v(cx, cy, key, key2, lo, ea, fr, b, rare);
}
