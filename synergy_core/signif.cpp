// Permutation significance: one shared pool of shuffled labels as bitsets,
// candidacy of each probe per chunk of the pool, sequential stopping per pair.
#include "signif.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <mutex>
#include <numeric>
#include <string>
#include <thread>

#include "rng.h"

// Counts are integers, so the popcount instruction, where the machine has it,
// changes no bit.
#define SIG_CLONES SYN_CLONES("popcnt")

namespace {

// Words of one label bitset.
int n_word = 1;

// A partition as one bitset per cluster, clusters in cluster-number order.
struct bit_part {
  int k = 0;
  std::vector<uint64_t> cl;  // k x n_word
  std::vector<int> m;        // cluster sizes
};

void to_bits(const part& pt, bit_part& b) {
  b.k = pt.n_cl;
  b.cl.assign(static_cast<size_t>(b.k) * n_word, 0);
  b.m.assign(b.k, 0);
  for (int i = 0; i < n_samp; ++i) {
    const int c = pt.cid[i];
    b.cl[static_cast<size_t>(c) * n_word + i / 64] |= uint64_t{1} << (i % 64);
    ++b.m[c];
  }
}

void lab_bits(const int* lab, uint64_t* out) {
  std::fill(out, out + n_word, 0);
  for (int i = 0; i < n_samp; ++i) out[i / 64] |= static_cast<uint64_t>(lab[i] & 1) << (i % 64);
}

// Entropy sum of a partition under labels L: the terms mi(S/M)*M in cluster
// order, as es_sum of the flip search adds them.
SIG_CLONES
double bits_ent(const bit_part& b, const uint64_t* L) {
  double t = 0.0;
  const uint64_t* c = b.cl.data();
  const int w = n_word;
  for (int q = 0; q < b.k; ++q, c += w) {
    int s = 0;
    for (int x = 0; x < w; ++x) s += __builtin_popcountll(c[x] & L[x]);
    const int m = b.m[q];
    t += ent_term(m, s);
  }
  return t;
}

// A single partition arranged for the candidacy test: the clusters of two or
// more samples except the largest, the singletons as one bitset (each adds
// the same term whatever its label), and the largest cluster, whose label
// count follows from the others.
struct cand_part {
  int k = 0;
  std::vector<uint64_t> cl;  // k x n_word
  std::vector<int> m;
  std::vector<uint64_t> single;  // n_word
  double t_single = 0.0;         // the singletons' terms
  int m_big = 0;
};

void to_cand(const bit_part& b, cand_part& c) {
  int big = -1;
  for (int q = 0; q < b.k; ++q)
    if (big < 0 || b.m[q] > b.m[big]) big = q;
  c = cand_part();
  c.single.assign(n_word, 0);
  int n_single = 0;
  for (int q = 0; q < b.k; ++q) {
    const uint64_t* x = b.cl.data() + static_cast<size_t>(q) * n_word;
    if (q == big) {
      c.m_big = b.m[q];
    } else if (b.m[q] == 1) {
      for (int w = 0; w < n_word; ++w) c.single[w] |= x[w];
      ++n_single;
    } else {
      c.cl.insert(c.cl.end(), x, x + n_word);
      c.m.push_back(b.m[q]);
      ++c.k;
    }
  }
  c.t_single = n_single * ent_term(1, 0);  // mi(0) and mi(1) are both the pure-cluster term
}

// The entropy sum of a partition in another order (two running sums): within
// a few units in the last place of bits_ent, which decides candidacy wherever
// the score is not within rounding of the bound.
// W: words per label bitset when known at compile time (1, 2), else 0.
template <int W>
inline __attribute__((always_inline)) double cand_ent(const cand_part& c, const uint64_t* L, int ones) {
  const int w = W ? W : n_word;
  double t0 = c.t_single, t1 = 0.0;
  int rest = 0;
  for (int x = 0; x < w; ++x) rest += __builtin_popcountll(c.single[x] & L[x]);
  const uint64_t* cl = c.cl.data();
  int q = 0;
  for (; q + 1 < c.k; q += 2, cl += 2 * w) {
    int s0 = 0, s1 = 0;
    for (int x = 0; x < w; ++x) {
      s0 += __builtin_popcountll(cl[x] & L[x]);
      s1 += __builtin_popcountll(cl[w + x] & L[x]);
    }
    rest += s0 + s1;
    const int m0 = c.m[q], m1 = c.m[q + 1];
    t0 += ent_term(m0, s0);
    t1 += ent_term(m1, s1);
  }
  if (q < c.k) {
    int s0 = 0;
    for (int x = 0; x < w; ++x) s0 += __builtin_popcountll(cl[x] & L[x]);
    rest += s0;
    const int m0 = c.m[q];
    t0 += ent_term(m0, s0);
  }
  const int mb = c.m_big;
  return (t0 + t1) + ent_term(mb, ones - rest);
}

// mask null: every shuffling of the chunk; else only those whose mask bit is
// set (the others stay 0).
template <int W>
inline __attribute__((always_inline)) void cand_loop(const cand_part& cp, const bit_part& b, const uint64_t* L,
                                                     long c, int ones, double lo, double hi, double bound,
                                                     const uint64_t* mask, uint64_t* out) {
  const double n = n_samp;
  // the fast sum is compared unscaled: lo * n and hi * n keep the margin
  const double lo_t = lo * n, hi_t = hi * n;
  const int w = W ? W : n_word;
  if (!mask) {
    uint64_t word = 0;
    for (long j = 0; j < c; ++j, L += w) {
      const double f = cand_ent<W>(cp, L, ones);
      const bool in = f > hi_t || (f >= lo_t && sig_cand(bits_ent(b, L) / n, bound));
      word |= static_cast<uint64_t>(in) << (j % 64);
      if (j % 64 == 63 || j + 1 == c) {
        out[j / 64] = word;
        word = 0;
      }
    }
    return;
  }
  const long cw = (c + 63) / 64;
  for (long k = 0; k < cw; ++k) {
    uint64_t word = 0;
    for (uint64_t m = mask[k]; m; m &= m - 1) {
      const int t = __builtin_ctzll(m);
      const uint64_t* x = L + static_cast<size_t>(k * 64 + t) * w;
      const double f = cand_ent<W>(cp, x, ones);
      const bool in = f > hi_t || (f >= lo_t && sig_cand(bits_ent(b, x) / n, bound));
      word |= static_cast<uint64_t>(in) << t;
    }
    out[k] = word;
  }
}

// Candidacy bits of one probe over c pooled label bitsets: the fast sum
// decides outside [lo, hi], a margin around the rounding window of the
// bound; inside it, the exact sum and the written-then-read test.
SIG_CLONES
void cand_bits(const cand_part& cp, const bit_part& b, const uint64_t* L, long c, int ones, double lo, double hi,
               double bound, const uint64_t* mask, uint64_t* out) {
  if (n_word == 1)
    cand_loop<1>(cp, b, L, c, ones, lo, hi, bound, mask, out);
  else if (n_word == 2)
    cand_loop<2>(cp, b, L, c, ones, lo, hi, bound, mask, out);
  else
    cand_loop<0>(cp, b, L, c, ones, lo, hi, bound, mask, out);
}

// ((s1 + s2) - e) - h with each entropy divided by n_samp, as flip_search does.
inline double syn_of(double ta, double tb, double tj, double h) {
  const int n = n_samp;
  return ((ta / n + tb / n) - tj / n) - h;
}

// Run f(i, tid) for i in [0, n) on n_thr threads (the caller is tid 0), items
// handed out in blocks; each item's result must depend on i alone. The first
// exception stops the run and is rethrown here.
template <class F>
void par_for(long n, int n_thr, long blk, F&& f) {
  if (n <= 0) return;
  const int t_n = static_cast<int>(std::max(1L, std::min<long>(n_thr, (n + blk - 1) / blk)));
  std::atomic<long> next{0};
  std::atomic<bool> stop{false};
  std::exception_ptr err;
  std::mutex mu;
  auto body = [&](int tid) {
    try {
      for (;;) {
        if (stop.load(std::memory_order_relaxed)) return;
        const long b = next.fetch_add(blk);
        if (b >= n) return;
        const long e = std::min(n, b + blk);
        for (long i = b; i < e; ++i) f(i, tid);
      }
    } catch (...) {
      std::lock_guard<std::mutex> g(mu);
      if (!err) err = std::current_exception();
      stop = true;
    }
  };
  std::vector<std::thread> th;
  th.reserve(t_n - 1);
  for (int t = 1; t < t_n; ++t) th.emplace_back(body, t);
  body(0);
  for (auto& t : th) t.join();
  if (err) std::rethrow_exception(err);
}

std::string pair_name(const sig_pair& q) { return "pair " + probe[q.a] + ", " + probe[q.b]; }

// Per-pair state while its p is open.
struct pair_st {
  bit_part j;        // joint partition
  bool open = true;
};

// ---- the tail: multilevel splitting over admissible labellings ----------------

// The three partitions of a pair as cluster numbers per sample: a's clusters
// first, then b's, then the joint ones, so one count array serves all three.
struct tail_pair {
  int k[3] = {0, 0, 0}, off[3] = {0, 0, 0};
  std::vector<int> cid[3];  // per partition and sample: cluster number + off
  std::vector<int> m;       // cluster sizes, all three partitions
  double h = 0.0, bound = 0.0;
  double lo = 0.0;  // single-probe scores below this are surely not candidates
};

void tail_init(tail_pair& t, const bit_part* b[3], double h, double bound) {
  int off = 0;
  t.m.clear();
  for (int x = 0; x < 3; ++x) {
    t.k[x] = b[x]->k;
    t.off[x] = off;
    t.cid[x].assign(n_samp, 0);
    for (int q = 0; q < b[x]->k; ++q) {
      const uint64_t* c = b[x]->cl.data() + static_cast<size_t>(q) * n_word;
      for (int w = 0; w < n_word; ++w)
        for (uint64_t y = c[w]; y; y &= y - 1) t.cid[x][w * 64 + __builtin_ctzll(y)] = off + q;
      t.m.push_back(b[x]->m[q]);
    }
    off += b[x]->k;
  }
  t.h = h;
  t.bound = bound;
  t.lo = std::isfinite(bound) ? bound - 1e-5 * std::fabs(bound) - 1e-9 : bound;
}

// One particle: its labels as the samples labelled 1 and 0, the label counts
// per cluster, the three entropy sums, the base synergy and the uniform.
struct particle {
  std::vector<int> one, zero, s;
  double e[3] = {0, 0, 0};
  double syn = 0.0, u = 0.0;
};

// Entropy sum of partition x from the counts: bits_ent's terms in its order.
double tail_ent(const tail_pair& t, const particle& z, int x) {
  double e = 0.0;
  for (int q = t.off[x], end = t.off[x] + t.k[x]; q < end; ++q) e += ent_term(t.m[q], z.s[q]);
  return e;
}

double unif(rng& g) { return static_cast<double>(g.next() >> 11) * (1.0 / 9007199254740992.0); }

// (syn, u) above the level (ls, lu) in lexicographic order.
inline bool above(double syn, double u, double ls, double lu) { return syn > ls || (syn == ls && u > lu); }

// Labels v as a particle; false when a probe would not be a candidate.
bool tail_set(const tail_pair& t, const int* v, particle& z) {
  const double n = n_samp;
  z.s.assign(t.m.size(), 0);
  for (int x = 0; x < 3; ++x) {
    for (int i = 0; i < n_samp; ++i) z.s[t.cid[x][i]] += v[i];
    z.e[x] = tail_ent(t, z, x);
    if (x < 2 && !sig_cand(z.e[x] / n, t.bound)) return false;
  }
  z.one.clear();
  z.zero.clear();
  for (int i = 0; i < n_samp; ++i) (v[i] ? z.one : z.zero).push_back(i);
  z.syn = syn_of(z.e[0], z.e[1], z.e[2], t.h);
  return true;
}

// One proposal: one, two or three exchanges of a one and a zero (with
// chances 1/2, 1/4, 1/4: single exchanges alone cannot leave some labellings
// at high levels), u drawn afresh; kept when both probes stay candidates and
// (syn, u) stays above the level. Each proposal is symmetric and the target
// uniform on the set, so keeping exactly the moves that stay in it leaves the
// target invariant.
SIG_CLONES
bool tail_move(const tail_pair& t, particle& z, double ls, double lu, rng& g) {
  const double n = n_samp;
  const uint64_t w = g.next();
  const int r = (w & 1) ? 1 : (w & 2) ? 2 : 3;
  const double u = static_cast<double>(w >> 11) * (1.0 / 9007199254740992.0);
  uint32_t sw[3][2];
  bool ch[3] = {false, false, false};
  // clusters the exchanges touch, with their counts before them
  int tc[18], ts[18], nt = 0;
  auto touch = [&](int c) {
    for (int k = 0; k < nt; ++k)
      if (tc[k] == c) return;
    tc[nt] = c;
    ts[nt++] = z.s[c];
  };
  for (int k = 0; k < r; ++k) {
    const uint32_t r1 = g.below(static_cast<uint32_t>(z.one.size()));
    const uint32_t r0 = g.below(static_cast<uint32_t>(z.zero.size()));
    sw[k][0] = r1;
    sw[k][1] = r0;
    const int i = z.one[r1], j = z.zero[r0];
    for (int x = 0; x < 3; ++x) {
      const int ci = t.cid[x][i], cj = t.cid[x][j];
      if (ci == cj) continue;
      touch(ci);
      touch(cj);
      --z.s[ci];
      ++z.s[cj];
      ch[x] = true;
    }
    z.one[r1] = j;
    z.zero[r0] = i;
  }
  // the sums moved by the touched terms alone: within far less than the
  // margins of the exact sums, so they reject what is clearly out (most
  // proposals at high levels) and the exact sums decide the rest
  double d[3] = {0.0, 0.0, 0.0};
  for (int k = 0; k < nt; ++k) {
    const int c = tc[k], x = c >= t.off[2] ? 2 : c >= t.off[1] ? 1 : 0;
    d[x] += ent_term(t.m[c], z.s[c]) - ent_term(t.m[c], ts[k]);
  }
  bool ok = !(ch[0] && (z.e[0] + d[0]) / n < t.lo) && !(ch[1] && (z.e[1] + d[1]) / n < t.lo) &&
            syn_of(z.e[0] + d[0], z.e[1] + d[1], z.e[2] + d[2], t.h) >= ls - 1e-9;
  double e[3];
  for (int x = 0; x < 3 && ok; ++x) {
    e[x] = ch[x] ? tail_ent(t, z, x) : z.e[x];
    if (x < 2 && ch[x]) ok = sig_cand(e[x] / n, t.bound);
  }
  double syn = 0.0;
  if (ok) {
    syn = syn_of(e[0], e[1], e[2], t.h);
    ok = above(syn, u, ls, lu);
  }
  if (!ok) {
    for (int k = 0; k < nt; ++k) z.s[tc[k]] = ts[k];
    for (int k = r - 1; k >= 0; --k) {
      const uint32_t r1 = sw[k][0], r0 = sw[k][1];
      std::swap(z.one[r1], z.zero[r0]);
    }
    return false;
  }
  for (int x = 0; x < 3; ++x) z.e[x] = e[x];
  z.syn = syn;
  z.u = u;
  return true;
}

// Generator of a pair's tail: the seed and the two probe numbers, in either order.
uint64_t tail_seed(uint64_t seed, int a, int b) {
  uint64_t x = (seed * 0xd1b54a32d192ed03ULL) ^
               (static_cast<uint64_t>(std::min(a, b)) << 32 | static_cast<uint64_t>(std::max(a, b)));
  x ^= 0x7461696c7461696cULL;
  mix64(x);
  return mix64(x);
}

// One run of last-particle splitting from the particles z to the pair's
// base: the replacements K, or k_max + 1 when the floor stopped it.
uint64_t tail_ams(const tail_pair& t, std::vector<particle>& z, double base, int moves, uint64_t k_max,
                  rng& g) {
  const int N = static_cast<int>(z.size());
  for (auto& x : z) x.u = unif(g);
  uint64_t K = 0;
  for (;;) {
    int lo = 0;
    for (int x = 1; x < N; ++x)
      if (!above(z[x].syn, z[x].u, z[lo].syn, z[lo].u)) lo = x;
    if (z[lo].syn >= base) return K;  // every particle reached the pair's base
    if (K == k_max) return K + 1;
    ++K;
    const double ls = z[lo].syn, lu = z[lo].u;
    int c = static_cast<int>(g.below(static_cast<uint32_t>(N - 1)));
    c += c >= lo;
    z[lo] = z[c];
    for (int m = 0; m < moves; ++m) tail_move(t, z[lo], ls, lu, g);
    // u afresh given the labels (a copy that never moved would tie with its
    // original, and a tie at the lowest level would count twice)
    const double v = unif(g);
    z[lo].u = z[lo].syn > ls ? v : lu + (1.0 - lu) * v;
  }
}

// The tail estimate of one pair (see signif.h). lab: a scratch vector of n_samp.
void tail_run(sig_pair& q, const bit_part* b[3], const sig_opt& o, double h, int* lab) {
  tail_pair t;
  tail_init(t, b, h, o.bound);
  const int N = std::max(2, o.part), R = std::max(1, o.reps);
  std::vector<particle> z(static_cast<size_t>(N) * R);
  // R N admissible labellings, independent and uniform: uniform labellings
  // (Floyd's sampling of the ones) from the pair's own generator, kept when
  // both probes stay candidates, tested on bitsets. The screen saw that many
  // admissible shufflings within its cap (a pair it saw fewer for keeps its
  // permutation p: drawing them would cost more than the screen), so a limit
  // of four times its shufflings is seldom reached.
  if (q.adm < z.size()) return;
  rng gi(tail_seed(o.seed, q.a, q.b) ^ 0x696e6974ULL);
  const int n = n_samp, nw = n_word;
  int n1 = 0;
  for (int v : ini_phe) n1 += v;
  std::vector<uint64_t> L(nw);
  size_t got = 0;
  for (uint64_t d = 0; d < 4 * q.perms && got < z.size(); ++d) {
    std::fill(L.begin(), L.end(), 0);
    for (int j = n - n1; j < n; ++j) {
      const int r = static_cast<int>(gi.below(static_cast<uint32_t>(j) + 1));
      const int k = (L[r / 64] >> (r % 64) & 1) ? j : r;
      L[k / 64] |= uint64_t{1} << (k % 64);
    }
    if (!sig_cand(bits_ent(*b[0], L.data()) / n, o.bound) ||
        !sig_cand(bits_ent(*b[1], L.data()) / n, o.bound))
      continue;
    for (int i = 0; i < n; ++i) lab[i] = static_cast<int>(L[i / 64] >> (i % 64) & 1);
    got += tail_set(t, lab, z[got]);
  }
  if (got < z.size()) return;              // too few admissible labellings: the permutation p stands
  const double l1 = std::log1p(-1.0 / N);  // ln(1 - 1/N)
  const uint64_t k_max = static_cast<uint64_t>(std::ceil(std::log(o.floor) / l1));
  double sum = 0.0, sum2 = 0.0;
  int src = SRC_TAIL;
  std::vector<particle> zr;
  for (int r = 0; r < R; ++r) {
    zr.assign(z.begin() + static_cast<long>(r) * N, z.begin() + static_cast<long>(r + 1) * N);
    rng g(tail_seed(o.seed, q.a, q.b) + static_cast<uint64_t>(r));
    uint64_t K = tail_ams(t, zr, q.base, o.moves, k_max, g);
    if (K > k_max) {
      src = SRC_FLOOR;
      K = k_max;
    }
    const double pr = std::exp(static_cast<double>(K) * l1);
    sum += pr;
    sum2 += pr * pr;
  }
  const double p = sum / R;
  // sd of ln p: what N R ideal particles give (relative variance p^(-1/N) - 1
  // per run), or what the runs' spread shows when that is more
  const double known = (std::pow(p, -1.0 / N) - 1.0) / R;
  const double seen = R > 1 ? std::max(0.0, sum2 - sum * sum / R) / (R - 1) / R / (p * p) : 0.0;
  q.p = p;
  q.src = src;
  q.l2err = std::sqrt(std::log1p(std::max(known, seen))) / std::log(2.0);
}

}  // namespace

const char* const SIG_SRC_NAME[3] = {"perm", "tail", "floor"};

double perm_l2err(const sig_pair& q, int h) {
  if (q.adm == 0) return 0.0;
  const double k =
      q.hits >= static_cast<uint64_t>(h) ? static_cast<double>(q.hits) : static_cast<double>(q.hits + 1);
  return std::sqrt(std::max(0.0, 1.0 - q.p) / k) / std::log(2.0);
}

uint64_t sig_cap(bool tail) {
  if (!tail) return SIG_PERM;
  return std::min<uint64_t>(SIG_PERM_TAIL, static_cast<uint64_t>(SIG_WORK / std::max(1, n_samp)));
}

uint64_t sig_seed(uint64_t seed, uint64_t j) {
  uint64_t x = seed ^ (j * 0x9e3779b97f4a7c15ULL);
  return mix64(x);
}

bool sig_cand(double score, double bound) {
  if (!std::isfinite(bound)) return score > bound;
  // six significant digits move a value by at most 5e-6 of itself: only scores
  // that close to the bound need the written-then-read comparison
  const double tol = 1e-5 * std::fabs(bound);
  if (score > bound + tol) return true;
  if (score < bound - tol) return false;
  char num[32];
  std::snprintf(num, sizeof num, "%g", score);
  return std::strtod(num, nullptr) > bound;
}

double sig_base(const part& pa, const part& pb, const part& pj, const int* lab) {
  if (pa.n_cl == 0 || pb.n_cl == 0 || pj.n_cl == 0) return NO_PART;
  n_word = (n_samp + 63) / 64;
  std::vector<uint64_t> L(n_word);
  lab_bits(lab, L.data());
  bit_part b[3];
  to_bits(pa, b[0]);
  to_bits(pb, b[1]);
  to_bits(pj, b[2]);
  int ones = 0;
  for (int i = 0; i < n_samp; ++i) ones += lab[i];
  return syn_of(bits_ent(b[0], L.data()), bits_ent(b[1], L.data()), bits_ent(b[2], L.data()), phe_tab[ones]);
}

void sig_bases(std::vector<sig_pair>& pr, int n_thr, const std::function<void(size_t, const part&)>& joint) {
  sig_opt o;
  o.cap = 0;
  o.tail = false;
  o.n_thr = n_thr;
  o.joint = joint;
  sig_run(pr, o, {});
}

void sig_run(std::vector<sig_pair>& pr, const sig_opt& o, const std::function<void(long)>& tick) {
  const int n = n_samp;
  n_word = (n + 63) / 64;
  const int nw = n_word;
  const int n_thr = std::max(1, o.n_thr);
  const uint64_t H = static_cast<uint64_t>(std::max(1, o.hits));
  std::vector<work> ws(n_thr);
  for (auto& w : ws) work_init(w);

  // single partitions, once per probe
  std::vector<int> pidx(n_prob, -1), plist;
  for (const auto& q : pr)
    for (int p : {q.a, q.b})
      if (pidx[p] < 0) {
        pidx[p] = static_cast<int>(plist.size());
        plist.push_back(p);
      }
  const long n_pr = static_cast<long>(plist.size());
  std::vector<part> sp(n_pr);
  std::vector<bit_part> sb(n_pr);
  std::vector<cand_part> sc(n_pr);
  par_for(n_pr, n_thr, 8, [&](long i, int tid) {
    sin_part(plist[i], ws[tid], sp[i]);
    to_bits(sp[i], sb[i]);
    to_cand(sb[i], sc[i]);
  });

  int ones = 0;
  for (int i = 0; i < n; ++i) ones += ini_phe[i];
  const double h = phe_tab[ones];
  std::vector<uint64_t> L0(nw);
  lab_bits(ini_phe.data(), L0.data());

  const long np = static_cast<long>(pr.size());
  std::vector<pair_st> st(np);
  std::vector<long> open(np);
  std::iota(open.begin(), open.end(), 0L);
  long settled = 0;

  // joint partition and base of pair i; a pair without one cannot come from this table
  auto setup = [&](long i, int tid) {
    sig_pair& q = pr[i];
    const bit_part &ba = sb[pidx[q.a]], &bb = sb[pidx[q.b]];
    if (ba.k == 0 || bb.k == 0) throw syn_error(pair_name(q) + ": a probe has no partition in this table");
    part pj;
    two_part(q.a, q.b, 0, sp[pidx[q.a]], sp[pidx[q.b]], ws[tid], pj);
    if (pj.n_cl == 0) throw syn_error(pair_name(q) + ": no joint partition in this table (records from another table?)");
    if (o.joint) o.joint(static_cast<size_t>(i), pj);
    to_bits(pj, st[i].j);
    q.base = syn_of(bits_ent(ba, L0.data()), bits_ent(bb, L0.data()), bits_ent(st[i].j, L0.data()), h);
    q.perms = q.adm = q.hits = 0;
    q.p = 1.0;
    q.src = SRC_PERM;
    q.l2err = 0.0;
  };

  if (o.cap == 0) {
    par_for(np, n_thr, 64, [&](long i, int tid) {
      setup(i, tid);
      st[i].j = bit_part();
    });
    return;
  }

  // per-thread label buffers on cache lines of their own: the shuffles write
  // them hard, and a shared line would bounce between the cores
  const size_t lab_stride = (static_cast<size_t>(n) + 15) / 16 * 16 + 16;
  std::vector<int> lab(static_cast<size_t>(n_thr) * lab_stride);
  std::vector<uint64_t> pool;
  std::vector<uint64_t> cand;  // per probe of open pairs: chunk bits
  std::vector<int> cpos(n_pr, -1);
  uint64_t drawn = 0;
  long chunk = SIG_CHUNK0;
  bool first = true;
  while (!open.empty() && drawn < o.cap) {
    // probes of the open pairs
    std::vector<int> act;
    std::fill(cpos.begin(), cpos.end(), -1);
    for (long i : open)
      for (int p : {pr[i].a, pr[i].b})
        if (cpos[pidx[p]] < 0) {
          cpos[pidx[p]] = static_cast<int>(act.size());
          act.push_back(pidx[p]);
        }
    // chunk size: keep the pool and the candidacy bits within about 64 MB each
    long c = chunk;
    c = std::min<long>(c, std::max<long>(4096, (1L << 23) / nw));
    c = std::min<long>(c, std::max<long>(4096, (1L << 29) / static_cast<long>(act.size())));
    if (static_cast<uint64_t>(c) > o.cap - drawn) c = static_cast<long>(o.cap - drawn);
    const long cw = (c + 63) / 64;

    // the chunk's shufflings: depend on the seed and j alone
    pool.assign(static_cast<size_t>(c) * nw, 0);
    par_for(c, n_thr, 256, [&](long j, int tid) {
      int* v = lab.data() + static_cast<size_t>(tid) * lab_stride;
      std::copy(ini_phe.begin(), ini_phe.end(), v);
      rng g(sig_seed(o.seed, drawn + static_cast<uint64_t>(j)));
      shuffle_n(v, n, g);
      lab_bits(v, pool.data() + static_cast<size_t>(j) * nw);
    });

    // which shufflings keep each probe a candidate: a pair needs both bits
    // only where both are set, so a cover of the open pairs (a probe of every
    // pair) is tested on every shuffling, and each other probe only where one
    // of its partners, all in the cover, passed
    const long n_act = static_cast<long>(act.size());
    std::vector<char> in_cover(n_act, 0);
    std::vector<std::vector<int>> partner(n_act);
    for (long i : open) {
      const int x = cpos[pidx[pr[i].a]], y = cpos[pidx[pr[i].b]];
      if (!in_cover[x] && !in_cover[y]) in_cover[partner[x].size() >= partner[y].size() ? x : y] = 1;
      partner[x].push_back(y);
      partner[y].push_back(x);
    }
    std::vector<int> outer;
    for (int k = 0; k < n_act; ++k)
      if (!in_cover[k]) outer.push_back(k);
    cand.assign(act.size() * static_cast<size_t>(cw), 0);
    const bool fin = std::isfinite(o.bound);
    const double lo = fin ? o.bound - 1e-5 * std::fabs(o.bound) - 1e-9 : o.bound;
    const double hi = fin ? o.bound + 1e-5 * std::fabs(o.bound) + 1e-9 : o.bound;
    std::vector<uint64_t> masks(static_cast<size_t>(n_thr) * cw);
    // the chunk in slices of 256 words (16384 shufflings), every probe through
    // one slice before the next, so that the slice of the pool stays in cache;
    // the bits do not depend on the slicing
    const long S = std::max(1L, cw / 256);
    for (int pass = 0; pass < 2; ++pass)
      par_for(n_act * S, n_thr, 1, [&](long it, int tid) {
        const long k = it % n_act, sl = it / n_act;
        if (in_cover[k] != (pass == 0)) return;
        const bit_part& b = sb[act[k]];
        if (b.k == 0) return;  // no partition: never a candidate (its pairs are refused)
        const long w0 = sl * cw / S, w1 = (sl + 1) * cw / S;
        if (w0 == w1) return;
        const long j0 = w0 * 64, j1 = std::min<long>(c, w1 * 64);
        uint64_t* cb = cand.data() + static_cast<size_t>(k) * cw + w0;
        const uint64_t* mask = nullptr;
        if (pass == 1) {
          uint64_t* m = masks.data() + static_cast<size_t>(tid) * cw;
          std::fill(m + w0, m + w1, 0);
          for (int y : partner[k]) {
            const uint64_t* py = cand.data() + static_cast<size_t>(y) * cw;
            for (long w = w0; w < w1; ++w) m[w] |= py[w];
          }
          mask = m + w0;
        }
        cand_bits(sc[act[k]], b, pool.data() + static_cast<size_t>(j0) * nw, j1 - j0, ones, lo, hi, o.bound, mask, cb);
      });

    // advance every open pair through the chunk, in shuffling order
    std::atomic<long> done_now{0};
    par_for(static_cast<long>(open.size()), n_thr, first ? 64 : 1, [&](long k, int tid) {
      const long i = open[k];
      if (first) setup(i, tid);
      sig_pair& q = pr[i];
      const bit_part &ba = sb[pidx[q.a]], &bb = sb[pidx[q.b]], &bj = st[i].j;
      const uint64_t* ca = cand.data() + static_cast<size_t>(cpos[pidx[q.a]]) * cw;
      const uint64_t* cb = cand.data() + static_cast<size_t>(cpos[pidx[q.b]]) * cw;
      for (long w = 0; w < cw; ++w) {
        for (uint64_t x = ca[w] & cb[w]; x; x &= x - 1) {
          const long j = w * 64 + __builtin_ctzll(x);
          const uint64_t* L = pool.data() + static_cast<size_t>(j) * nw;
          ++q.adm;
          // same arithmetic as the observed base: the identity shuffling is a hit
          if (syn_of(bits_ent(ba, L), bits_ent(bb, L), bits_ent(bj, L), h) >= q.base && ++q.hits == H) {
            q.perms = drawn + static_cast<uint64_t>(j) + 1;
            q.p = static_cast<double>(H) / static_cast<double>(q.adm);
            st[i].open = false;
            st[i].j = bit_part();
            done_now.fetch_add(1, std::memory_order_relaxed);
            if (tid == 0 && tick) tick(settled + done_now.load(std::memory_order_relaxed));
            return;
          }
        }
      }
    });
    drawn += static_cast<uint64_t>(c);
    settled += done_now.load();
    open.erase(std::remove_if(open.begin(), open.end(), [&](long i) { return !st[i].open; }), open.end());
    first = false;
    chunk = std::min<long>(2 * chunk, SIG_CHUNK_MAX);
    if (tick && drawn < o.cap) tick(settled);
  }
  // pairs that reached the cap without h hits
  for (long i : open) {
    sig_pair& q = pr[i];
    q.perms = drawn;
    q.p = static_cast<double>(q.hits + 1) / static_cast<double>(q.adm + 1);
  }
  for (sig_pair& q : pr) q.l2err = perm_l2err(q, static_cast<int>(H));
  if (o.tail) {
    // one pair per item: each costs from a few milliseconds to a second
    std::atomic<long> done_now{0};
    par_for(static_cast<long>(open.size()), n_thr, 1, [&](long k, int tid) {
      const long i = open[k];
      sig_pair& q = pr[i];
      const bit_part* b[3] = {&sb[pidx[q.a]], &sb[pidx[q.b]], &st[i].j};
      tail_run(q, b, o, h, lab.data() + static_cast<size_t>(tid) * lab_stride);
      st[i].j = bit_part();
      done_now.fetch_add(1, std::memory_order_relaxed);
      if (tid == 0 && tick) tick(settled + done_now.load(std::memory_order_relaxed));
    });
  }
  for (long i : open) st[i].j = bit_part();
  if (tick) tick(np);
}

std::vector<double> bh_q(const std::vector<double>& p) {
  const size_t m = p.size();
  std::vector<size_t> ord(m);
  std::iota(ord.begin(), ord.end(), size_t{0});
  std::stable_sort(ord.begin(), ord.end(), [&](size_t x, size_t y) { return p[x] < p[y]; });
  std::vector<double> q(m);
  double run = 1.0;
  for (size_t r = m; r-- > 0;) {
    const double v = p[ord[r]] * static_cast<double>(m) / static_cast<double>(r + 1);
    run = std::min(run, v);
    q[ord[r]] = run;
  }
  return q;
}

double p_search(double fin, const std::vector<double>& null_final) {
  long ge = 0;
  for (double v : null_final)
    if (v >= fin) ++ge;  // NaN compares false
  return static_cast<double>(1 + ge) / static_cast<double>(1 + null_final.size());
}
