// Reading a finished search back for the significance table, and writing it.
#include "sig.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <numeric>
#include <unordered_set>

#include "inputs.h"
#include "line_src.h"

namespace {

std::string num(const char* fmt, double v) {
  char b[64];
  std::snprintf(b, sizeof b, fmt, v);
  return b;
}

}  // namespace

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

std::string sig_head(bool with_null, bool with_src) {
  return std::string("first\tsecond\tbase\tfinal\tflips\tp\tq\t") + (with_null ? "p_search\t" : "") +
         "perms\tadmissible\thits" + (with_src ? "\tp_source\tp_log2err" : "") + "\n";
}

std::string sig_src_cols(int src, double l2err) {
  return std::string("\t") + SIG_SRC_NAME[src] + '\t' + num("%.3g", l2err);
}

std::string sig_cols(double base, const std::string& fin, int flips, double p, double q) {
  return num("%g", base) + '\t' + fin + '\t' + std::to_string(flips) + '\t' + num("%.6g", p) + '\t' +
         num("%.6g", q) + '\t';
}

std::string sig_table(const sig_in& in, const std::vector<double>* null_final, bool with_src) {
  const auto& pr = in.pr;
  std::vector<size_t> ord;
  std::vector<double> q;
  sig_rank(in, ord, q);
  std::string out = sig_head(null_final != nullptr, with_src);
  for (size_t i : ord) {
    const sig_pair& r = pr[i];
    out += probe[r.a] + '\t' + probe[r.b] + '\t' + sig_cols(r.base, in.fin_txt[i], in.flips[i], r.p, q[i]);
    if (null_final) out += num("%.6g", p_search(in.fin[i], *null_final)) + '\t';
    out += std::to_string(r.perms) + '\t' + std::to_string(r.adm) + '\t' + std::to_string(r.hits);
    if (with_src) out += sig_src_cols(r.src, r.l2err);
    out += '\n';
  }
  return out;
}

std::string null_line(uint64_t seed, int n_cand, const sig_in& in) {
  std::string out = std::to_string(seed) + '\t' + std::to_string(n_cand) + '\t';
  if (in.pr.empty()) return out + "NA\tNA\n";
  double bb = in.pr[0].base, bf = in.fin[0];
  for (size_t i = 1; i < in.pr.size(); ++i) {
    bb = std::max(bb, in.pr[i].base);
    bf = std::max(bf, in.fin[i]);
  }
  return out + num("%g", bb) + '\t' + num("%g", bf) + '\n';
}
