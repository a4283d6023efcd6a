// One probe's group clustered as runs of its sorted values, without a matrix.
//
// In one dimension the average distance of two runs of the sorted values,
// one wholly below the other, is the distance of their means, and a pair of
// runs that are not neighbours spans two gaps, so it is further apart than
// the closest pair. The clustering is then a walk over the gaps of
// neighbouring runs, the smallest first. Equal values merge first, at
// distance 0: each set of them one by one into its smallest sample, the sets
// in the order of their smallest samples.
//
// Each gap is either exact (its plain distance known bit for bit: every gap
// between single samples and sets of equal values, and gaps replayed through
// the merges of their runs) or known to within the plain update's relative
// error (3 roundings an update, one update for each merge inside the two
// runs) and the error of the means here. A tournament tree orders the gaps
// by (exact distance or lower bound, scan order of the pair for exact gaps,
// gaps not exact first). Exact gaps at the root merge at once: equal plain
// distances merge in scan order, as the plain clustering takes them, one
// step each. A gap not exact at the root merges when its upper bound lies
// below every other key and not above the cut; else it is replayed once, and
// stays exact until one of its runs merges again. That is the partition of
// the plain clustering (compared with it in tests/diff/test_diff_real.cpp and
// tests/diff/test_diff.cpp).
#include <algorithm>
#include <cmath>
#include <limits>
#include <unordered_map>

#include "fast_impl.h"
#include "synergy.h"

namespace {

constexpr double U = 0x1p-53, INF = std::numeric_limits<double>::infinity();

// The plain clustering's distance of clusters a and b (nodes of nd; leaves
// are sorted positions, v their values): replayed through the merges that
// formed them, the later-formed split first, with the plain update, so it is
// the plain value bit for bit. Sets of equal values (nodes before time 0,
// each formed wholly before or after another) are not split pair by pair:
// all their leaf distances are one double, so the replay of two of them is
// a walk of their sizes, kept in memo when long (a large set, zeros say,
// meets every set that merges into its run). ops counts the steps.
double replay(const std::pair<double, int>* v, int m, const run_node* nd, int a, int b, double& ops,
              std::unordered_map<uint64_t, double>& memo) {
  if (nd[a].t < 0 && nd[b].t < 0) {
    // e formed first (a leaf before all), then l; a set's last sample is nd.hi
    const int e = nd[a].t < nd[b].t ? a : b, l = e == a ? b : a;
    const bool keep = nd[e].n + nd[l].n > 64;
    const uint64_t key = static_cast<uint64_t>(e) << 32 | static_cast<uint32_t>(l);
    if (keep) {
      const auto it = memo.find(key);
      if (it != memo.end()) {
        ops += 1;
        return it->second;
      }
    }
    const double d = std::fabs(v[e < m ? e : nd[e].hi].first - v[l < m ? l : nd[l].hi].first);
    const int ke = static_cast<int>(nd[e].n), kl = static_cast<int>(nd[l].n);
    ops += ke + kl;
    // e against one sample: its merges one by one
    double g = d;
    for (int j = 2; j <= ke; ++j) {
      const double n_lo = j - 1, n_hi = 1.0;
      g = (n_lo * g + n_hi * d) / (n_lo + n_hi);
    }
    // then l's merges, each sample of l at g from e
    double f = g;
    for (int j = 2; j <= kl; ++j) {
      const double n_lo = j - 1, n_hi = 1.0;
      f = (n_lo * f + n_hi * g) / (n_lo + n_hi);
    }
    if (keep) memo[key] = f;
    return f;
  }
  ops += 1;
  if (nd[a].t < nd[b].t) std::swap(a, b);
  const run_node& x = nd[a];
  const double n_lo = nd[x.lo].n, n_hi = nd[x.hi].n;
  return (n_lo * replay(v, m, nd, x.lo, b, ops, memo) + n_hi * replay(v, m, nd, x.hi, b, ops, memo)) /
         (n_lo + n_hi);
}

struct runs {
  run_buf& z;
  const std::pair<double, int>* v;
  const int m;
  int leaves = 1;

  // tree order: key, then exact gaps after the others, in scan order
  bool less(int a, int b) const {
    const double ka = z.key[a], kb = z.key[b];
    if (ka != kb) return ka < kb;
    if (z.sec[a] != z.sec[b]) return z.sec[a] < z.sec[b];
    return a < b;
  }
  void pull(int i) {
    const int a = z.tr[2 * i], b = z.tr[2 * i + 1];
    z.tr[i] = less(b, a) ? b : a;
  }
  // gap p's key changed (or p left: key +inf)
  void fix(int p) {
    for (int i = (leaves + p) / 2; i >= 1; i /= 2) {
      const int old = z.tr[i];
      pull(i);
      if (z.tr[i] == old && old != p) break;
    }
  }
  // the least key of the gaps other than p
  double runner_up(int p) const {
    double r = INF;
    for (int i = leaves + p; i > 1; i /= 2) r = std::min(r, z.key[z.tr[i ^ 1]]);
    return r;
  }
};

// Room for a group of m samples; the memo is of the last group.
void run_size(run_buf& z, int m) {
  if (z.nxt.size() < static_cast<size_t>(m) + 1) {
    const size_t n = static_cast<size_t>(m) + 1;
    z.rs.resize(n);
    z.est.resize(n);
    z.key.resize(n);
    z.sec.resize(n);
    for (auto* a : {&z.nxt, &z.prv, &z.cnt, &z.nv, &z.low, &z.cur}) a->resize(n);
    z.node.resize(2 * n);
  }
  z.memo.clear();
}

// The first runs: each single value, and each set of equal values merged
// into its smallest sample one by one, at distance 0 before everything
// else. Returns the number of merge nodes.
int first_runs(const std::pair<double, int>* v, int m, run_buf& z) {
  run_sum* rs = z.rs.data();
  int* nxt = z.nxt.data();
  int* prv = z.prv.data();
  int* cnt = z.cnt.data();
  int* nv = z.nv.data();
  int* low = z.low.data();
  int* cur = z.cur.data();
  run_node* nd = z.node.data();
  int n_node = m;
  const long long zero_t = std::numeric_limits<long long>::min() / 2;  // equal values merge before all
  int last = -1;
  for (int i = 0; i < m; ++i) {
    nd[i] = run_node{-1, -1, 1.0, std::numeric_limits<long long>::min()};
    if (last >= 0 && v[i].first == v[last].first) {
      // ties sort by sample: each joins the run holding its set's smallest
      nd[n_node] = run_node{cur[last], i, cnt[last] + 1.0,
                            zero_t + static_cast<long long>(v[last].second) * m + cnt[last]};
      cur[last] = n_node++;
      ++cnt[last];
      continue;
    }
    if (last >= 0) nxt[last] = i;
    prv[i] = last;
    last = i;
    rs[i] = run_sum{};
    cnt[i] = 1;
    nv[i] = 1;
    low[i] = v[i].second;
    cur[i] = i;
  }
  nxt[last] = m;
  return n_node;
}

}  // namespace

bool run_grp(const std::pair<double, int>* v, int m, double run_cap, run_buf& z, int* rep) {
  run_size(z, m);
  run_sum* rs = z.rs.data();
  double* est = z.est.data();  // estimate of the gap from the run starting here to the next one
  double* key = z.key.data();  // the plain distance where exact, else a lower bound of it; key[m] = none
  long long* sec = z.sec.data();
  int* nxt = z.nxt.data();
  int* prv = z.prv.data();
  int* cnt = z.cnt.data();
  int* nv = z.nv.data();    // distinct values of the run: its replay's depth
  int* low = z.low.data();  // smallest sample of the run
  int* cur = z.cur.data();  // the run's node in the merge history
  run_node* nd = z.node.data();
  long long step = 0;
  int n_node = first_runs(v, m, z);
  // a scan-order key of the pair of runs p and q: the plain clustering's
  // clusters sit in the order of their smallest samples
  auto pair_at = [&](int p, int q) {
    const long long a = std::min(low[p], low[q]), b = std::max(low[p], low[q]);
    return a << 32 | b;
  };
  auto rho = [&](int p) { return 1.05 * (3.0 * (cnt[p] + cnt[nxt[p]]) + 1) * U; };
  // the error bound of estimate p, from the operations of set_gap
  auto alf = [&](int p) {
    const int q = nxt[p];
    const double d = std::fabs(v[q].first - v[p].first), a = rs[q].mean, b = rs[p].mean;
    return 1.01 * (rs[q].e / cnt[q] + rs[p].e / cnt[p] +
                   3.1 * U * (std::fabs(a) + std::fabs(b) + d + std::fabs(est[p])));
  };
  auto up = [&](int p) { return (est[p] + alf(p)) * (1 + rho(p)) * (1 + 4 * U); };
  auto set_gap = [&](int p) {
    // a single sample's mean (less itself) is 0: two of them give d itself
    const int q = nxt[p];
    est[p] = ((v[q].first - v[p].first) + rs[q].mean) - rs[p].mean;
    key[p] = (est[p] - alf(p)) * (1 - rho(p)) * (1 - 4 * U);
    sec[p] = -1;
  };
  auto exact = [&](int p, double d) {
    key[p] = d;
    sec[p] = pair_at(p, nxt[p]);
  };
  for (int i = 0; i <= m; ++i) {
    key[i] = INF;
    sec[i] = -1;
  }
  // the first gaps, of single samples and sets of equal values, exactly:
  // a walk of their sizes each
  for (int p = 0; nxt[p] < m; p = nxt[p]) {
    double ops = 0;
    const int q = nxt[p];
    est[p] =
        cnt[p] == 1 && cnt[q] == 1 ? v[q].first - v[p].first : replay(v, m, nd, cur[p], cur[q], ops, z.memo);
    exact(p, est[p]);
  }
  runs t{z, v, m};
  while (t.leaves < m + 1) t.leaves *= 2;
  z.tr.resize(2 * static_cast<size_t>(t.leaves));
  for (int s = 0; s < t.leaves; ++s) z.tr[t.leaves + s] = s < m ? s : m;
  for (int i = t.leaves - 1; i >= 1; --i) t.pull(i);
  const double lim = 2 * cut;  // a merge happens at an average distance of 2 cut or less
  auto merge = [&](int p) {
    const int q = nxt[p], r = nxt[q];
    run_sum& a = rs[p];
    const run_sum& b = rs[q];
    const double d = v[q].first - v[p].first, tq = cnt[q] * d;
    a.e = a.e + b.e + 4 * U * (std::fabs(a.s) + std::fabs(b.s) + std::fabs(tq));
    a.s = (a.s + b.s) + tq;
    cnt[p] += cnt[q];
    nv[p] += nv[q];
    a.mean = a.s / cnt[p];
    // the survivor of the plain merge is the cluster with the smaller sample
    const bool p_lo = low[p] < low[q];
    nd[n_node] =
        run_node{p_lo ? cur[p] : cur[q], p_lo ? cur[q] : cur[p], static_cast<double>(cnt[p]), step++};
    cur[p] = n_node++;
    low[p] = std::min(low[p], low[q]);
    nxt[p] = r;
    if (r < m) prv[r] = p;
    key[q] = INF;
    sec[q] = -1;
    t.fix(q);
    if (r < m)
      set_gap(p);
    else
      key[p] = INF;
    t.fix(p);
    if (prv[p] >= 0) {
      set_gap(prv[p]);
      t.fix(prv[p]);
    }
  };
  // a replay costs a step per pair of its sets of equal values; a step costs
  // about what two entries of the matrix cost, and on real, grown, rounded
  // and zero-heavy tables the replays of a group come to a few per cent of
  // m^2 steps at most: a group whose replays reach run_cap m^2 goes to its
  // matrix, at most about that share more than the matrix alone
  double budget = run_cap * m * m + 4096.0 * (run_cap > 0);
  for (;;) {
    const int p = z.tr[1];
    if (!(key[p] <= lim)) break;  // every pair is above the cut, or one run is left
    if (sec[p] >= 0) {
      // exact: every other gap is further, or as far and later in scan order
      merge(p);
      continue;
    }
    const double hi = up(p);
    if (hi <= lim && hi < t.runner_up(p)) {
      merge(p);
      continue;
    }
    const int q = nxt[p];
    if (!(budget > 0) || nv[p] + nv[q] > 4096) return false;  // also bounds the replay's depth
    double ops = 0;
    exact(p, replay(v, m, nd, cur[p], cur[q], ops, z.memo));
    budget -= ops;
    t.fix(p);
  }
  for (int p = 0; p < m; p = nxt[p])
    for (int i = p; i < nxt[p]; ++i) rep[v[i].second] = low[p];
  return true;
}
