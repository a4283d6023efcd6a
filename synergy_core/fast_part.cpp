// Partition assembly of the fast path: one probe's samples split into
// groups, two probes' into cells (samples in one group of both), each group
// or cell clustered by the cheapest algorithm that gives the plain partition
// (fast_impl.h), and the clusters numbered by their smallest member.
#include <algorithm>
#include <cmath>

#include "fast_impl.h"
#include "synergy.h"

namespace {

// Samples further apart than this never end in one cluster. Each average-linkage
// update loses at most a few units in the last place, so averages of distances
// above 2*cut*(1 + 1e-7) stay above 2*cut for any table that fits in memory.
const double GRP_LIM = 2 * cut * (1 + 1e-7);

// Number the clusters by smallest member from w.rep.
void number(part& out, part_scr& w) {
  const int n = n_samp;
  out.cid.resize(n);
  int k = 0;
  for (int s = 0; s < n; ++s) {
    if (w.rep[s] == s) w.num[s] = k++;
    out.cid[s] = w.num[w.rep[s]];
  }
  // a single cluster, or fewer than two samples, is no partition
  out.n_cl = k >= 2 ? k : 0;
}

}  // namespace

work::work() : s(new fast_scr) {}
work::~work() = default;
work::work(work&&) noexcept = default;
work& work::operator=(work&&) noexcept = default;

void work_init(work& w) {
  const size_t n = static_cast<size_t>(n_samp);
  part_scr& z = w.s->pa;
  mat_scr& mx = w.s->mx;
  flip_scr& fl = w.s->fl;
  mx.sz.resize(n);
  z.gx.resize(n);
  z.gy.resize(n);
  mx.rmin.resize(n + 1);  // and the tree's key of no slot
  for (auto* v : {&mx.ramin, &mx.act, &mx.stale, &mx.pos, &mx.mnext, &mx.mtail}) v->assign(n, 0);
  for (auto* v : {&z.ord, &z.stamp, &z.slot, &z.rep, &z.num, &z.bya, &z.cell}) v->assign(n, 0);
  for (auto* v : {&z.off, &z.left, &z.at}) v->assign(n + 1, 0);
  z.vs.resize(n);
  fl.lab.resize(n);
  fl.fsc.resize(n);
  fl.fst.resize(n);
}

void sin_part(int p, work& w, part& out) {
  part_scr& z = w.s->pa;
  const int n = n_samp;
  const double* x = expr[p].data();
  out.grp.resize(n);
  out.n_grp = 0;
  if (n < 2) {
    out.cid.assign(n, 0);
    out.n_cl = 0;
    return;
  }
  // sort (value, sample) pairs in place of samples by value: no indirection
  std::pair<double, int>* vs = z.vs.data();
  for (int s = 0; s < n; ++s) vs[s] = {x[s], s};
  std::sort(vs, vs + n);
  // groups: runs of the sorted values with no gap above GRP_LIM, each
  // clustered as runs of its values (runs.cpp), or from its matrix where the
  // replays of gaps in doubt would cost more than w.run_cap of it
  int g = 0, n_left = 0;
  for (int a = 0, b; a < n; a = b, ++g) {
    b = a + 1;
    while (b < n && std::fabs(vs[b].first - vs[b - 1].first) <= GRP_LIM) ++b;
    for (int k = a; k < b; ++k) out.grp[vs[k].second] = g;
    const int m = b - a;
    z.left[g] = 0;
    if (m == 1) {
      z.rep[vs[a].second] = vs[a].second;
    } else if (run_grp(vs + a, m, w.run_cap, w.s->rn, z.rep.data())) {
      ++w.n_run;
    } else {
      ++w.n_mat;
      z.left[g] = m;  // left for its matrix
      n_left += m;
    }
  }
  out.n_grp = g;
  if (n_left > 0) {
    // the groups left, listed by sample, ascending within each
    int* off = z.off.data();
    int* ord = z.ord.data();
    for (int k = 0, at = 0; k < g; ++k) {
      off[k] = at;
      at += z.left[k];
    }
    for (int s = 0; s < n; ++s)
      if (z.left[out.grp[s]] > 0) ord[off[out.grp[s]]++] = s;
    for (int k = 0, at = 0; k < g; ++k) {
      if (z.left[k] == 0) continue;
      mat_abs(ord + at, z.left[k], x, w.s->mx, z.rep.data());
      at += z.left[k];
    }
  }
  number(out, z);
}

void two_part(int a, int b, int sel, const part& pa, const part& pb, work& w, part& out) {
  part_scr& z = w.s->pa;
  const int n = n_samp;
  out.grp.clear();
  out.n_grp = 0;
  if (n < 2 || pa.n_grp == 0 || pb.n_grp == 0) {
    out.cid.assign(n, 0);
    out.n_cl = 0;
    return;
  }
  // cells: samples in one group of both probes. Samples in different groups of
  // either probe are further apart than GRP_LIM in the plane too.
  int* cnt = z.at.data();
  std::fill(cnt, cnt + pa.n_grp + 1, 0);
  for (int s = 0; s < n; ++s) ++cnt[pa.grp[s] + 1];
  for (int k = 0; k < pa.n_grp; ++k) cnt[k + 1] += cnt[k];
  int* bya = z.bya.data();  // samples by group of a, ascending within each
  for (int s = 0; s < n; ++s) bya[cnt[pa.grp[s]]++] = s;
  // cnt[k] is now the end of group k of a
  int* cell = z.cell.data();  // cell of each sample
  int n_cell = 0, from = 0;
  for (int ga = 0; ga < pa.n_grp; ++ga) {
    int to = cnt[ga];
    for (int k = from; k < to; ++k) {
      int gb = pb.grp[bya[k]];
      if (!z.stamp[gb]) {
        z.stamp[gb] = 1;
        z.slot[gb] = n_cell++;
      }
      cell[bya[k]] = z.slot[gb];
    }
    // stamps of this a-group must not leak into the next one
    for (int k = from; k < to; ++k) z.stamp[pb.grp[bya[k]]] = 0;
    from = to;
  }
  std::fill(z.off.begin(), z.off.begin() + n_cell + 1, 0);
  for (int s = 0; s < n; ++s) ++z.off[cell[s] + 1];
  for (int k = 0; k < n_cell; ++k) z.off[k + 1] += z.off[k];
  for (int k = 0; k < n_cell; ++k) cnt[k] = z.off[k];
  for (int s = 0; s < n; ++s) z.ord[cnt[cell[s]]++] = s;
  const double* x = expr[a].data();
  const double* y = expr[b].data();
  for (int g = 0; g < n_cell; ++g) {
    const int* smp = z.ord.data() + z.off[g];
    const int m = z.off[g + 1] - z.off[g];
    if (sel == 0 && (m >= ROW_MIN || m >= w.bnd_min)) {
      // the coordinates of the group in slot order, for whole rows at once
      double* gx = z.gx.data();
      double* gy = z.gy.data();
      for (int k = 0; k < m; ++k) {
        gx[k] = x[smp[k]];
        gy[k] = y[smp[k]];
      }
      if (m >= w.bnd_min && bnd_grp(smp, m, gx, gy, w.s->bd, z.rep.data())) continue;
      mat_cheb_rows(smp, m, gx, gy, w.s->mx, z.rep.data());
    } else if (sel == 0)
      mat_cheb(smp, m, x, y, w.s->mx, z.rep.data());
    else
      mat_eucl(smp, m, x, y, w.s->mx, z.rep.data());
  }
  number(out, z);
}
