// gen.h: random small expression tables for differential and end-to-end tests.
//
//   #include "gen.h"
//   std::mt19937_64 rng(seed);
//   gen::table t = gen::make(rng);            // default mix of shapes and formats
//   gen::write_file(path, t.text);
//
// Every table is valid input (at least 2 samples, labels 0/1, every probe row
// holds at least n_samp finite values, each spelled as a number in full), so
// the reader and the input check accept it; only the spelling varies. Values are drawn per probe in one of these styles, chosen at random:
//   grid     multiples of 0.01, 0.03, 0.06 or 0.12 over a few steps, so that
//            distances tie and land exactly on (or one rounding next to) 0.12;
//   blocks   a few constant levels repeated over many samples, so that big
//            clusters and all-equal probes form;
//   spread   values with many digits over a wide range (mostly singletons);
//   mixed    grid clusters around a few centres.
// With opts::exact_grid the grid is in integers scaled by powers of two
// (0.0625, 0.125, ...), whose differences are exact in binary.
//
// Format variants (each applied to a whole table with its probability):
// CRLF line ends, a tab at the end of probe rows (one more value, 0.0), extra
// values beyond n_samp, blank or one-character lines between probe rows,
// a missing final newline, numbers spelled differently but read the same
// ("0.50", " .5", "+0.5", "5e-1", "0.5 "). Labels are random, balanced
// (half ones, shuffled) or all equal.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

namespace gen {

struct opts {
  int min_samp = 2, max_samp = 40;  // n_samp drawn in [min, max], small sizes favoured
  int min_prob = 0, max_prob = 8;   // n_prob drawn in [min, max]
  double p_crlf = 0.1;              // probabilities of the format variants, per table
  double p_trail_tab = 0.1;
  double p_extra = 0.1;
  double p_skip_lines = 0.15;
  double p_no_final_nl = 0.2;
  double p_odd_numbers = 0.1;
  double p_dup_probe = 0.1;         // a probe row repeated under another name
  enum lab_mode { lab_mix, lab_random, lab_balanced, lab_equal } labels = lab_mix;
  bool exact_grid = false;          // also draw grids on power-of-two steps
};

// Options for a table of exactly n_samp samples and n_prob probes with
// balanced labels.
inline opts fixed(int n_samp, int n_prob) {
  opts o;
  o.min_samp = o.max_samp = n_samp;
  o.min_prob = o.max_prob = n_prob;
  o.labels = opts::lab_balanced;
  return o;
}

struct table {
  std::string text;                     // the file content
  int n_samp = 0, n_prob = 0;           // as the reader will count them
  std::vector<int> lab;                 // labels, one per sample
  std::vector<std::vector<double>> val; // val[p][s] as written (before spelling)
};

namespace detail {

inline double unif(std::mt19937_64& r) { return std::uniform_real_distribution<double>(0.0, 1.0)(r); }
inline int irand(std::mt19937_64& r, int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(r); }
inline bool coin(std::mt19937_64& r, double p) { return unif(r) < p; }

// Shortest text that reads back as exactly x.
inline std::string num(double x) {
  char b[64];
  for (int prec = 1; prec <= 17; ++prec) {
    std::snprintf(b, sizeof b, "%.*g", prec, x);
    if (std::strtod(b, nullptr) == x) return b;
  }
  return b;
}

// The same number spelled another way that reads, in full, as the same double.
inline std::string odd(double x, std::mt19937_64& r) {
  std::string s = num(x);
  if (x == 0.0) {
    static const char* zero[] = {"0 ", "0", "0.0", "-0", "+0", " 0", "0e5"};
    return zero[irand(r, 0, 6)];
  }
  switch (irand(r, 0, 4)) {
    case 0: return " " + s;
    case 1: return x > 0 ? "+" + s : s;
    case 2: return s.find('e') == std::string::npos && s.find('.') != std::string::npos ? s + "00" : s;
    case 3: return s + "  ";  // blanks after the number
    default: {
      char b[64];
      std::snprintf(b, sizeof b, "%.17e", x);
      return b;
    }
  }
}

inline std::vector<double> probe_values(std::mt19937_64& r, int n, const opts& o) {
  std::vector<double> v(n);
  static const double steps[] = {0.01, 0.03, 0.06, 0.12, 0.02, 0.04, 0.05, 0.07};
  static const double exact_steps[] = {0.0625, 0.125, 0.03125, 0.25};
  int style = irand(r, 0, 9);
  if (style <= 3) {  // grid
    double step = o.exact_grid && coin(r, 0.5) ? exact_steps[irand(r, 0, 3)] : steps[irand(r, 0, 7)];
    int span = irand(r, 0, 12);
    double base = irand(r, -3, 20) * 0.1;
    for (double& x : v) x = base + step * irand(r, 0, span);
    if (!o.exact_grid)
      for (double& x : v) x = std::round(x * 1e4) / 1e4;  // short decimals, as in real files
  } else if (style <= 5) {  // blocks: few levels, long runs
    int lv = irand(r, 1, 3);
    std::vector<double> lev(lv);
    for (double& l : lev) l = irand(r, 0, 40) * 0.06;
    int cur = irand(r, 0, lv - 1);
    for (double& x : v) {
      if (coin(r, 0.15)) cur = irand(r, 0, lv - 1);
      x = lev[cur];
    }
  } else if (style <= 7) {  // mixed: clusters round a few centres on a fine grid
    int nc = irand(r, 1, 4);
    std::vector<double> c(nc);
    for (double& x : c) x = irand(r, 0, 60) * 0.03;
    for (double& x : v) x = c[irand(r, 0, nc - 1)] + irand(r, -4, 4) * 0.01;
    for (double& x : v) x = std::round(x * 1e4) / 1e4;
  } else if (style == 8) {  // spread
    double scale = coin(r, 0.5) ? 1.0 : 100.0;
    for (double& x : v) x = (unif(r) - 0.3) * scale;
  } else {  // spread but rounded to 3 digits: near-ties, few exact ones
    for (double& x : v) x = irand(r, 0, 2000) * 0.001;
  }
  return v;
}

}  // namespace detail

// One probe's values as published tables round them: normal, mean 4 to 10,
// sd 0.03 to 1, rounded to dec decimals (1 to 4), with some samples copying
// another's value and some planted 0.12 from another (the cut height), so
// that runs of equal values, equal gaps and merges at the cut come up.
inline std::vector<double> rounded_values(std::mt19937_64& r, int n, int dec) {
  using namespace detail;
  const double sc = std::pow(10.0, dec), mu = 4 + 6 * unif(r), sd = 0.03 + unif(r);
  std::normal_distribution<double> nd(mu, sd);
  std::vector<double> v(n);
  for (int s = 0; s < n; ++s) {
    const int k = irand(r, 0, 19);
    if (s > 0 && k == 0) v[s] = v[irand(r, 0, s - 1)];
    else if (s > 0 && k <= 2) v[s] = std::round((v[irand(r, 0, s - 1)] + (k == 1 ? 0.12 : -0.12)) * sc) / sc;
    else v[s] = std::round(nd(r) * sc) / sc;
  }
  return v;
}

// One random table.
inline table make(std::mt19937_64& r, const opts& o = opts()) {
  using namespace detail;
  table t;
  // small sizes (2, 3) come up often; the rest is uniform
  int ns;
  if (o.min_samp <= 3 && coin(r, 0.15))
    ns = irand(r, o.min_samp, std::min(3, o.max_samp));
  else
    ns = irand(r, o.min_samp, o.max_samp);
  int np = irand(r, o.min_prob, o.max_prob);
  t.n_samp = ns;
  t.n_prob = np;

  int lm = o.labels == opts::lab_mix ? irand(r, 1, 3) : o.labels;
  t.lab.assign(ns, 0);
  if (lm == opts::lab_random) {
    for (int& l : t.lab) l = irand(r, 0, 1);
  } else if (lm == opts::lab_balanced) {
    for (int s = 0; s < ns / 2; ++s) t.lab[s] = 1;
    std::shuffle(t.lab.begin(), t.lab.end(), r);
  } else {
    int l = irand(r, 0, 1);
    for (int& x : t.lab) x = l;
  }

  for (int p = 0; p < np; ++p) {
    if (p > 0 && coin(r, o.p_dup_probe))
      t.val.push_back(t.val[irand(r, 0, p - 1)]);
    else
      t.val.push_back(probe_values(r, ns, o));
  }

  const std::string nl = coin(r, o.p_crlf) ? "\r\n" : "\n";
  const bool trail = coin(r, o.p_trail_tab);
  const bool extra = coin(r, o.p_extra);
  const bool skips = coin(r, o.p_skip_lines);
  const bool oddn = coin(r, o.p_odd_numbers);
  const bool no_final = coin(r, o.p_no_final_nl);

  std::string& s = t.text;
  int hf = irand(r, 0, 3);
  s += "id";
  for (int k = 0; k < hf; ++k) s += "\tcol" + std::to_string(k);
  s += nl;
  s += "label";
  for (int l : t.lab) s += "\t" + std::to_string(l);
  s += nl;
  for (int p = 0; p < np; ++p) {
    if (skips && coin(r, 0.4)) {
      // with CRLF ends only the empty line stays short (a lone carriage return)
      static const char* blank[] = {"", "x", " ", "\t"};
      s += blank[nl.size() == 1 ? irand(r, 0, 3) : 0];
      s += nl;
    }
    s += "g" + std::to_string(p);
    for (double x : t.val[p]) s += "\t" + (oddn && coin(r, 0.3) ? odd(x, r) : num(x));
    if (extra) {
      int k = irand(r, 1, 3);
      for (int e = 0; e < k; ++e) s += "\t" + num(irand(r, -100, 100) * 0.5);
    }
    if (trail) s += "\t";
    s += nl;
  }
  if (no_final && s.size() >= nl.size()) s.erase(s.size() - nl.size());
  return t;
}

// Write text to path as is (binary), replacing the file.
inline void write_file(const std::string& path, const std::string& text) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f << text;
  if (!f) throw std::runtime_error("cannot write " + path);
}

// Cluster numbers of a partition string (clusters in string order); empty for "N".
inline std::vector<int> cid_of(const std::string& d, int ns, int& n_cl) {
  n_cl = 0;
  std::vector<int> c(ns, -1);
  if (d == "N") return {};
  std::string num;
  for (size_t k = 0; k <= d.size(); ++k) {
    if (k < d.size() && d[k] >= '0' && d[k] <= '9') {
      num += d[k];
      continue;
    }
    c.at(std::stoi(num)) = n_cl;
    num.clear();
    if (k == d.size() || d[k] == '\t') ++n_cl;
  }
  return c;
}

}  // namespace gen
