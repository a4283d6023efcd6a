// The ranked-list and record-file readers every program shares.
#include "inputs.h"

#include <algorithm>
#include <cmath>
#include <string_view>
#include <unordered_map>

#include "line_src.h"
#include "par.h"
#include "rec_check.h"

void split_tabs(std::string_view s, std::vector<std::string_view>& f) {
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

namespace {

void drop_cr(std::string& line) {
  if (!line.empty() && line.back() == '\r') line.pop_back();
}

// A whole field as a non-negative decimal int; false if it is anything else.
bool to_count(std::string_view f, int& v) {
  int64_t x = 0;
  if (!count_field(f, false, INT32_MAX, x)) return false;
  v = static_cast<int>(x);
  return true;
}

// A whole field as a finite double, no blanks around it; false if it is anything else.
bool to_real(std::string_view f, double& v) {
  if (f.empty() || f.front() == ' ' || f.back() == ' ') return false;
  return num_field(f, false, v) == num_kind::ok && std::isfinite(v);
}

std::string at(const std::string& where, int64_t line) { return where + ":" + std::to_string(line) + ": "; }

}  // namespace

rl_info read_ranked(const char* path, double bound, bool table) {
  line_src in(path);
  const std::string where(path);
  rl_info rk;
  if (table) rk.pos.assign(n_prob, -1);
  std::unordered_map<int, int64_t> seen;  // without a table: probe number -> line
  std::string line;
  std::vector<std::string_view> f;
  bool lead = true;
  while (in.next(line)) {
    const int64_t ln = in.line_no();
    drop_cr(line);
    split_tabs(line, f);
    if (!in.had_nl() && f.size() < 4)
      throw syn_error(at(where, ln) + "list ends inside a line (cut short?): " + std::to_string(f.size()) +
                      " fields and no newline at its end");
    if (f.size() != 4)
      throw syn_error(at(where, ln) + "ranked list line has " + std::to_string(f.size()) +
                      " fields, expected 4 (probe name, probe number, score, cluster count)");
    rl_row r;
    if (!to_count(f[1], r.prb) || (table && r.prb >= n_prob))
      throw syn_error(at(where, ln) + "probe number " + show_field(f[1]) +
                      (table ? " is not a probe of the table (" +
                                   (n_prob ? "0 to " + std::to_string(n_prob - 1) : std::string("it has none")) + ")"
                             : std::string(" is not a whole number")));
    if (table && f[0] != probe[r.prb])
      throw syn_error(at(where, ln) + "probe " + std::to_string(r.prb) + " is named " + show_field(f[0]) +
                      " here but " + show_field(probe[r.prb]) + " in the table: list made from another table?");
    double v = 0.0;
    if (num_field(f[2], false, v) == num_kind::ok && std::isnan(v))
      throw syn_error(at(where, ln) + "score " + show_field(f[2]) + " is not a number (NaN)");
    if (!to_real(f[2], r.score)) throw syn_error(at(where, ln) + "score " + show_field(f[2]) + " is not a number");
    if (!to_count(f[3], r.n_cl))
      throw syn_error(at(where, ln) + "cluster count " + show_field(f[3]) + " is not a whole number");
    int64_t before = -1;
    if (table) {
      if (rk.pos[r.prb] >= 0) before = rk.pos[r.prb] + 1;
    } else {
      auto it = seen.emplace(r.prb, ln);
      if (!it.second) before = it.first->second;
    }
    if (before >= 0)
      throw syn_error(at(where, ln) + "probe " + show_field(f[0]) + " is listed twice (also on line " +
                      std::to_string(before) + ")");
    r.name = std::string(f[0]);
    if (table) rk.pos[r.prb] = static_cast<int>(rk.rows.size());
    // the search takes leading lines while their score stays above the bound
    if (lead && r.score > bound)
      ++rk.n_cand;
    else
      lead = false;
    if (r.score == NO_PART) ++rk.n_nopart;
    rk.rows.push_back(std::move(r));
  }
  return rk;
}

std::vector<int> cand_of(const rl_info& rk) {
  std::vector<int> c;
  c.reserve(rk.n_cand);
  for (int k = 0; k < rk.n_cand; ++k) c.push_back(rk.rows[k].prb);
  return c;
}

name_idx make_idx() {
  name_idx idx;
  for (int p = 0; p < n_prob; ++p) idx.emplace(probe[p], p);
  return idx;
}

void parse_rec(const std::string& l1, const std::string* l2, const std::string& where, int64_t line,
               const name_idx& idx, pair_rec& out) {
  const size_t want = static_cast<size_t>(n_samp) + 3;
  std::vector<std::string_view> f;
  f.reserve(want);
  split_tabs(l1, f);
  if (f.size() >= 3 && f[2] == "-9")
    throw syn_error(at(where, line) + "a partition line (\"-9\" in field 3) where a record's first line was expected");
  if (f.size() != want)
    throw syn_error(at(where, line) + "record has " + std::to_string(f.size()) + " fields, expected " +
                    std::to_string(want) + " (two probe names, the synergy, " + std::to_string(n_samp) +
                    " samples)");
  auto a = idx.find(std::string(f[0]));
  auto b = idx.find(std::string(f[1]));
  if (a == idx.end()) throw syn_error(at(where, line) + "probe " + show_field(f[0]) + " is not in the table");
  if (b == idx.end()) throw syn_error(at(where, line) + "probe " + show_field(f[1]) + " is not in the table");
  out.line = line;
  out.a = a->first;
  out.b = b->first;
  out.pa = a->second;
  out.pb = b->second;
  if (!to_real(f[2], out.syn)) throw syn_error(at(where, line) + "synergy " + show_field(f[2]) + " is not a number");
  out.syn_txt = std::string(f[2]);
  out.lab.resize(n_samp);
  for (int s = 0; s < n_samp; ++s) {
    std::string_view v = f[s + 3];
    if (v != "0" && v != "1")
      throw syn_error(at(where, line) + "label of sample " + std::to_string(s) + " is " + show_field(v) +
                      ", expected 0 or 1");
    out.lab[s] = v[0] - '0';
  }

  if (!l2) throw syn_error(at(where, line) + "file ends inside a record: its partition line is missing");
  split_tabs(*l2, f);
  const int64_t ln2 = line + 1;
  if (f.size() < 3 || f[2] != "-9")
    throw syn_error(at(where, ln2) + "expected the partition line of the record begun on line " +
                    std::to_string(line) + " (\"-9\" in field 3)");
  if (f.size() != want)
    throw syn_error(at(where, ln2) + "record has " + std::to_string(f.size()) + " fields, expected " +
                    std::to_string(want) + " (two probe names, \"-9\", " + std::to_string(n_samp) + " samples)");
  if (f[0] != out.a || f[1] != out.b)
    throw syn_error(at(where, ln2) + "partition line names the pair " + show_field(f[0]) + ", " + show_field(f[1]) +
                    ", line " + std::to_string(line) + " names " + show_field(out.a) + ", " + show_field(out.b));
  out.cid.resize(n_samp);
  std::vector<char> used(n_samp, 0);
  out.n_cl = 0;
  for (int s = 0; s < n_samp; ++s) {
    int c = 0;
    if (!to_count(f[s + 3], c) || c >= n_samp)
      throw syn_error(at(where, ln2) + "cluster number of sample " + std::to_string(s) + " is " +
                      show_field(f[s + 3]) + ", expected 0 to " + std::to_string(n_samp - 1));
    out.cid[s] = c;
    if (!used[c]) {
      used[c] = 1;
      ++out.n_cl;
    }
  }
}

rec_reader::rec_reader(const char* path, int n_thr, rec_check* chk)
    : in_(std::make_unique<line_src>(path)), where_(path), idx_(make_idx()), n_thr_(n_thr < 1 ? 1 : n_thr), chk_(chk) {}

rec_reader::~rec_reader() = default;

// Read the lines of up to one batch of records in file order, then parse them
// on n_thr threads; a failure stays with its record, so next() reports the
// first bad record of the file whatever the thread count.
bool rec_reader::fill() {
  const size_t batch = n_thr_ == 1 ? 1 : 4096;
  if (l1_.size() < batch) {
    l1_.resize(batch);
    l2_.resize(batch);
    has2_.resize(batch);
    line_.resize(batch);
    err_.resize(batch);
    buf_.resize(batch);
  }
  at_ = n_ = 0;
  while (!done_ && n_ < batch) {
    const size_t k = n_;
    if (!in_->next(l1_[k])) {
      done_ = true;
      break;
    }
    line_[k] = in_->line_no();
    has2_[k] = in_->next(l2_[k]);
    err_[k].clear();
    ++n_;
    // every record line ends with a newline: a file without one at its end
    // was cut short (a killed run), and its last number may be cut too
    if (has2_[k] && !in_->had_nl()) {
      err_[k] = where_ + ":" + std::to_string(in_->line_no()) +
                ": file ends inside a record line (cut short?): no newline at its end";
      done_ = true;
    }
  }
  auto parse = [this](long k, int) {
    if (!err_[k].empty()) return;
    try {
      drop_cr(l1_[k]);
      if (has2_[k]) drop_cr(l2_[k]);
      parse_rec(l1_[k], has2_[k] ? &l2_[k] : nullptr, where_, line_[k], idx_, buf_[k]);
    } catch (const syn_error& e) {
      err_[k] = e.what();
    }
  };
  if (n_thr_ == 1 || n_ < 2)
    for (size_t k = 0; k < n_; ++k) parse(static_cast<long>(k), 0);
  else
    par_ordered(static_cast<long>(n_), n_thr_, static_cast<long>(n_), parse, [](long) {});
  return n_ > 0;
}

bool rec_reader::next(pair_rec& r) {
  if (at_ == n_ && !fill()) {
    if (chk_) {
      rec_check* c = chk_;
      chk_ = nullptr;
      c->finish();
    }
    return false;
  }
  const size_t k = at_++;
  if (!err_[k].empty()) {
    n_ = at_;  // nothing after a bad record is handed out
    done_ = true;
    throw syn_error(err_[k]);
  }
  r = std::move(buf_[k]);
  if (chk_) chk_->add(r, where_);
  return true;
}

null_tab read_null(const char* path) {
  line_src in(path);
  const std::string where(path);
  null_tab t;
  std::string line;
  std::vector<std::string_view> f;
  std::unordered_map<std::string, int64_t> seeds;  // seed without leading zeros -> line
  while (in.next(line)) {
    const int64_t ln = in.line_no();
    drop_cr(line);
    if (ln == 1 && line == "seed\tcandidates\tbest_base\tbest_final") continue;
    split_tabs(line, f);
    if (f.size() != 4)
      throw syn_error(at(where, ln) + "line has " + std::to_string(f.size()) +
                      " fields, expected 4 (seed, candidates, best base synergy, best final synergy)");
    int64_t v = 0;
    bool seed_ok = !f[0].empty() && f[0].size() <= 20 &&
                   std::all_of(f[0].begin(), f[0].end(), [](char c) { return c >= '0' && c <= '9'; });
    if (!seed_ok) throw syn_error(at(where, ln) + "seed " + show_field(f[0]) + " is not a whole number");
    std::string_view sd = f[0].substr(std::min(f[0].find_first_not_of('0'), f[0].size() - 1));
    auto again = seeds.emplace(std::string(sd), ln);
    if (!again.second)
      throw syn_error(at(where, ln) + "seed " + show_field(f[0]) + " is also on line " +
                      std::to_string(again.first->second) + ": each shuffled-label search counts once");
    if (!count_field(f[1], false, INT32_MAX, v))
      throw syn_error(at(where, ln) + "candidate count " + show_field(f[1]) + " is not a whole number");
    ++t.n;
    if (f[2] == "NA" && f[3] == "NA") {
      ++t.n_na;
      continue;
    }
    double b = 0, x = 0;
    if (num_field(f[2], false, b) != num_kind::ok || num_field(f[3], false, x) != num_kind::ok || !std::isfinite(b) ||
        !std::isfinite(x))
      throw syn_error(at(where, ln) + "best synergies " + show_field(f[2]) + ", " + show_field(f[3]) +
                      " are not two numbers (or NA for both)");
    t.best_fin.push_back(x);
  }
  if (t.n == 0)
    throw syn_error(where + ": no search line: a search-null file needs at least one line (seed, candidates, best "
                            "base synergy, best final synergy)");
  return t;
}
