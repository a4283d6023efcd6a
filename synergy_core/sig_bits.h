// sig_bits.h: partitions and label vectors as bitsets, for the significance
// engine (signif.cpp): a cluster's label count is a popcount. Private to the
// core.
#pragma once

#include <cstdint>
#include <vector>

#include "fast.h"

// Counts are integers, so the popcount instruction, where the machine has it,
// changes no bit.
#define SIG_CLONES SYN_CLONES("popcnt")

// Words of one label bitset: (n_samp + 63) / 64 of the loaded table, read
// wherever it is used, so the engine keeps no state of its own.
struct word_count {
  operator int() const { return (n_samp + 63) / 64; }
};
constexpr word_count n_word{};

// A partition as one bitset per cluster, clusters in cluster-number order.
struct bit_part {
  int k = 0;
  std::vector<uint64_t> cl;  // k x n_word
  std::vector<int> m;        // cluster sizes
};

void to_bits(const part& pt, bit_part& b);
void lab_bits(const int* lab, uint64_t* out);

// Entropy sum of a partition under labels L: the terms mi(S/M)*M in cluster
// order, as es_sum of the flip search adds them.
double bits_ent(const bit_part& b, const uint64_t* L);

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

void to_cand(const bit_part& b, cand_part& c);

// Candidacy bits of one probe over c pooled label bitsets: the fast sum
// decides outside [lo, hi], a margin around the rounding window of the
// bound; inside it, the exact sum and the written-then-read test (sig_cand).
// mask null: every shuffling; else only those whose mask bit is set (the
// others stay 0).
void cand_bits(const cand_part& cp, const bit_part& b, const uint64_t* L, long c, int ones, double lo,
               double hi, double bound, const uint64_t* mask, uint64_t* out);
