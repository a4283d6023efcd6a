// The fast path: partitions computed once, clustered group by group with row
// minima instead of full rescans, and scored from per-cluster counts. Every
// result equals the plain step order bit for bit.
#include <sys/mman.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>

#include "fast.h"
#include "synergy.h"

namespace {

// Samples further apart than this never end in one cluster. Each average-linkage
// update loses at most a few units in the last place, so averages of distances
// above 2*cut*(1 + 1e-7) stay above 2*cut for any table that fits in memory.
const double GRP_LIM = 2 * cut * (1 + 1e-7);

// Row minimum of the cluster in slot k, at position t of the active list,
// over the active slots to its right; the first column in scan order takes a
// tie. No entry below BIG_DIS leaves BIG_DIS and -1.
inline void row_min(work& w, int m, int count, int t, int k) {
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
// clustering (cluster() in cluster.cpp; compared in tests/test_diff.cpp).
// The closest pair is the root of a tournament tree over the row minima. A
// row whose minimum column was merged away, or moved further, is only marked
// stale: its old minimum stays a lower bound of the row (its other entries are
// unchanged), so it is rescanned only when that bound reaches the root.
// Writes rep[sample] = the smallest member of its cluster.
void clus_grp(const int* smp, int m, work& w) {
  double* d = w.d.data();
  int* act = w.act.data();
  double* rmin = w.rmin.data();
  int* ramin = w.ramin.data();
  int* stale = w.redo.data();
  int* pos = w.pos.data();  // list position of each active slot
  int leaves = 1;
  while (leaves < m) leaves *= 2;
  const bool scan = m <= SCAN_MAX, far = m > PF_MIN;
  if (!scan && w.tree.size() < 2 * static_cast<size_t>(leaves)) w.tree.resize(2 * static_cast<size_t>(leaves));
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
    for (int k = act[t]; k >= 0; k = w.mnext[k]) w.rep[smp[k]] = smp[act[t]];
}

// Chebyshev distances of the point (xi, yi) to the len points of xs, ys,
// into out, and their least value (BIG_DIS when none is below it): four at a
// time, each with the very operations of the plain distance (an absolute
// value clears the sign bit), so each is the same bit for bit.
// Below ROW_MIN samples the gathering and the call per row cost more than
// the whole rows save.
constexpr int ROW_MIN = 100;
typedef double v4d __attribute__((vector_size(32)));
typedef long long v4l __attribute__((vector_size(32)));
SYN_CLONES("avx2") double cheb_row(const double* xs, const double* ys, double xi, double yi, double* out, int len) {
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
void mat_rows(const int* smp, int m, Row row, work& w) {
  if (m == 1) {
    w.rep[smp[0]] = smp[0];
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
  clus_grp(smp, m, w);
}

// The same with the distance dist(i, j) of samples i < j, one at a time.
template <class Dist>
void mat_grp(const int* smp, int m, Dist dist, work& w) {
  mat_rows(smp, m, [smp, m, dist](int i, double* di, int& arg) {
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
  }, w);
}

// Number the clusters by smallest member from w.rep.
void number(part& out, work& w) {
  const int n = n_samp;
  out.cid.resize(n);
  int k = 0;
  for (int s = 0; s < n; ++s) {
    if (w.rep[s] == s) w.num[s] = k++;
    out.cid[s] = w.num[w.rep[s]];
  }
  // a single cluster, or fewer than two samples, is no partition
  out.n_cl = k >= 2 ? k : 0;
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

void work_init(work& w) {
  const size_t n = static_cast<size_t>(n_samp);
  w.sz.resize(n);
  w.gx.resize(n);
  w.gy.resize(n);
  w.rmin.resize(n + 1);  // and the tree's key of no slot
  for (auto* v : {&w.ramin, &w.act, &w.redo, &w.pos, &w.mnext, &w.mtail, &w.ord, &w.stamp, &w.slot, &w.rep, &w.num})
    v->assign(n, 0);
  w.off.assign(n + 1, 0);
  w.cnt.assign(n + 1, 0);
  w.vs.resize(n);
  w.lab.resize(n);
  w.fsc.resize(n);
  w.fst.resize(n);
}

void tab_init() {
  const int n = n_samp;
  // larger clusters compute their terms in ent_term: n_samp^2 / 2 doubles
  // would be 64 MB at 4000 samples
  const int rows = n < ENT_ROWS ? n : ENT_ROWS;
  ent_tab.assign(static_cast<size_t>(rows + 1) * (rows + 2) / 2, 0.0);
  for (int m = 1; m <= rows; ++m) {
    double md = m;
    for (int s = 0; s <= m; ++s) {
      double sd = s;
      ent_tab[static_cast<size_t>(m) * (m + 1) / 2 + s] = mi(sd / md) * md;
    }
  }
  phe_tab.assign(n + 1, 0.0);
  for (int k = 0; k <= n; ++k) phe_tab[k] = mi(static_cast<double>(k) / static_cast<double>(n));
}

void sin_part(int p, work& w, part& out) {
  const int n = n_samp;
  const double* x = expr[p].data();
  out.grp.resize(n);
  out.n_grp = 0;
  if (n < 2) {
    out.cid.assign(n, 0);
    out.n_cl = 0;
    return;
  }
  // sort (value, sample) pairs in place of samples by value: no indirection
  std::pair<double, int>* vs = w.vs.data();
  for (int s = 0; s < n; ++s) vs[s] = {x[s], s};
  std::sort(vs, vs + n);
  // groups: runs of the sorted values with no gap above GRP_LIM, each
  // clustered as runs of its values (runs.cpp), or from its matrix where the
  // replays of gaps in doubt would cost more than w.run_cap of it
  int g = 0, n_left = 0;
  for (int a = 0, b; a < n; a = b, ++g) {
    b = a + 1;
    while (b < n && std::fabs(vs[b].first - vs[b - 1].first) <= GRP_LIM) ++b;
    for (int k = a; k < b; ++k) out.grp[vs[k].second] = g;
    const int m = b - a;
    w.cnt[g] = 0;
    if (m == 1) {
      w.rep[vs[a].second] = vs[a].second;
    } else if (run_grp(vs + a, m, w)) {
      ++w.n_run;
    } else {
      ++w.n_mat;
      w.cnt[g] = m;  // left for its matrix
      n_left += m;
    }
  }
  out.n_grp = g;
  if (n_left > 0) {
    // the groups left, listed by sample, ascending within each
    int* off = w.off.data();
    int* ord = w.ord.data();
    for (int k = 0, at = 0; k < g; ++k) {
      off[k] = at;
      at += w.cnt[k];
    }
    for (int s = 0; s < n; ++s)
      if (w.cnt[out.grp[s]] > 0) ord[off[out.grp[s]]++] = s;
    auto dist = [x](int i, int j) { return std::fabs(x[i] - x[j]); };
    for (int k = 0, at = 0; k < g; ++k) {
      if (w.cnt[k] == 0) continue;
      mat_grp(ord + at, w.cnt[k], dist, w);
      at += w.cnt[k];
    }
  }
  number(out, w);
}

void two_part(int a, int b, int sel, const part& pa, const part& pb, work& w, part& out) {
  const int n = n_samp;
  out.grp.clear();
  out.n_grp = 0;
  if (n < 2 || pa.n_grp == 0 || pb.n_grp == 0) {
    out.cid.assign(n, 0);
    out.n_cl = 0;
    return;
  }
  // cells: samples in one group of both probes. Samples in different groups of
  // either probe are further apart than GRP_LIM in the plane too.
  int* cnt = w.cnt.data();
  std::fill(cnt, cnt + pa.n_grp + 1, 0);
  for (int s = 0; s < n; ++s) ++cnt[pa.grp[s] + 1];
  for (int k = 0; k < pa.n_grp; ++k) cnt[k + 1] += cnt[k];
  int* bya = w.num.data();  // samples by group of a, ascending within each
  for (int s = 0; s < n; ++s) bya[cnt[pa.grp[s]]++] = s;
  // cnt[k] is now the end of group k of a
  int* cell = w.rep.data();  // cell of each sample, reused below as rep
  int n_cell = 0, from = 0;
  for (int ga = 0; ga < pa.n_grp; ++ga) {
    int to = cnt[ga];
    for (int k = from; k < to; ++k) {
      int gb = pb.grp[bya[k]];
      if (!w.stamp[gb]) {
        w.stamp[gb] = 1;
        w.slot[gb] = n_cell++;
      }
      cell[bya[k]] = w.slot[gb];
    }
    // stamps of this a-group must not leak into the next one
    for (int k = from; k < to; ++k) w.stamp[pb.grp[bya[k]]] = 0;
    from = to;
  }
  std::fill(w.off.begin(), w.off.begin() + n_cell + 1, 0);
  for (int s = 0; s < n; ++s) ++w.off[cell[s] + 1];
  for (int k = 0; k < n_cell; ++k) w.off[k + 1] += w.off[k];
  for (int k = 0; k < n_cell; ++k) cnt[k] = w.off[k];
  for (int s = 0; s < n; ++s) w.ord[cnt[cell[s]]++] = s;
  const double* x = expr[a].data();
  const double* y = expr[b].data();
  for (int g = 0; g < n_cell; ++g) {
    const int* smp = w.ord.data() + w.off[g];
    const int m = w.off[g + 1] - w.off[g];
    if (sel == 0 && (m >= ROW_MIN || m >= w.bnd_min)) {
      // the coordinates of the group in slot order, for whole rows at once
      double* gx = w.gx.data();
      double* gy = w.gy.data();
      for (int k = 0; k < m; ++k) {
        gx[k] = x[smp[k]];
        gy[k] = y[smp[k]];
      }
      if (m >= w.bnd_min && bnd_grp(smp, m, w)) continue;
      mat_rows(smp, m, [gx, gy, m](int i, double* di, int& arg) {
        const double best = cheb_row(gx + i + 1, gy + i + 1, gx[i], gy[i], di + i + 1, m - i - 1);
        if (best < BIG_DIS)
          for (int j = i + 1;; ++j)
            if (di[j] == best) {
              arg = j;
              break;
            }
        return best;
      }, w);
    } else if (sel == 0)
      mat_grp(smp, m, [x, y](int i, int j) {
        double u = std::fabs(x[i] - x[j]), v = std::fabs(y[i] - y[j]);
        return u > v ? u : v;
      }, w);
    else
      mat_grp(smp, m, [x, y](int i, int j) {
        double u = x[i] - x[j], v = y[i] - y[j];
        return std::sqrt(u * u + v * v);
      }, w);
  }
  number(out, w);
}

namespace {

// Counts, terms and prefix sums of a partition under labels lab.
void es_load(ent_sum& e, const part& pt, const int* lab) {
  const int k = pt.n_cl;
  e.m.assign(k, 0);
  e.s.assign(k, 0);
  for (int i = 0; i < n_samp; ++i) {
    ++e.m[pt.cid[i]];
    e.s[pt.cid[i]] += lab[i];
  }
  e.t.resize(k);
  e.pre.resize(k);
  e.memo.resize(2 * static_cast<size_t>(k));
  e.memo_at.assign(2 * static_cast<size_t>(k), -1);
}

// Terms and prefix sums in cluster order: the sum runs term by term, as the
// partition string is read.
void es_sum(ent_sum& e) {
  double t = 0.0;
  for (size_t c = 0; c < e.t.size(); ++c) {
    e.pre[c] = t;
    e.t[c] = ent_term(e.m[c], e.s[c]);
    t += e.t[c];
  }
  e.tot = t;
}

// The sum with one label of cluster c raised (up) or lowered, memoised per pass.
inline double es_flip(ent_sum& e, int c, bool up, int pass) {
  size_t key = 2 * static_cast<size_t>(c) + (up ? 0 : 1);
  if (e.memo_at[key] == pass) return e.memo[key];
  double t = e.pre[c] + ent_term(e.m[c], e.s[c] + (up ? 1 : -1));
  const size_t k = e.t.size();
  for (size_t q = c + 1; q < k; ++q) t += e.t[q];
  e.memo[key] = t;
  e.memo_at[key] = pass;
  return t;
}

}  // namespace

double part_ent(const part& pt, const int* lab, work& w) {
  if (pt.n_cl == 0) return NO_PART;
  ent_sum& e = w.es[2];
  es_load(e, pt, lab);
  es_sum(e);
  return e.tot / n_samp;
}

int flip_search(int a, int b, int sel, const part& pa, const part& pb, work& w, pair_res& r) {
  if (pa.n_cl == 0 || pb.n_cl == 0) return -1;
  part& pj = w.jp;
  two_part(a, b, sel, pa, pb, w, pj);
  if (pj.n_cl == 0) return -1;
  const int n = n_samp;
  int* lab = w.lab.data();
  int ones = 0;
  for (int i = 0; i < n; ++i) {
    lab[i] = ini_phe[i];
    ones += lab[i];
  }
  const part* pp[3] = {&pa, &pb, &pj};
  for (int k = 0; k < 3; ++k) {
    es_load(w.es[k], *pp[k], lab);
    es_sum(w.es[k]);
  }
  // ((s1 + s2) - e) - h, each entropy divided by n_samp as the scores do
  auto syn = [n](double ta, double tb, double tj, int k1) {
    return ((ta / n + tb / n) - tj / n) - phe_tab[k1];
  };
  double best = syn(w.es[0].tot, w.es[1].tot, w.es[2].tot, ones);
  // The exact score of a flip sums the cluster terms in cluster order (es_flip).
  // A fast score swaps one term in the total instead; it differs from the
  // exact one by at most (2K + 21) units of rounding (2^-53) for K clusters in
  // the three partitions together (each term is at most its cluster size, so
  // every sum is at most n_samp before the division). fd is that bound with
  // a wide safety factor: flips whose fast score is further than fd from the
  // margin test, or further than 2 fd below the best improving score, cannot
  // change the pass, and only the others are scored exactly.
  const double fd = (16.0 * static_cast<double>(w.es[0].t.size() + w.es[1].t.size() + w.es[2].t.size()) + 512.0) *
                    0x1p-53;
  double* fsc = w.fsc.data();
  int* fst = w.fst.data();
  for (int pass = 0;; ++pass) {
    auto exact = [&](int i) {
      bool up = lab[i] == 0;
      double ta = es_flip(w.es[0], pa.cid[i], up, pass);
      double tb = es_flip(w.es[1], pb.cid[i], up, pass);
      double tj = es_flip(w.es[2], pj.cid[i], up, pass);
      return syn(ta, tb, tj, ones + (up ? 1 : -1));
    };
    // fast sums over n_samp, per cluster and direction ([2c] a label raised,
    // [2c+1] lowered), for the clusters where that flip exists
    for (int k = 0; k < 3; ++k) {
      ent_sum& e = w.es[k];
      const size_t kc = e.t.size();
      e.q.resize(2 * kc);
      for (size_t c = 0; c < kc; ++c) {
        const double rest = e.tot - e.t[c];
        if (e.s[c] < e.m[c]) e.q[2 * c] = (rest + ent_term(e.m[c], e.s[c] + 1)) / n;
        if (e.s[c] > 0) e.q[2 * c + 1] = (rest + ent_term(e.m[c], e.s[c] - 1)) / n;
      }
    }
    const double* qa = w.es[0].q.data();
    const double* qb = w.es[1].q.data();
    const double* qj = w.es[2].q.data();
    // every flip is judged against the same labels and the same current best;
    // fst: 0 not improving, 1 improving (fast score), 2 improving (exact score)
    bool imp = false;
    double top = -std::numeric_limits<double>::infinity();
    for (int i = 0; i < n; ++i) {
      const int dn = lab[i];  // 0: the flip raises the label, 1: lowers it
      // the same operations as syn() on the fast sums
      double sc = ((qa[2 * pa.cid[i] + dn] + qb[2 * pb.cid[i] + dn]) - qj[2 * pj.cid[i] + dn]) -
                  phe_tab[ones + (dn ? -1 : 1)];
      double g = sc - best;
      int st = 0;
      if (g > IMP_MARGIN + fd) {
        st = 1;
      } else if (g > IMP_MARGIN - fd) {
        sc = exact(i);
        if (sc - best > IMP_MARGIN) st = 2;
      }
      fsc[i] = sc;
      fst[i] = st;
      if (st) {
        imp = true;
        if (sc > top) top = sc;
      }
    }
    // The flip applied is the improving one with the largest score, the lowest
    // sample on ties: the plain pass's running maximum from 0.0 whenever some
    // improving flip scores above 0.0, and the same rule when none does. Only
    // flips within 2 fd of the top fast score can be it.
    double rmax = -std::numeric_limits<double>::infinity();
    int ch = -1;
    if (imp)
      for (int i = 0; i < n; ++i) {
        if (!fst[i] || fsc[i] < top - 2 * fd) continue;
        double sc = fst[i] == 2 ? fsc[i] : exact(i);
        if (sc > rmax) {
          rmax = sc;
          ch = i;
        }
      }
    if (!imp) break;
    int dl = lab[ch] == 0 ? 1 : -1;
    lab[ch] = 1 - lab[ch];
    ones += dl;
    for (int k = 0; k < 3; ++k) {
      w.es[k].s[pp[k]->cid[ch]] += dl;
      es_sum(w.es[k]);
    }
    best = rmax;
  }
  r.best = best;
  r.lab.assign(lab, lab + n);
  r.cid = pj.cid;
  return 1;
}
