// Sample distance matrices and the threshold-cut average-linkage clustering,
// in their plain step order over the shared state (dis, min_id, dndr).
#include <cmath>

#include "synergy.h"

namespace {

// Fill dis with dist(i, j) for every i < j, mirror it, and keep the closest
// pair in scan order; a NaN or a distance of BIG_DIS or more is never taken.
template <class Dist>
void build(Dist dist) {
  // n_samp^2 doubles: only the named routines need them, so the first build
  // allocates them, not the load
  if (dis.size() != static_cast<size_t>(n_samp)) dis.assign(n_samp, std::vector<double>(n_samp));
  double best = BIG_DIS;
  for (int i = 0; i < n_samp; ++i) dis[i][i] = 0.0;
  for (int i = 0; i < n_samp - 1; ++i)
    for (int j = i + 1; j < n_samp; ++j) {
      double d = dist(i, j);
      dis[i][j] = d;
      dis[j][i] = d;
      if (d < best) {
        best = d;
        min_id[0] = i;
        min_id[1] = j;
      }
    }
}

}  // namespace

void comp_sin_dis(int p) {
  const double* x = expr[p].data();
  build([x](int i, int j) { return std::fabs(x[i] - x[j]); });
}

void comp_eu_dis(int p, int q) {
  const double* x = expr[p].data();
  const double* y = expr[q].data();
  build([x, y](int i, int j) {
    double a = x[i] - x[j], b = y[i] - y[j];
    return std::sqrt(a * a + b * b);
  });
}

void comp_ch_dis(int p, int q) {
  const double* x = expr[p].data();
  const double* y = expr[q].data();
  build([x, y](int i, int j) {
    double a = std::fabs(x[i] - x[j]), b = std::fabs(y[i] - y[j]);
    return a > b ? a : b;
  });
}

void cluster() {
  int count = n_samp;
  std::vector<double> size(n_samp, 1.0);
  std::vector<std::string> mem(n_samp);
  for (int s = 0; s < n_samp; ++s) mem[s] = std::to_string(s);
  int lo = min_id[0], hi = min_id[1];
  bool stopped = false;
  while (count > 1) {
    double h = dis[lo][hi] / 2;
    // a merge exactly at the cut height still happens
    if (h > cut) {
      dndr = mem[0];
      for (int k = 1; k < count; ++k) {
        dndr += '\t';
        dndr += mem[k];
      }
      stopped = true;
      break;
    }
    double n_lo = size[lo], n_hi = size[hi];
    for (int k = 0; k < count; ++k) {
      if (k == lo || k == hi) continue;
      double d = (n_lo * dis[k][lo] + n_hi * dis[k][hi]) / (n_lo + n_hi);
      dis[k][lo] = d;
      dis[lo][k] = d;
    }
    mem[lo] += ',';
    mem[lo] += mem[hi];
    size[lo] = n_lo + n_hi;
    // drop cluster hi, shifting later clusters down; only the upper triangle is
    // read, and ascending j reads every value before it is overwritten
    for (int j = hi; j <= count - 2; ++j) {
      size[j] = size[j + 1];
      mem[j].swap(mem[j + 1]);
      for (int k = 0; k < hi; ++k) {
        dis[k][j] = dis[k][j + 1];
        dis[j][k] = dis[k][j];
      }
      for (int k = hi; k < j; ++k) {
        dis[k][j] = dis[k + 1][j + 1];
        dis[j][k] = dis[k][j];
      }
    }
    --count;
    // full rescan: strictly smaller wins, so ties go to the first pair in scan order
    double best = BIG_DIS;
    for (int q = 0; q < count; ++q)
      for (int r = q + 1; r < count; ++r)
        if (dis[q][r] < best) {
          best = dis[q][r];
          lo = q;
          hi = r;
        }
  }
  if (!stopped) dndr = "N";
}
