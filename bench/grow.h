// grow.h: expression tables of any sample count grown from a real one, for
// the benchmark. Samples are drawn with replacement within each label class
// (the class sizes keep the source's proportions) and every value gets normal
// noise of a fixed standard deviation, so the grown table keeps the shape of
// real data: dense, continuous values, clusters of many sizes. Draws come from
// rng.h, so a seed gives the same table on every machine.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "rng.h"

namespace grow {

// A plain tab-separated expression table as the programs read it.
struct table {
  std::vector<int> lab;
  std::vector<std::string> name;
  std::vector<std::vector<double>> val;  // val[p][s]
};

// The first max_prob probe rows of a plain text table (all rows when < 0).
inline table read(const std::string& path, int max_prob = -1) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error(path + ": cannot open");
  table t;
  std::string line;
  auto fields = [](const std::string& l) {
    std::vector<std::string> f;
    size_t a = 0;
    for (;;) {
      size_t b = l.find('\t', a);
      f.push_back(l.substr(a, b == std::string::npos ? std::string::npos : b - a));
      if (b == std::string::npos) return f;
      a = b + 1;
    }
  };
  std::getline(in, line);  // header
  if (!std::getline(in, line)) throw std::runtime_error(path + ": no label line");
  std::vector<std::string> f = fields(line);
  for (size_t k = 1; k < f.size(); ++k) t.lab.push_back(std::atoi(f[k].c_str()));
  while ((max_prob < 0 || static_cast<int>(t.name.size()) < max_prob) && std::getline(in, line)) {
    if (line.size() < 2) continue;
    f = fields(line);
    t.name.push_back(f[0]);
    std::vector<double> v(t.lab.size(), 0.0);
    for (size_t s = 0; s < v.size() && s + 1 < f.size(); ++s) v[s] = std::strtod(f[s + 1].c_str(), nullptr);
    t.val.push_back(std::move(v));
  }
  return t;
}

// Standard normal draw (Box-Muller on two uniforms in (0, 1]).
inline double normal(rng& g) {
  double u = (static_cast<double>(g.next() >> 11) + 1.0) * 0x1.0p-53;
  double v = static_cast<double>(g.next() >> 11) * 0x1.0p-53;
  return std::sqrt(-2.0 * std::log(u)) * std::cos(6.283185307179586 * v);
}

// A table of n samples grown from src; probes listed in `rows` (all when empty).
inline table make(const table& src, int n, uint64_t seed, double sd = 0.05, const std::vector<int>& rows = {}) {
  rng g(seed);
  std::vector<int> by[2];
  for (int s = 0; s < static_cast<int>(src.lab.size()); ++s) by[src.lab[s] != 0].push_back(s);
  const int n_src = static_cast<int>(src.lab.size());
  int n1 = static_cast<int>(std::lround(static_cast<double>(n) * by[1].size() / n_src));
  if (by[1].empty()) n1 = 0;
  if (by[0].empty()) n1 = n;
  table t;
  t.lab.assign(n, 0);
  for (int s = 0; s < n1; ++s) t.lab[s] = 1;
  shuffle_n(t.lab.data(), n, g);
  std::vector<int> from(n);
  for (int s = 0; s < n; ++s) {
    const std::vector<int>& c = by[t.lab[s]];
    from[s] = c[g.below(static_cast<uint32_t>(c.size()))];
  }
  std::vector<int> rs = rows;
  if (rs.empty())
    for (int p = 0; p < static_cast<int>(src.val.size()); ++p) rs.push_back(p);
  for (int p : rs) {
    t.name.push_back(src.name[p]);
    std::vector<double> v(n);
    for (int s = 0; s < n; ++s) v[s] = src.val[p][from[s]] + sd * normal(g);
    t.val.push_back(std::move(v));
  }
  return t;
}

// The table as file text; values with six decimals, as real tables have, or
// rounded to dec decimals, as published tables often are.
inline std::string text(const table& t, int dec = 6) {
  std::string s = "probe";
  for (size_t k = 0; k < t.lab.size(); ++k) s += "\ts" + std::to_string(k);
  s += "\nlabel";
  for (int l : t.lab) s += l ? "\t1" : "\t0";
  s += '\n';
  char b[32];
  for (size_t p = 0; p < t.name.size(); ++p) {
    s += t.name[p];
    for (double x : t.val[p]) {
      std::snprintf(b, sizeof b, "\t%.*f", dec, x);
      s += b;
    }
    s += '\n';
  }
  return s;
}

// A table of n samples, balanced random labels and n_prob probes of normal
// values, each probe with its own mean in [4, 10] and sd in [0.2, 1]: the
// shape of log-scale expression values.
inline table normal_table(int n, int n_prob, uint64_t seed) {
  rng g(seed);
  table t;
  t.lab.assign(n, 0);
  for (int s = 0; s < n / 2; ++s) t.lab[s] = 1;
  shuffle_n(t.lab.data(), n, g);
  for (int p = 0; p < n_prob; ++p) {
    const double mu = 4 + 6 * (static_cast<double>(g.next() >> 11) * 0x1.0p-53);
    const double sd = 0.2 + 0.8 * (static_cast<double>(g.next() >> 11) * 0x1.0p-53);
    t.name.push_back("n" + std::to_string(p));
    std::vector<double> v(n);
    for (double& x : v) x = mu + sd * normal(g);
    t.val.push_back(std::move(v));
  }
  return t;
}

}  // namespace grow
