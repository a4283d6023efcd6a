// Reading the header names and summing the pair records up.

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <unordered_map>

#include "line_src.h"
#include "report.h"
#include "sheet.h"


std::vector<std::string> read_names(const char* path, int n_samp_) {
  line_src in(path);
  std::string line;
  std::vector<std::string_view> f;
  in.next(line);
  if (!line.empty() && line.back() == '\r') line.pop_back();
  split_tabs(line, f);
  std::vector<std::string> names(n_samp_);
  for (int s = 0; s < n_samp_; ++s) {
    size_t k = samp_field.empty() ? static_cast<size_t>(s) + 1 : static_cast<size_t>(samp_field[s]);
    if (k < f.size() && !f[k].empty())
      names[s] = std::string(f[k]);
    else
      names[s] = "sample " + std::to_string(s);
  }
  return names;
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
  rec_reader in(path);
  rec_sum s;
  sum_init(s);
  pair_rec r;
  while (in.next(r)) add_rec(s, std::move(r), top_n);
  return s;
}
