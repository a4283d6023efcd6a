// Reading the header names, the ranked probe list and the pair record file.

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <unordered_map>

#include "report.h"

namespace {

void split(std::string_view s, std::vector<std::string_view>& f) {
  f.clear();
  size_t b = 0;
  for (;;) {
    size_t t = s.find('\t', b);
    if (t == std::string_view::npos) {
      f.push_back(s.substr(b));
      return;
    }
    f.push_back(s.substr(b, t - b));
    b = t + 1;
  }
}

// A field quoted for a message: control characters shown as \xNN, long fields cut.
std::string show(std::string_view f) {
  std::string o = "'";
  size_t n = 0;
  for (unsigned char c : f) {
    if (++n > 40) {
      o += "...";
      break;
    }
    if (c < 0x20 || c == 0x7f) {
      static const char hx[] = "0123456789abcdef";
      o += "\\x";
      o += hx[c >> 4];
      o += hx[c & 15];
    } else {
      o += static_cast<char>(c);
    }
  }
  return o + "'";
}

// A whole field as a non-negative decimal int; false if it is anything else.
bool to_count(std::string_view f, int& v) {
  if (f.empty() || f.size() > 9) return false;
  long x = 0;
  for (char c : f) {
    if (c < '0' || c > '9') return false;
    x = x * 10 + (c - '0');
  }
  v = static_cast<int>(x);
  return true;
}

// A whole field as a finite double; false if it is anything else.
bool to_real(std::string_view f, double& v) {
  if (f.empty() || std::isspace(static_cast<unsigned char>(f[0]))) return false;
  std::string s(f);
  char* end = nullptr;
  v = std::strtod(s.c_str(), &end);
  return end == s.c_str() + s.size() && std::isfinite(v);
}

std::string at(const std::string& where, long line) { return where + ":" + std::to_string(line) + ": "; }

}  // namespace

name_idx make_idx() {
  name_idx idx;
  for (int p = 0; p < n_prob; ++p) idx.emplace(probe[p], p);
  return idx;
}

std::vector<std::string> read_names(const char* path, int n_samp_) {
  line_src in(path);
  std::string line;
  std::vector<std::string_view> f;
  in.next(line);
  if (!line.empty() && line.back() == '\r') line.pop_back();
  split(line, f);
  std::vector<std::string> names(n_samp_);
  for (int s = 0; s < n_samp_; ++s) {
    size_t k = static_cast<size_t>(s) + 1;
    if (k < f.size() && !f[k].empty())
      names[s] = std::string(f[k]);
    else
      names[s] = "sample " + std::to_string(s);
  }
  return names;
}

rl_info read_ranked(const char* path) {
  line_src in(path);
  const std::string where(path);
  rl_info rk;
  rk.pos.assign(n_prob, -1);
  std::string line;
  std::vector<std::string_view> f;
  bool lead = true;
  while (in.next(line)) {
    long ln = in.line_no();
    split(line, f);
    if (f.size() != 4)
      throw syn_error(at(where, ln) + "ranked list line has " + std::to_string(f.size()) +
                      " fields, expected 4 (probe name, probe number, score, cluster count)");
    rl_row r;
    if (!to_count(f[1], r.prb) || r.prb >= n_prob)
      throw syn_error(at(where, ln) + "probe number " + show(f[1]) + " is not a probe of the table (" +
                      (n_prob ? "0 to " + std::to_string(n_prob - 1) : std::string("it has none")) + ")");
    if (f[0] != probe[r.prb])
      throw syn_error(at(where, ln) + "probe " + std::to_string(r.prb) + " is named " + show(f[0]) +
                      " here but " + show(probe[r.prb]) + " in the table: list made from another table?");
    if (!to_real(f[2], r.score)) throw syn_error(at(where, ln) + "score " + show(f[2]) + " is not a number");
    if (!to_count(f[3], r.n_cl))
      throw syn_error(at(where, ln) + "cluster count " + show(f[3]) + " is not a whole number");
    if (rk.pos[r.prb] >= 0)
      throw syn_error(at(where, ln) + "probe " + show(f[0]) + " is listed twice (also on line " +
                      std::to_string(rk.pos[r.prb] + 1) + ")");
    r.name = probe[r.prb];
    rk.pos[r.prb] = static_cast<int>(rk.rows.size());
    // the search takes leading lines while their score stays above the bound
    if (lead && r.score > CAND_BOUND)
      ++rk.n_cand;
    else
      lead = false;
    if (r.score == NO_PART) ++rk.n_nopart;
    rk.rows.push_back(std::move(r));
  }
  return rk;
}

void parse_rec(const std::string& l1, const std::string* l2, const std::string& where, long line,
               const name_idx& idx, pair_rec& out) {
  const size_t want = static_cast<size_t>(n_samp) + 3;
  std::vector<std::string_view> f;
  f.reserve(want);
  split(l1, f);
  if (f.size() >= 3 && f[2] == "-9")
    throw syn_error(at(where, line) + "a partition line (\"-9\" in field 3) where a record's first line was expected");
  if (f.size() != want)
    throw syn_error(at(where, line) + "record has " + std::to_string(f.size()) + " fields, expected " +
                    std::to_string(want) + " (two probe names, the synergy, " + std::to_string(n_samp) +
                    " samples)");
  auto a = idx.find(std::string(f[0]));
  auto b = idx.find(std::string(f[1]));
  if (a == idx.end()) throw syn_error(at(where, line) + "probe " + show(f[0]) + " is not in the table");
  if (b == idx.end()) throw syn_error(at(where, line) + "probe " + show(f[1]) + " is not in the table");
  out.line = line;
  out.a = a->first;
  out.b = b->first;
  out.pa = a->second;
  out.pb = b->second;
  if (!to_real(f[2], out.syn)) throw syn_error(at(where, line) + "synergy " + show(f[2]) + " is not a number");
  out.syn_txt = std::string(f[2]);
  out.lab.resize(n_samp);
  for (int s = 0; s < n_samp; ++s) {
    std::string_view v = f[s + 3];
    if (v != "0" && v != "1")
      throw syn_error(at(where, line) + "label of sample " + std::to_string(s) + " is " + show(v) +
                      ", expected 0 or 1");
    out.lab[s] = v[0] - '0';
  }

  if (!l2) throw syn_error(at(where, line) + "file ends inside a record: its partition line is missing");
  split(*l2, f);
  const long ln2 = line + 1;
  if (f.size() < 3 || f[2] != "-9")
    throw syn_error(at(where, ln2) + "expected the partition line of the record begun on line " +
                    std::to_string(line) + " (\"-9\" in field 3)");
  if (f.size() != want)
    throw syn_error(at(where, ln2) + "record has " + std::to_string(f.size()) + " fields, expected " +
                    std::to_string(want) + " (two probe names, \"-9\", " + std::to_string(n_samp) + " samples)");
  if (f[0] != out.a || f[1] != out.b)
    throw syn_error(at(where, ln2) + "partition line names the pair " + show(f[0]) + ", " + show(f[1]) +
                    ", line " + std::to_string(line) + " names " + show(out.a) + ", " + show(out.b));
  out.cid.resize(n_samp);
  std::vector<char> used(n_samp, 0);
  out.n_cl = 0;
  for (int s = 0; s < n_samp; ++s) {
    int c = 0;
    if (!to_count(f[s + 3], c) || c >= n_samp)
      throw syn_error(at(where, ln2) + "cluster number of sample " + std::to_string(s) + " is " + show(f[s + 3]) +
                      ", expected 0 to " + std::to_string(n_samp - 1));
    out.cid[s] = c;
    if (!used[c]) {
      used[c] = 1;
      ++out.n_cl;
    }
  }
}

void sum_init(rec_sum& s) {
  s = rec_sum();
  s.n_flip.assign(n_samp, 0);
}

bool add_rec(rec_sum& s, pair_rec&& r, int top_n) {
  ++s.n_rec;
  uint64_t lo = static_cast<uint64_t>(std::min(r.pa, r.pb)), hi = static_cast<uint64_t>(std::max(r.pa, r.pb));
  if (!s.seen.insert(lo << 32 | hi).second) {
    ++s.n_dup;
    return false;
  }
  s.syn.push_back(r.syn);
  for (int k : flipped(r)) ++s.n_flip[k];
  if (top_n <= 0) return true;
  // after every kept pair of equal or higher synergy: ties stay in record order
  auto it = std::upper_bound(s.top.begin(), s.top.end(), r.syn,
                             [](double v, const pair_rec& t) { return v > t.syn; });
  if (it - s.top.begin() >= top_n) return true;
  s.top.insert(it, std::move(r));
  if (static_cast<int>(s.top.size()) > top_n) s.top.pop_back();
  return true;
}

std::vector<int> flipped(const pair_rec& r) {
  std::vector<int> v;
  for (int k = 0; k < static_cast<int>(r.lab.size()) && k < n_samp; ++k)
    if (r.lab[k] != phe[k]) v.push_back(k);
  return v;
}

std::vector<int> flip_rank(const rec_sum& s) {
  std::vector<int> v;
  for (int k = 0; k < static_cast<int>(s.n_flip.size()); ++k)
    if (s.n_flip[k] > 0) v.push_back(k);
  std::stable_sort(v.begin(), v.end(), [&](int x, int y) { return s.n_flip[x] > s.n_flip[y]; });
  return v;
}

rec_sum read_records(const char* path, int top_n) {
  line_src in(path);
  const std::string where(path);
  rec_sum s;
  sum_init(s);
  const name_idx idx = make_idx();
  std::string l1, l2;
  while (in.next(l1)) {
    long ln = in.line_no();
    bool has2 = in.next(l2);
    // every record line ends with a newline: a file without one at its end
    // was cut short (a killed run), and its last number may be cut too
    if (has2 && !in.had_nl())
      throw syn_error(where + ":" + std::to_string(in.line_no()) +
                      ": file ends inside a record line (cut short?): no newline at its end");
    pair_rec r;
    parse_rec(l1, has2 ? &l2 : nullptr, where, ln, idx, r);
    add_rec(s, std::move(r), top_n);
  }
  return s;
}
