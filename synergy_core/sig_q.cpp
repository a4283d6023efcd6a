// Statistics over a whole significance table: q-values and the search-level
// p (signif.h).
#include <algorithm>
#include <numeric>

#include "signif.h"

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
