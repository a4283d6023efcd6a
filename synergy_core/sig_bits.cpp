// Partitions and label vectors as bitsets (sig_bits.h), and the candidacy
// test of a probe over a chunk of the shuffling pool.
#include "sig_bits.h"

#include <algorithm>

#include "signif.h"

namespace {

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
inline __attribute__((always_inline)) void cand_loop(const cand_part& cp, const bit_part& b,
                                                     const uint64_t* L, long c, int ones, double lo,
                                                     double hi, double bound, const uint64_t* mask,
                                                     uint64_t* out) {
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

}  // namespace

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
static double bits_ent_v(const bit_part& b, const uint64_t* L) {
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

// Candidacy bits of one probe over c pooled label bitsets: the fast sum
// decides outside [lo, hi], a margin around the rounding window of the
// bound; inside it, the exact sum and the written-then-read test.
SIG_CLONES
void cand_bits(const cand_part& cp, const bit_part& b, const uint64_t* L, long c, int ones, double lo,
               double hi, double bound, const uint64_t* mask, uint64_t* out) {
  if (n_word == 1)
    cand_loop<1>(cp, b, L, c, ones, lo, hi, bound, mask, out);
  else if (n_word == 2)
    cand_loop<2>(cp, b, L, c, ones, lo, hi, bound, mask, out);
  else
    cand_loop<0>(cp, b, L, c, ones, lo, hi, bound, mask, out);
}

// Called from signif.cpp: a multi-versioned function is called through its
// dispatcher only from its own file (clang does not resolve one declared
// elsewhere).
double bits_ent(const bit_part& b, const uint64_t* L) { return bits_ent_v(b, L); }
