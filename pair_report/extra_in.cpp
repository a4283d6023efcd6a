// Reading the gene names, and putting the records and the significance table
// (read by io/) together in page order.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <numeric>
#include <string_view>

#include "cli.h"
#include "line_src.h"
#include "rec_check.h"
#include "report.h"
#include "table.h"

namespace {

std::string_view unquote(std::string_view f) {
  if (f.size() >= 2 && f.front() == '"' && f.back() == '"') return f.substr(1, f.size() - 2);
  return f;
}

}  // namespace

annot read_annot(const char* path, const name_idx& idx) {
  line_src in(path);
  const std::string where(path);
  annot a;
  a.sym.assign(n_prob, std::string());
  a.desc.assign(n_prob, std::string());
  std::string line;
  std::vector<std::string_view> f;
  while (in.next(line)) {
    const long ln = in.line_no();
    drop_cr(line);
    if (line.empty()) continue;
    split_tabs(line, f);
    if (f.size() < 2 || f.size() > 3)
      throw syn_error(at_line(where, ln) + "line has " + std::to_string(f.size()) +
                      " fields, expected 2 or 3 (probe name, symbol, optional description; written from R "
                      "without row names?)");
    auto it = idx.find(std::string(unquote(f[0])));
    if (it == idx.end()) continue;  // another array's probe, or the header
    std::string_view sym = unquote(f[1]);
    if (sym.empty() || sym == "NA") continue;
    // every table row of that name gets it: records name probes by name
    for (int p = it->second; p < n_prob; ++p) {
      if (probe[p] != it->first) continue;
      std::string& s = a.sym[p];
      if (s.empty()) {
        s = std::string(sym);
      } else {
        // a probe of several genes: all its symbols, once each
        bool seen = false;
        for (size_t b = 0; b <= s.size();) {
          size_t e = s.find('/', b);
          if (e == std::string::npos) e = s.size();
          if (std::string_view(s).substr(b, e - b) == sym) seen = true;
          b = e + 1;
        }
        if (!seen) s += "/" + std::string(sym);
      }
      if (f.size() == 3 && a.desc[p].empty() && unquote(f[2]) != "NA") a.desc[p] = std::string(unquote(f[2]));
    }
  }
  return a;
}

std::string disp(const annot* an, int p, const std::string& name) {
  if (!an || p < 0 || p >= static_cast<int>(an->sym.size()) || an->sym[p].empty()) return name;
  return an->sym[p] + " (" + name + ")";
}

double binom_upper(long c, long n, double r) {
  if (c <= 0) return 1.0;
  if (c > n || r <= 0) return 0.0;
  if (r >= 1) return 1.0;
  // sum the pmf from c upward in log space; past the mode the terms fall
  // geometrically, so the sum stops once they no longer change it
  const double lr = std::log(r), lq = std::log1p(-r);
  auto lpmf = [&](long k) {
    return std::lgamma(n + 1.0) - std::lgamma(k + 1.0) - std::lgamma(static_cast<double>(n - k) + 1.0) + k * lr +
           static_cast<double>(n - k) * lq;
  };
  if (static_cast<double>(c) <= static_cast<double>(n) * r) {
    // at or below the mean: 1 minus the lower tail, summed the same way downward
    double s = 0;
    for (long k = c - 1; k >= 0; --k) {
      double t = std::exp(lpmf(k));
      s += t;
      if (t < s * 1e-17 && static_cast<double>(k) < static_cast<double>(n) * r) break;
    }
    return std::max(0.0, std::min(1.0, 1.0 - s));
  }
  double s = 0;
  for (long k = c; k <= n; ++k) {
    double t = std::exp(lpmf(k));
    s += t;
    if (t < s * 1e-17) break;
  }
  return std::min(1.0, s);
}

flip_test test_flips(const rec_sum& s) {
  flip_test t;
  const long n = static_cast<long>(s.syn.size());
  const size_t ns = s.n_flip.size();
  t.padj.assign(ns, 1.0);
  t.hot.assign(ns, 0);
  if (n == 0 || ns == 0) return t;
  long tot = 0;
  for (long c : s.n_flip) tot += c;
  t.rate = static_cast<double>(tot) / (static_cast<double>(n) * static_cast<double>(ns));
  for (size_t k = 0; k < ns; ++k) {
    const long c = s.n_flip[k];
    if (c == 0) continue;
    t.padj[k] = std::min(1.0, static_cast<double>(ns) * binom_upper(c, n, t.rate));
    t.hot[k] = t.padj[k] < FLIP_ALPHA && static_cast<double>(c) >= FLIP_FOLD * t.rate * static_cast<double>(n);
    t.n_hot += t.hot[k];
  }
  return t;
}

void load_report(const rep_opt& o, rep_data& d) {
  d.names = read_names(o.expr.c_str(), n_samp);
  d.rk = read_ranked(o.ranked.c_str(), o.bound);
  const name_idx idx = make_idx(probe);
  d.has_sig = !o.signif.empty();
  d.has_null = !o.null.empty();
  d.has_annot = !o.annot.empty();
  if (d.has_annot) d.an = read_annot(o.annot.c_str(), idx);
  if (d.has_null) d.nul = read_null(o.null.c_str());

  // with a significance table the top pairs are known before the records are read
  std::vector<size_t> sig_ord;
  std::unordered_map<uint64_t, size_t> want;  // pair_key -> place among the top pairs
  if (d.has_sig) {
    d.sig = read_signif(o.signif.c_str(), idx);
    const std::vector<sig_row>& sr = d.sig.rows;
    sig_ord.resize(sr.size());
    std::iota(sig_ord.begin(), sig_ord.end(), size_t(0));
    std::stable_sort(sig_ord.begin(), sig_ord.end(), [&](size_t x, size_t y) {
      if (sr[x].q != sr[y].q) return sr[x].q < sr[y].q;
      return sr[x].base > sr[y].base;
    });
    for (size_t k = 0; k < sig_ord.size() && k < static_cast<size_t>(o.top_n); ++k)
      want.emplace(pair_key(sr[sig_ord[k]].pa, sr[sig_ord[k]].pb), k);
  }

  rec_check chk(d.rk, o.ranked, o.bound, all_cores());
  rec_reader in(o.records.c_str(), 1, &chk);
  const std::string& where = o.records;
  rec_sum& s = d.rs;
  sum_init(s);
  std::vector<pair_rec> top(want.size());
  std::vector<char> got(d.sig.rows.size(), 0);
  std::vector<pair_row> rows;
  pair_rec r;
  while (in.next(r)) {
    const int64_t ln = r.line;
    const uint64_t key = pair_key(r.pa, r.pb);
    if (!s.seen.count(key)) {
      pair_row pr;
      pr.pa = r.pa;
      pr.pb = r.pb;
      pr.a = r.a;
      pr.b = r.b;
      pr.syn = r.syn;
      pr.syn_txt = r.syn_txt;
      pr.n_cl = r.n_cl;
      pr.fl = flipped(r);
      pr.line = r.line;
      if (d.has_sig) {
        auto it = d.sig.at.find(key);
        if (it == d.sig.at.end())
          throw syn_error(at_line(where, ln) + "pair " + show_field(r.a) + ", " + show_field(r.b) + " has no line in " + o.signif +
                          ": significance table made from other records?");
        const sig_row& sr = d.sig.rows[it->second];
        if (sr.fin_txt != r.syn_txt)
          throw syn_error(at_line(o.signif, sr.line) + "final synergy " + show_field(sr.fin_txt) + " of " + show_field(r.a) + ", " +
                          show_field(r.b) + " differs from " + show_field(r.syn_txt) + " in " + where + ":" +
                          std::to_string(ln) + ": significance table made from other records?");
        pr.sig = static_cast<long>(it->second);
        got[it->second] = 1;
        auto w = want.find(key);
        if (w != want.end()) top[w->second] = r;
      }
      rows.push_back(std::move(pr));
    }
    add_rec(s, std::move(r), d.has_sig ? 0 : o.top_n);
  }
  if (d.has_sig) {
    for (size_t k = 0; k < got.size(); ++k)
      if (!got[k])
        throw syn_error(at_line(o.signif, d.sig.rows[k].line) + "pair " + show_field(d.sig.rows[k].a) + ", " +
                        show_field(d.sig.rows[k].b) + " has no record in " + where +
                        ": significance table made from other records?");
    s.top = std::move(top);
    // page order: the table's order by q and base synergy
    std::vector<long> row_of(d.sig.rows.size());
    for (size_t k = 0; k < rows.size(); ++k) row_of[rows[k].sig] = static_cast<long>(k);
    d.all.reserve(rows.size());
    for (size_t k : sig_ord) d.all.push_back(std::move(rows[row_of[k]]));
  } else {
    std::stable_sort(rows.begin(), rows.end(), [](const pair_row& x, const pair_row& y) { return x.syn > y.syn; });
    d.all = std::move(rows);
  }
  // the partitions the page draws are checked whatever the sample
  for (const pair_rec& r : s.top) chk.check_part(r);
}
