// Reading a finished search back for the significance table, and writing it.
#include "sig.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <numeric>
#include <unordered_set>

#include "null_file.h"
#include "ranked.h"
#include "records.h"

sig_in read_pairs(const char* path, int n_thr, rec_check* chk) {
  rec_reader in(path, n_thr, chk);
  sig_in s;
  std::unordered_set<uint64_t> seen;
  pair_rec r;
  while (in.next(r)) {
    ++s.n_rec;
    const uint64_t lo = static_cast<uint64_t>(std::min(r.pa, r.pb));
    const uint64_t hi = static_cast<uint64_t>(std::max(r.pa, r.pb));
    if (!seen.insert(lo << 32 | hi).second) continue;  // a mirror or a repeat: the first record stands
    sig_pair q;
    q.a = r.pa;
    q.b = r.pb;
    s.pr.push_back(q);
    s.fin_txt.push_back(r.syn_txt);
    s.fin.push_back(r.syn);
    int f = 0;
    for (int k = 0; k < n_samp; ++k) f += r.lab[k] != ini_phe[k];
    s.flips.push_back(f);
  }
  return s;
}

int count_cand(const char* path, double bound) { return read_ranked(path, bound).n_cand; }

std::vector<double> null_finals(const char* path) {
  const null_tab t = read_null(path);
  std::vector<double> fin = t.best_fin;
  fin.insert(fin.end(), static_cast<size_t>(t.n_na), std::nan(""));  // a search without records never counts
  return fin;
}

void sig_rank(const sig_in& in, std::vector<size_t>& ord, std::vector<double>& q) {
  const auto& pr = in.pr;
  const size_t m = pr.size();
  std::vector<double> p(m);
  for (size_t i = 0; i < m; ++i) p[i] = pr[i].p;
  q = bh_q(p);
  ord.resize(m);
  std::iota(ord.begin(), ord.end(), size_t{0});
  std::stable_sort(ord.begin(), ord.end(), [&](size_t x, size_t y) {
    if (pr[x].p != pr[y].p) return pr[x].p < pr[y].p;
    return pr[x].base > pr[y].base;
  });
}

std::string sig_table(const sig_in& in, const std::vector<double>* null_final, bool with_src, const prov& pv) {
  std::vector<size_t> ord;
  std::vector<double> q;
  sig_rank(in, ord, q);
  std::vector<sig_row> rows(ord.size());
  for (size_t k = 0; k < ord.size(); ++k) {
    const size_t i = ord[k];
    const sig_pair& r = in.pr[i];
    sig_row& o = rows[k];
    o.a = probe[r.a];
    o.b = probe[r.b];
    o.base = r.base;
    o.fin_txt = in.fin_txt[i];
    o.flips = in.flips[i];
    o.p = r.p;
    o.q = q[i];
    if (null_final) o.ps = p_search(in.fin[i], *null_final);
    o.perms = static_cast<long>(r.perms);
    o.adm = static_cast<long>(r.adm);
    o.hits = static_cast<long>(r.hits);
    o.src = SIG_SRC_NAME[r.src];
    o.l2err = r.l2err;
  }
  return write_signif(rows, null_final != nullptr, with_src, pv);
}

std::string null_line(uint64_t seed, int n_cand, const sig_in& in) {
  if (in.pr.empty()) return null_text(seed, n_cand, false, 0, 0);
  double bb = in.pr[0].base, bf = in.fin[0];
  for (size_t i = 1; i < in.pr.size(); ++i) {
    bb = std::max(bb, in.pr[i].base);
    bf = std::max(bf, in.fin[i]);
  }
  return null_text(seed, n_cand, true, bb, bf);
}
