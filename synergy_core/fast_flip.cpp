// Entropy sums from per-cluster label counts, and the greedy label-flip
// search of one pair scored from them. Every sum runs term by term in
// cluster order, as the plain scoring adds them, so every score equals it
// bit for bit.
#include <limits>

#include "fast_impl.h"
#include "synergy.h"

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
  ent_sum& e = w.s->fl.es[2];
  es_load(e, pt, lab);
  es_sum(e);
  return e.tot / n_samp;
}

int flip_search(int a, int b, int sel, const part& pa, const part& pb, work& w, pair_res& r) {
  if (pa.n_cl == 0 || pb.n_cl == 0) return -1;
  flip_scr& f = w.s->fl;
  part& pj = w.jp;
  two_part(a, b, sel, pa, pb, w, pj);
  if (pj.n_cl == 0) return -1;
  const int n = n_samp;
  int* lab = f.lab.data();
  int ones = 0;
  for (int i = 0; i < n; ++i) {
    lab[i] = ini_phe[i];
    ones += lab[i];
  }
  const part* pp[3] = {&pa, &pb, &pj};
  for (int k = 0; k < 3; ++k) {
    es_load(f.es[k], *pp[k], lab);
    es_sum(f.es[k]);
  }
  // ((s1 + s2) - e) - h, each entropy divided by n_samp as the scores do
  auto syn = [n](double ta, double tb, double tj, int k1) {
    return ((ta / n + tb / n) - tj / n) - phe_tab[k1];
  };
  double best = syn(f.es[0].tot, f.es[1].tot, f.es[2].tot, ones);
  // The exact score of a flip sums the cluster terms in cluster order (es_flip).
  // A fast score swaps one term in the total instead; it differs from the
  // exact one by at most (2K + 21) units of rounding (2^-53) for K clusters in
  // the three partitions together (each term is at most its cluster size, so
  // every sum is at most n_samp before the division). fd is that bound with
  // a wide safety factor: flips whose fast score is further than fd from the
  // margin test, or further than 2 fd below the best improving score, cannot
  // change the pass, and only the others are scored exactly.
  const double fd =
      (16.0 * static_cast<double>(f.es[0].t.size() + f.es[1].t.size() + f.es[2].t.size()) + 512.0) * 0x1p-53;
  double* fsc = f.fsc.data();
  int* fst = f.fst.data();
  for (int pass = 0;; ++pass) {
    auto exact = [&](int i) {
      bool up = lab[i] == 0;
      double ta = es_flip(f.es[0], pa.cid[i], up, pass);
      double tb = es_flip(f.es[1], pb.cid[i], up, pass);
      double tj = es_flip(f.es[2], pj.cid[i], up, pass);
      return syn(ta, tb, tj, ones + (up ? 1 : -1));
    };
    // fast sums over n_samp, per cluster and direction ([2c] a label raised,
    // [2c+1] lowered), for the clusters where that flip exists
    for (int k = 0; k < 3; ++k) {
      ent_sum& e = f.es[k];
      const size_t kc = e.t.size();
      e.q.resize(2 * kc);
      for (size_t c = 0; c < kc; ++c) {
        const double rest = e.tot - e.t[c];
        if (e.s[c] < e.m[c]) e.q[2 * c] = (rest + ent_term(e.m[c], e.s[c] + 1)) / n;
        if (e.s[c] > 0) e.q[2 * c + 1] = (rest + ent_term(e.m[c], e.s[c] - 1)) / n;
      }
    }
    const double* qa = f.es[0].q.data();
    const double* qb = f.es[1].q.data();
    const double* qj = f.es[2].q.data();
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
      f.es[k].s[pp[k]->cid[ch]] += dl;
      es_sum(f.es[k]);
    }
    best = rmax;
  }
  r.best = best;
  r.lab.assign(lab, lab + n);
  r.cid = pj.cid;
  return 1;
}
