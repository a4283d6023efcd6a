// Reading a finished search back for the significance table, and writing it.
#include "sig.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <numeric>
#include <unordered_set>

#include "report.h"

namespace {

std::string at(const char* path, long line) { return std::string(path) + ":" + std::to_string(line) + ": "; }

std::string num(const char* fmt, double v) {
  char b[64];
  std::snprintf(b, sizeof b, fmt, v);
  return b;
}

// "NA" or a finite number, the whole field.
bool na_or_num(const std::string& f, double& v) {
  if (f == "NA") {
    v = std::nan("");
    return true;
  }
  if (f.empty() || f[0] == ' ' || f[0] == '\t') return false;
  char* e = nullptr;
  v = std::strtod(f.c_str(), &e);
  return *e == '\0' && std::isfinite(v);
}

}  // namespace

bool parse_u64(const char* s, uint64_t& v) {
  if (!*s) return false;
  uint64_t x = 0;
  for (const char* c = s; *c; ++c) {
    if (*c < '0' || *c > '9') return false;
    const uint64_t d = static_cast<uint64_t>(*c - '0');
    if (x > (UINT64_MAX - d) / 10) return false;
    x = x * 10 + d;
  }
  v = x;
  return true;
}

sig_in read_pairs(const char* path, int n_thr) {
  line_src in(path);
  const std::string where(path);
  const name_idx idx = make_idx();
  sig_in s;
  std::unordered_set<uint64_t> seen;
  // records are read in batches, parsed on n_thr threads and taken in file
  // order, so the first bad record in the file is the one reported
  const long batch = 4096;
  std::vector<std::string> l1(batch), l2(batch), err(batch);
  std::vector<char> has2(batch);
  std::vector<long> ln(batch);
  std::vector<pair_rec> rec(batch);
  bool more = true;
  while (more) {
    long nb = 0;
    while (nb < batch && (more = in.next(l1[nb]))) {
      ln[nb] = in.line_no();
      has2[nb] = in.next(l2[nb]);
      err[nb].clear();
      // every record line ends with a newline: without one the last number may be cut
      if (!in.had_nl()) {
        err[nb] = at(path, in.line_no()) + "file ends inside a record line (cut short?): no newline at its end";
        more = false;
        ++nb;
        break;
      }
      ++nb;
    }
    par_ordered(
        nb, n_thr, nb,
        [&](long i, int) {
          if (!err[i].empty()) return;
          try {
            parse_rec(l1[i], has2[i] ? &l2[i] : nullptr, where, ln[i], idx, rec[i]);
          } catch (const syn_error& e) {
            err[i] = e.what();
          }
        },
        [&](long i) {
          if (!err[i].empty()) throw syn_error(err[i]);
          const pair_rec& r = rec[i];
          ++s.n_rec;
          const uint64_t lo = static_cast<uint64_t>(std::min(r.pa, r.pb));
          const uint64_t hi = static_cast<uint64_t>(std::max(r.pa, r.pb));
          if (!seen.insert(lo << 32 | hi).second) return;
          sig_pair q;
          q.a = r.pa;
          q.b = r.pb;
          s.pr.push_back(q);
          s.fin_txt.push_back(r.syn_txt);
          s.fin.push_back(r.syn);
          int f = 0;
          for (int k = 0; k < n_samp; ++k) f += r.lab[k] != ini_phe[k];
          s.flips.push_back(f);
        });
  }
  return s;
}

int count_cand(const char* path, double bound) {
  rl_info rk = read_ranked(path);
  int n = 0;
  while (n < static_cast<int>(rk.rows.size()) && rk.rows[n].score > bound) ++n;
  return n;
}

std::vector<double> read_null(const char* path) {
  line_src in(path);
  std::vector<double> fin;
  std::string line;
  while (in.next(line)) {
    const long ln = in.line_no();
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (ln == 1 && line == "seed\tcandidates\tbest_base\tbest_final") continue;
    std::vector<std::string> f;
    size_t b = 0;
    for (size_t t; (t = line.find('\t', b)) != std::string::npos; b = t + 1) f.push_back(line.substr(b, t - b));
    f.push_back(line.substr(b));
    uint64_t seed = 0, cand = 0;
    double base = 0, best = 0;
    if (f.size() != 4)
      throw syn_error(at(path, ln) + "search-null line has " + std::to_string(f.size()) +
                      " fields, expected 4 (seed, candidates, best base, best final)");
    if (!parse_u64(f[0].c_str(), seed)) throw syn_error(at(path, ln) + "seed '" + f[0] + "' is not a whole number");
    if (!parse_u64(f[1].c_str(), cand))
      throw syn_error(at(path, ln) + "candidate count '" + f[1] + "' is not a whole number");
    if (!na_or_num(f[2], base) || !na_or_num(f[3], best) || std::isnan(base) != std::isnan(best))
      throw syn_error(at(path, ln) + "best base and best final must be two numbers or both NA");
    fin.push_back(best);
  }
  return fin;
}

std::string sig_table(const sig_in& in, const std::vector<double>* null_final) {
  const auto& pr = in.pr;
  const size_t m = pr.size();
  std::vector<double> p(m);
  for (size_t i = 0; i < m; ++i) p[i] = pr[i].p;
  const std::vector<double> q = bh_q(p);
  std::vector<size_t> ord(m);
  std::iota(ord.begin(), ord.end(), size_t{0});
  std::stable_sort(ord.begin(), ord.end(), [&](size_t x, size_t y) {
    if (pr[x].p != pr[y].p) return pr[x].p < pr[y].p;
    return pr[x].base > pr[y].base;
  });
  std::string out = "first\tsecond\tbase\tfinal\tflips\tp\tq\t";
  if (null_final) out += "p_search\t";
  out += "perms\tadmissible\thits\n";
  for (size_t i : ord) {
    const sig_pair& r = pr[i];
    out += probe[r.a] + '\t' + probe[r.b] + '\t' + num("%g", r.base) + '\t' + in.fin_txt[i] + '\t' +
           std::to_string(in.flips[i]) + '\t' + num("%.6g", r.p) + '\t' + num("%.6g", q[i]) + '\t';
    if (null_final) out += num("%.6g", p_search(in.fin[i], *null_final)) + '\t';
    out += std::to_string(r.perms) + '\t' + std::to_string(r.adm) + '\t' + std::to_string(r.hits) + '\n';
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
