// Probe ranking: score every probe alone, sort, and give the list's text.
#include "rank.h"

#include <algorithm>
#include <cstdio>

#include "fast.h"
#include "par.h"
#include "ranked.h"
#include "synergy.h"

int max_cid() {
  int m = 0;
  for (int i = 0; i < n_samp; ++i)
    if (s_cid[i] > m) m = s_cid[i];
  return m;
}

std::vector<rank_row> rank_probes(int n_thr, const std::function<void(long)>& tick) {
  int nt = std::max(1, n_thr);
  // one cache-line-aligned scratch per thread, so threads never share a line
  struct alignas(64) scratch {
    work w;
    part pt;
  };
  std::vector<scratch> ws(nt);
  for (scratch& s : ws) work_init(s.w);
  std::vector<rank_row> rows(n_prob);
  par_ordered(
      n_prob, nt, 64L * nt,
      [&](long i, int tid) {
        part& pt = ws[tid].pt;
        sin_part(static_cast<int>(i), ws[tid].w, pt);
        rank_row& r = rows[i];
        r.p = static_cast<int>(i);
        if (pt.n_cl == 0) {
          // all samples merged into one cluster
          r.score = NO_PART;
          r.n_cl = 1;
        } else {
          r.score = part_ent(pt, ini_phe.data(), ws[tid].w);
          r.n_cl = pt.n_cl;
        }
      },
      [&](long i) {
        if (tick) tick(i + 1);
      });
  // Descending by the full score; equal scores keep file order, which puts the
  // no-partition probes last. Scores are finite: check_exp rejects what is not.
  std::stable_sort(rows.begin(), rows.end(),
                   [](const rank_row& a, const rank_row& b) { return a.score > b.score; });
  return rows;
}

std::string rank_text(const std::vector<rank_row>& rows) {
  std::string out;
  for (const rank_row& r : rows) ranked_line(out, probe[r.p], r.p, r.score, r.n_cl);
  return out;
}
