// The significance table: writer and reader from one column table.
#include "sigtab.h"

#include <algorithm>
#include <cstdio>
#include <string_view>

#include "line_src.h"
#include "synergy.h"

namespace {

std::string num(const char* fmt, double v) {
  char b[64];
  std::snprintf(b, sizeof b, fmt, v);
  return b;
}

bool has_col(int c, bool with_null, bool with_src) {
  const char w = SIG_COLS[c].when;
  return w == 0 || (w == 's' && with_null) || (w == 't' && with_src);
}

// One cell of row r.
std::string cell(const sig_row& r, int c) {
  switch (c) {
    case SC_FIRST:
      return r.a;
    case SC_SECOND:
      return r.b;
    case SC_BASE:
      return score_text(r.base);
    case SC_FINAL:
      return r.fin_txt.empty() ? score_text(r.fin) : r.fin_txt;
    case SC_FLIPS:
      return std::to_string(r.flips);
    case SC_P:
      return num("%.6g", r.p);
    case SC_Q:
      return num("%.6g", r.q);
    case SC_P_SEARCH:
      return num("%.6g", r.ps);
    case SC_PERMS:
      return std::to_string(r.perms);
    case SC_ADM:
      return std::to_string(r.adm);
    case SC_HITS:
      return std::to_string(r.hits);
    case SC_P_SOURCE:
      return r.src;
    default:
      return num("%.3g", r.l2err);
  }
}

bool good_src(const std::string& s) { return s == "perm" || s == "tail" || s == "floor"; }

}  // namespace

std::vector<std::string> sig_names(bool with_null, bool with_src) {
  std::vector<std::string> v;
  for (int c = 0; c < SC_N; ++c)
    if (has_col(c, with_null, with_src)) v.push_back(SIG_COLS[c].name);
  return v;
}

std::string sig_head(bool with_null, bool with_src) { return head_line(sig_names(with_null, with_src)); }

std::string sig_cols_help() {
  std::string s;
  for (int c = 0; c < SC_N; ++c)
    s += std::string(c ? " " : "") + (SIG_COLS[c].when ? "[" : "") + SIG_COLS[c].name +
         (SIG_COLS[c].when ? "]" : "");
  return s;
}

uint64_t pair_key(int pa, int pb) {
  uint64_t lo = static_cast<uint64_t>(std::min(pa, pb)), hi = static_cast<uint64_t>(std::max(pa, pb));
  return lo << 32 | hi;
}

std::string sig_line(const sig_row& r, bool with_null, bool with_src) {
  std::string o;
  for (int c = 0; c < SC_N; ++c)
    if (has_col(c, with_null, with_src)) o += (c ? "\t" : "") + cell(r, c);
  return o + "\n";
}

std::string write_signif(const std::vector<sig_row>& rows, bool with_null, bool with_src, const prov& pv) {
  std::string out = prov_text(pv) + sig_head(with_null, with_src);
  for (size_t k = 0; k < rows.size(); ++k) {
    const sig_row& r = rows[k];
    const std::string row = "signif: row " + std::to_string(k + 1) + ": ";
    for (const std::string* n : {&r.a, &r.b}) {
      const std::string why = name_fault(*n);
      if (!why.empty()) throw syn_error(row + "probe " + show_field(*n) + ": " + why);
    }
    if (with_src && !good_src(r.src))
      throw syn_error(row + "p_source '" + r.src + "' is not perm, tail or floor");
    out += sig_line(r, with_null, with_src);
  }
  return out;
}

namespace {

// The header's columns by name: where each of SIG_COLS stands, or -1.
std::vector<int> head_cols(const std::string& line, const std::string& where, int64_t ln) {
  std::vector<std::string_view> f;
  split_tabs(line, f);
  std::vector<int> at(SC_N, -1);
  bool ok = true;
  for (size_t k = 0; k < f.size() && ok; ++k) {
    int c = 0;
    while (c < SC_N && f[k] != SIG_COLS[c].name) ++c;
    ok = c < SC_N && at[c] < 0;
    if (ok) at[c] = static_cast<int>(k);
  }
  for (int c = 0; c < SC_N && ok; ++c) ok = SIG_COLS[c].when || at[c] >= 0;
  if (ok && (at[SC_P_SOURCE] < 0) != (at[SC_P_LOG2ERR] < 0)) ok = false;
  if (!ok)
    throw syn_error(at_line(where, ln) +
                    "expected the header of a significance table (first, second, base, final, flips, "
                    "p, q, [p_search,] perms, admissible, hits[, p_source, p_log2err]), got " +
                    show_field(line));
  return at;
}

// The fields of one line after the names into r; throws naming the field at fault.
void take_row(const std::vector<std::string_view>& f, const std::vector<int>& at, const std::string& where,
              int64_t ln, sig_row& r) {
  auto bad = [&](int c, const char* what) {
    return syn_error(at_line(where, ln) + SIG_COLS[c].name + " " + show_field(f[at[c]]) + " is not " + what);
  };
  struct real_col {
    int c;
    double* v;
    std::string* txt;
    bool prob;
  };
  const real_col reals[] = {{SC_BASE, &r.base, &r.base_txt, false},
                            {SC_FINAL, &r.fin, &r.fin_txt, false},
                            {SC_P, &r.p, &r.p_txt, true},
                            {SC_Q, &r.q, &r.q_txt, true},
                            {SC_P_SEARCH, &r.ps, &r.ps_txt, true}};
  for (const real_col& x : reals) {
    if (at[x.c] < 0) continue;
    const std::string_view v = f[at[x.c]];
    if (!to_real(v, *x.v) || (x.prob && (*x.v < 0 || *x.v > 1)))
      throw bad(x.c, x.prob ? "a number from 0 to 1" : "a number");
    *x.txt = std::string(v);
  }
  const std::pair<int, long*> counts[] = {
      {SC_FLIPS, &r.flips}, {SC_PERMS, &r.perms}, {SC_ADM, &r.adm}, {SC_HITS, &r.hits}};
  for (const auto& x : counts)
    if (!to_long(f[at[x.first]], *x.second)) throw bad(x.first, "a whole number");
  if (at[SC_P_SOURCE] >= 0) {
    r.src = std::string(f[at[SC_P_SOURCE]]);
    if (!good_src(r.src)) throw bad(SC_P_SOURCE, "perm, tail or floor");
    if (!to_real(f[at[SC_P_LOG2ERR]], r.l2err) || r.l2err < 0)
      throw bad(SC_P_LOG2ERR, "a number of 0 or more");
    r.l2err_txt = std::string(f[at[SC_P_LOG2ERR]]);
  }
  if (r.adm > r.perms || r.hits > r.adm)
    throw syn_error(at_line(where, ln) + "counts out of order: expected hits <= admissible <= perms");
}

}  // namespace

sig_tab read_signif(const char* path, const name_idx* idx) {
  line_src in(path);
  const std::string where(path);
  sig_tab t;
  std::string line;
  bool got = false;
  while ((got = in.next(line)) && is_comment(line)) {
  }
  if (!got) throw syn_error(where + ": empty file: expected the header line of a significance table");
  drop_cr(line);
  const std::vector<int> at = head_cols(line, where, in.line_no());
  t.has_ps = at[SC_P_SEARCH] >= 0;
  t.has_src = at[SC_P_SOURCE] >= 0;
  const size_t nf = static_cast<size_t>(SC_N - std::count(at.begin(), at.end(), -1));
  std::vector<std::string_view> f;
  std::unordered_map<std::string, size_t> by_name;  // without a table: "a\tb" of the unordered pair -> row
  while (in.next(line)) {
    const int64_t ln = in.line_no();
    drop_cr(line);
    split_tabs(line, f);
    if (f.size() != nf)
      throw syn_error(at_line(where, ln) + "line has " + std::to_string(f.size()) + " fields, expected " +
                      std::to_string(nf) + " as the header says");
    sig_row r;
    r.line = ln;
    r.a = std::string(f[at[SC_FIRST]]);
    r.b = std::string(f[at[SC_SECOND]]);
    size_t before = 0;
    bool twice = false;
    if (idx) {
      for (int s = 0; s < 2; ++s) {
        auto it = idx->find(s ? r.b : r.a);
        if (it == idx->end())
          throw syn_error(at_line(where, ln) + "probe " + show_field(s ? r.b : r.a) + " is not in the table");
        (s ? r.pb : r.pa) = it->second;
      }
      take_row(f, at, where, ln, r);
      auto ins = t.at.emplace(pair_key(r.pa, r.pb), t.rows.size());
      twice = !ins.second, before = ins.first->second;
    } else {
      take_row(f, at, where, ln, r);
      auto ins = by_name.emplace(std::min(r.a, r.b) + "\t" + std::max(r.a, r.b), t.rows.size());
      twice = !ins.second, before = ins.first->second;
    }
    if (twice)
      throw syn_error(at_line(where, ln) + "pair " + show_field(r.a) + ", " + show_field(r.b) +
                      " is listed twice (also on line " + std::to_string(t.rows[before].line) + ")");
    t.rows.push_back(std::move(r));
  }
  return t;
}
