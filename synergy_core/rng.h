// rng.h: the toolkit's own random numbers, fully specified so that a seed
// gives the same draws on every machine, compiler and thread count (the
// standard library's distributions are implementation-defined).
#pragma once

#include <cstdint>

// splitmix64 step: seeds generators and mixes counters into seeds.
inline uint64_t mix64(uint64_t& x) {
  uint64_t z = (x += 0x9e3779b97f4a7c15ULL);
  z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
  z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
  return z ^ (z >> 31);
}

// xoshiro256** seeded from one 64-bit value through splitmix64.
struct rng {
  uint64_t s[4];
  explicit rng(uint64_t seed) {
    for (auto& w : s) w = mix64(seed);
  }
  static uint64_t rotl(uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }
  uint64_t next() {
    const uint64_t r = rotl(s[1] * 5, 7) * 9;
    const uint64_t t = s[1] << 17;
    s[2] ^= s[0];
    s[3] ^= s[1];
    s[1] ^= s[2];
    s[0] ^= s[3];
    s[2] ^= t;
    s[3] = rotl(s[3], 45);
    return r;
  }
  // Uniform in [0, n), n >= 1, without modulo bias (multiply and reject).
  uint32_t below(uint32_t n) {
    uint64_t m = static_cast<uint64_t>(static_cast<uint32_t>(next() >> 32)) * n;
    uint32_t l = static_cast<uint32_t>(m);
    if (l < n) {
      const uint32_t t = static_cast<uint32_t>(-n) % n;
      while (l < t) {
        m = static_cast<uint64_t>(static_cast<uint32_t>(next() >> 32)) * n;
        l = static_cast<uint32_t>(m);
      }
    }
    return static_cast<uint32_t>(m >> 32);
  }
};

// Fisher-Yates shuffle of v[0..n): for i = n-1 down to 1, swap v[i] with
// v[below(i+1)].
template <class T>
void shuffle_n(T* v, int n, rng& g) {
  for (int i = n - 1; i > 0; --i) {
    const uint32_t j = g.below(static_cast<uint32_t>(i) + 1);
    T t = v[i];
    v[i] = v[j];
    v[j] = t;
  }
}
