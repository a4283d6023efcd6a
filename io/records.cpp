// The pair record file: reader and writer.
#include "records.h"

#include "line_src.h"
#include "par.h"
#include "rec_check.h"
#include "synergy.h"
#include "table.h"

name_idx make_idx(const std::vector<std::string>& names) {
  name_idx idx;
  for (size_t p = 0; p < names.size(); ++p) idx.emplace(names[p], static_cast<int>(p));
  return idx;
}

void parse_rec(const std::string& l1, const std::string* l2, const std::string& where, int64_t line,
               const name_idx& idx, pair_rec& out) {
  const size_t want = static_cast<size_t>(n_samp) + 3;
  std::vector<std::string_view> f;
  f.reserve(want);
  split_tabs(l1, f);
  if (f.size() >= 3 && f[2] == "-9")
    throw syn_error(at_line(where, line) +
                    "a partition line (\"-9\" in field 3) where a record's first line was expected");
  if (f.size() != want)
    throw syn_error(at_line(where, line) + "record has " + std::to_string(f.size()) + " fields, expected " +
                    std::to_string(want) + " (two probe names, the synergy, " + std::to_string(n_samp) +
                    " samples)");
  auto a = idx.find(std::string(f[0]));
  auto b = idx.find(std::string(f[1]));
  if (a == idx.end())
    throw syn_error(at_line(where, line) + "probe " + show_field(f[0]) + " is not in the table");
  if (b == idx.end())
    throw syn_error(at_line(where, line) + "probe " + show_field(f[1]) + " is not in the table");
  out.line = line;
  out.a = a->first;
  out.b = b->first;
  out.pa = a->second;
  out.pb = b->second;
  if (!to_real(f[2], out.syn))
    throw syn_error(at_line(where, line) + "synergy " + show_field(f[2]) + " is not a number");
  out.syn_txt = std::string(f[2]);
  out.lab.resize(n_samp);
  for (int s = 0; s < n_samp; ++s) {
    std::string_view v = f[s + 3];
    if (v != "0" && v != "1")
      throw syn_error(at_line(where, line) + "label of sample " + std::to_string(s) + " is " + show_field(v) +
                      ", expected 0 or 1");
    out.lab[s] = v[0] - '0';
  }

  if (!l2) throw syn_error(at_line(where, line) + "file ends inside a record: its partition line is missing");
  split_tabs(*l2, f);
  const int64_t ln2 = line + 1;
  if (f.size() < 3 || f[2] != "-9")
    throw syn_error(at_line(where, ln2) + "expected the partition line of the record begun on line " +
                    std::to_string(line) + " (\"-9\" in field 3)");
  if (f.size() != want)
    throw syn_error(at_line(where, ln2) + "record has " + std::to_string(f.size()) + " fields, expected " +
                    std::to_string(want) + " (two probe names, \"-9\", " + std::to_string(n_samp) +
                    " samples)");
  if (f[0] != out.a || f[1] != out.b)
    throw syn_error(at_line(where, ln2) + "partition line names the pair " + show_field(f[0]) + ", " +
                    show_field(f[1]) + ", line " + std::to_string(line) + " names " + show_field(out.a) +
                    ", " + show_field(out.b));
  out.cid.resize(n_samp);
  std::vector<char> used(n_samp, 0);
  out.n_cl = 0;
  for (int s = 0; s < n_samp; ++s) {
    int c = 0;
    if (!to_count(f[s + 3], c) || c >= n_samp)
      throw syn_error(at_line(where, ln2) + "cluster number of sample " + std::to_string(s) + " is " +
                      show_field(f[s + 3]) + ", expected 0 to " + std::to_string(n_samp - 1));
    out.cid[s] = c;
    if (!used[c]) {
      used[c] = 1;
      ++out.n_cl;
    }
  }
}

rec_reader::rec_reader(const char* path, int n_thr, rec_check* chk)
    : in_(std::make_unique<line_src>(path)),
      where_(path),
      idx_(make_idx(probe)),
      n_thr_(n_thr < 1 ? 1 : n_thr),
      chk_(chk) {}

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

std::vector<pair_rec> load_records(const char* path, int n_thr) {
  rec_reader in(path, n_thr);
  std::vector<pair_rec> v;
  pair_rec r;
  while (in.next(r)) v.push_back(std::move(r));
  return v;
}

void record_text(std::string& out, std::string_view a, std::string_view b, double syn, const int* lab,
                 const int* cid, int n) {
  char num[SCORE_CHARS];
  const size_t head = a.size() + b.size() + 2;
  out.reserve(out.size() + 2 * head + 8 * static_cast<size_t>(n) + 32);
  out.append(a).append(1, '\t').append(b).append(1, '\t');
  out.append(num, static_cast<size_t>(score_chars(syn, num)));
  for (int s = 0; s < n; ++s) {
    out += '\t';
    out += std::to_string(lab[s]);
  }
  out += '\n';
  out.append(a).append(1, '\t').append(b).append(1, '\t');
  out += "-9";
  for (int s = 0; s < n; ++s) {
    out += '\t';
    out += std::to_string(cid[s]);
  }
  out += '\n';
}

std::string write_records(const std::vector<pair_rec>& recs) {
  std::string out;
  for (size_t k = 0; k < recs.size(); ++k) {
    const pair_rec& r = recs[k];
    const std::string row = "records: record " + std::to_string(k + 1) + ": ";
    for (const std::string* n : {&r.a, &r.b}) {
      const std::string why = name_fault(*n);
      if (!why.empty()) throw syn_error(row + "probe " + show_field(*n) + ": " + why);
    }
    if (r.lab.size() != r.cid.size() || r.lab.size() != recs[0].lab.size())
      throw syn_error(row + std::to_string(r.lab.size()) + " labels and " + std::to_string(r.cid.size()) +
                      " cluster numbers, expected " + std::to_string(recs[0].lab.size()) + " of each");
    record_text(out, r.a, r.b, r.syn, r.lab.data(), r.cid.data(), static_cast<int>(r.lab.size()));
  }
  return out;
}
