// Partition entropy and synergy scores over the shared state.
#include <cmath>
#include <cstdio>

#include "synergy.h"

int score_chars(double x, char* buf) { return std::snprintf(buf, SCORE_CHARS, "%g", x); }

std::string score_text(double x) {
  char b[SCORE_CHARS];
  return std::string(b, static_cast<size_t>(score_chars(x, b)));
}

double mi(double x) {
  // an unordered comparison (NaN) takes the second branch
  double p = x > 0.5 ? x : 1 - x;
  if (p == 1.0) p = PURE_P;
  return (-p * std::log(p)) / LN2 - (std::log(1 - p) * (1 - p)) / LN2;
}

double synergic(const int* lab) {
  if (dndr.size() == 1) return NO_PART;
  std::string buf;
  double m = 0.0, s = 0.0, t = 0.0;
  int k = 0;
  auto member = [&]() {
    int i = std::stoi(buf);
    m += 1.0;
    s += static_cast<double>(lab[i]);
    s_cid[i] = k;
    buf.clear();
  };
  auto end_cluster = [&]() {
    t += mi(s / m) * m;
    m = 0.0;
    s = 0.0;
    ++k;
  };
  for (char c : dndr) {
    if (c >= '0' && c <= '9') {
      buf += c;
    } else if (c == ',') {
      member();
    } else {
      member();
      end_cluster();
    }
  }
  member();
  end_cluster();
  return t / n_samp;
}

double phe_synergic(const int* lab) {
  int ones = 0;
  for (int i = 0; i < n_samp; ++i) ones += lab[i];
  return mi(static_cast<double>(ones) / static_cast<double>(n_samp));
}

double call_sin_syn(int p, const int* lab) {
  comp_sin_dis(p);
  cluster();
  if (dndr == "N") return NO_PART;
  return synergic(lab);
}

double call_two_syn(int a, int b, const int* lab, int sel) {
  double s1 = call_sin_syn(a, lab);
  if (s1 == NO_PART) return NO_PART;
  double s2 = call_sin_syn(b, lab);
  if (s2 == NO_PART) return NO_PART;
  if (sel == 0)
    comp_ch_dis(a, b);
  else
    comp_eu_dis(a, b);
  cluster();
  if (dndr == "N") return NO_PART;
  double e = synergic(lab);
  double h = phe_synergic(lab);
  return ((s1 + s2) - e) - h;
}
