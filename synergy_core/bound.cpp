// Chebyshev clustering of a large group without its distance matrix. The plain
// clustering updates the distance of a merged cluster to every other cluster,
// a cache line per cluster and merge once the matrix outgrows the cache. Here
// each pair of clusters has only what it needs: a lower bound from the
// centroids, computed afresh whenever asked; when that bound is the least of
// all, an interval around the plain distance from the mean distance itself;
// and only when intervals cannot decide, the plain distance, replayed through
// the merges, once for each pair of clusters (ties: values on a grid). The
// merges are the plain clustering's, in the same order
// (compared with it in tests/diff/test_diff.cpp and tests/diff/test_diff_real.cpp).
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

#include "fast_impl.h"
#include "synergy.h"

namespace {

constexpr double U = 0x1p-53, INF = std::numeric_limits<double>::infinity();

struct bnd_run {
  const double* gx;  // coordinates by slot
  const double* gy;
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
    double k = v == m ? INF : z.key[s];
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
    if (z.wpv[k] == -1)
      z.whd[z.cand[k]] = z.wnx[k];
    else
      z.wnx[z.wpv[k]] = z.wnx[k];
    if (z.wnx[k] >= 0) z.wpv[z.wnx[k]] = z.wpv[k];
    z.wpv[k] = -2;
  }
  void watch(int k, int c) {
    unwatch(k);
    z.cand[k] = c;
    if (c < 0) return;
    z.wnx[k] = z.whd[c];
    z.wpv[k] = -1;
    if (z.whd[c] >= 0) z.wpv[z.whd[c]] = k;
    z.whd[c] = k;
  }
  void make_stale(int k) {
    unwatch(k);
    z.stale[k] = 1;
  }
  // the rows whose candidate c merged: every other entry of theirs is at
  // least their second key
  void orphan(int c) {
    for (int k = z.whd[c], nx; k >= 0; k = nx) {
      nx = z.wnx[k];
      make_stale(k);
      if (z.key2[k] != z.key[k]) {
        z.key[k] = z.key2[k];
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
      const double a = std::fabs(gx[se] - gx[sl]), b = std::fabs(gy[se] - gy[sl]);
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
    if (at >= 0 && known(s, z.act[at])) {
      row_bounds(s, t0);
      least_two(z.lb.data(), z.px.data(), z.py.data(), z.pm.data(), t0, t0 + 1, count, ea, fr, best, sec, at);
    }
    settled(s, best, sec, at);
  }
  // row s's key, second key and the candidate at list position at
  void settled(int s, double best, double sec, int at) {
    z.key[s] = best;
    z.key2[s] = sec;
    z.stale[s] = 0;
    if (at < 0) {
      watch(s, -1);
      z.kup[s] = INF;
    } else {
      const int c = z.act[at];
      watch(s, c);
      const bnd_ent* e = known(s, c);
      z.kup[s] = e ? e->hi : single(s) && single(c) ? best : INF;
    }
    fix(s);
  }

  // row k above a merge, whose new entry b (for the cluster now in slot lo)
  // is at most its key
  __attribute__((noinline, cold)) void above(int k, double b, int lo) {
    if (z.stale[k]) {
      // a stale row's key stays a bound unless the new entry is below it
      if (b < z.key[k]) {
        z.key[k] = b;
        fix(k);
      }
    } else if (b < z.key[k] || lo < z.cand[k]) {
      z.key2[k] = z.key[k];
      z.key[k] = b;
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
        const int k = z.act[i], len = static_cast<int>(z.n[k]);
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
    z.mnext[z.mtail[lo]] = hi;
    z.mtail[lo] = z.mtail[hi];
    z.px[pl] = z.cx[lo] = z.sx[lo] / z.n[lo];
    z.py[pl] = z.cy[lo] = z.sy[lo] / z.n[lo];
    z.pm[pl] = 1;
    z.cx[hi] = z.cy[hi] = INF;
    const size_t tail = static_cast<size_t>(count - ph - 1);
    std::memmove(z.act.data() + ph, z.act.data() + ph + 1, tail * sizeof(int));
    for (auto* v : {&z.px, &z.py, &z.pm})
      std::memmove(v->data() + ph, v->data() + ph + 1, tail * sizeof(double));
    drop(hi);
    --count;
    z.key[hi] = -INF;  // a slot gone: its bound INF from the centroid stays above
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
    const int nr = rows_above(z.cx.data(), z.cy.data(), z.key.data(), z.key2.data(), lo, ea, fr, z.lb.data(),
                              z.rare.data());
    for (int i = 0; i < nr; ++i) above(z.rare[i], z.lb[i], lo);
    set(hi, m);
    rescan(lo);
  }

  // Samples at the same point are at distance 0, and only they: the plain
  // clustering merges them first, each set into its smallest sample one by
  // one, the sets in the order of their smallest samples (the first pair in
  // scan order at 0 each time). Those merges here, before any row is known.
  void fold_equal() {
    const double* x = gx;
    const double* y = gy;
    std::vector<int>& o = z.rare;
    for (int i = 0; i < m; ++i) o[i] = i;
    std::sort(o.begin(), o.begin() + m, [x, y](int a, int b) {
      return x[a] < x[b] || (x[a] == x[b] && (y[a] < y[b] || (y[a] == y[b] && a < b)));
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
    std::sort(o.begin(), o.begin() + n,
              [&lead](int a, int b) { return lead[a] < lead[b] || (lead[a] == lead[b] && a < b); });
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
      const int c = z.act[u];
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
      if (s == m || z.key[s] > lim) break;  // every pair is above the cut
      if (z.stale[s]) {
        rescan(s);
        continue;
      }
      const int c = z.cand[s];
      if (z.kup[s] == INF) {
        // only a bound: its interval, which stays the row's least below the second key
        const bnd_ent e = interval(s, c);
        put(s, e);
        const double nk = std::max(z.key[s], e.lo);
        if (nk < z.key2[s]) {
          z.key[s] = nk;
          z.kup[s] = e.hi;
          fix(s);
        } else if (!settle(s, e.hi)) {
          return false;
        }
        continue;
      }
      // an exact least at the root merges: rows before it are further, and
      // later rows and columns lose ties
      if (z.kup[s] == z.key[s]) {
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
        z.key[s] = v;
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

bool bnd_grp(const int* smp, int m, const double* gx, const double* gy, bnd_buf& z, int* rep) {
  double mxy = 0;
  for (int i = 0; i < m; ++i) mxy = std::max(mxy, std::max(std::fabs(gx[i]), std::fabs(gy[i])));
  if (!(mxy < 1e300)) return false;
  z.px.assign(gx, gx + m);
  z.py.assign(gy, gy + m);
  z.cx = z.px;
  z.cy = z.py;
  z.rare.resize(m);
  z.key.resize(m + 1);
  for (auto* v : {&z.cand, &z.stale, &z.act, &z.mnext, &z.mtail}) v->resize(m);
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
    z.act[i] = i;
    z.stale[i] = 0;
    z.mnext[i] = -1;
    z.mtail[i] = i;
    z.su[i] = gx[i] + gy[i];
    z.sv[i] = gx[i] - gy[i];
    z.off[i] = i;
    z.kn[i].clear();
  }
  int leaves = 1;
  while (leaves < m) leaves *= 2;
  z.tk.resize(2 * static_cast<size_t>(leaves));
  z.ts.resize(2 * static_cast<size_t>(leaves));
  bnd_run r{gx, gy, z, m, m, leaves, m, m, 0, 0, 0, mxy, 2.0 * m * m + 4096.0};
  // relative rounding of any plain average (3 an update, an update per merge),
  // and the centroids' absolute rounding
  r.rho = 1.05 * (3.0 * m + 1) * U;
  r.ea = 2.03 * (m + 1) * U * mxy;
  r.fr = (1 - 2 * U) * (1 - r.rho - U) * (1 - 4 * U);
  z.key[m] = INF;
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
    row_least(gx, gy, s, m, z.key[s], at);
    z.cand[s] = at;
    z.key2[s] = z.key[s];
    z.kup[s] = z.key[s];
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
    for (int t = 0; t < r.count; ++t) r.rescan(z.act[t]);
  } else {
    for (int s = 0; s < m; ++s) r.watch(s, z.cand[s]);
    for (int s = 0; s < leaves; ++s) {
      z.tk[leaves + s] = s < m ? z.key[s] : INF;
      z.ts[leaves + s] = s < m ? s : m;
    }
    for (int i = leaves - 1; i >= 1; --i) r.pull(i);
  }
  if (!r.run()) return false;
  for (int t = 0; t < r.count; ++t)
    for (int k = z.act[t]; k >= 0; k = z.mnext[k]) rep[smp[k]] = smp[z.act[t]];
  return true;
}
