// Records checked against the table, ranked list and bound they are read with.
#include "rec_check.h"

#include <algorithm>
#include <cstdio>

#include "line_src.h"
#include "par.h"
#include "rng.h"
#include "table.h"

namespace {

constexpr size_t BATCH = 4096;  // distinct pairs whose partitions are checked at once

uint64_t hash_of(const std::vector<int>& cid) {
  uint64_t h = 0x9e3779b97f4a7c15ULL;
  for (int c : cid) {
    uint64_t x = h ^ static_cast<uint64_t>(c);
    h = mix64(x);
  }
  return h;
}

std::string not_joint(const std::string& where, int64_t line, int pa, int pb) {
  return at_line(where, line + 1) + "partition line of pair " + show_field(probe[pa]) + ", " +
         show_field(probe[pb]) + " is not the pair's joint partition in this table";
}

}  // namespace

rec_check::rec_check(const rl_info& rk, std::string list, double bound, int n_thr, bool own_parts)
    : list_(std::move(list)), bound_(bound), n_thr_(std::max(1, n_thr)), own_(own_parts) {
  cand_at.assign(n_prob, 0);
  for (int k = 0; k < rk.n_cand; ++k) cand_at[rk.rows[k].prb] = k + 1;
  std::unordered_map<std::string, int> first;
  first.reserve(static_cast<size_t>(n_prob));
  for (int p = 0; p < n_prob; ++p) {
    auto it = first.emplace(probe[p], p);
    if (!it.second) {
      dup_.emplace(it.first->second, p);
      dup_.emplace(p, it.first->second);
    }
  }
  sp_.resize(n_prob);
  for (part& s : sp_) s.n_cl = -1;
  ws_.resize(n_thr_);
  for (work& w : ws_) work_init(w);
}

std::string rec_check::pair_txt(const pair_rec& r) const {
  return "pair " + show_field(r.a) + ", " + show_field(r.b);
}

void rec_check::add(const pair_rec& r, const std::string& where) {
  if (where_.empty()) where_ = where;
  for (int p : {r.pa, r.pb}) {
    auto d = dup_.find(p);
    if (d != dup_.end())
      throw syn_error(at_line(where, r.line) + "probe " + show_field(probe[p]) +
                      " names two rows of the table (probe " + std::to_string(std::min(p, d->second)) +
                      " and probe " + std::to_string(std::max(p, d->second)) +
                      "): pairs are told apart by name, so probe names must be unique");
  }
  for (int p : {r.pa, r.pb})
    if (!cand_at[p])
      throw syn_error(at_line(where, r.line) + "probe " + show_field(probe[p]) + " is not a candidate of " +
                      list_ + " at the bound " + score_text(bound_) +
                      ": records from another ranked list, table or --bound?");
  // the replay sample: the REPLAY records whose position hashes lowest
  uint64_t x = static_cast<uint64_t>(n_++);
  const uint64_t key = mix64(x);
  auto later = [](const pick& a, const pick& b) { return a.key < b.key; };
  if (picks_.size() < static_cast<size_t>(REPLAY) || key < picks_.front().key) {
    if (picks_.size() == static_cast<size_t>(REPLAY)) {
      std::pop_heap(picks_.begin(), picks_.end(), later);
      picks_.pop_back();
    }
    picks_.push_back({key, r});
    std::push_heap(picks_.begin(), picks_.end(), later);
  }
  const uint64_t lo = static_cast<uint64_t>(std::min(r.pa, r.pb)),
                 hi = static_cast<uint64_t>(std::max(r.pa, r.pb));
  if (!seen_.insert(lo << 32 | hi).second) return;  // the first record of a pair stands for it
  if (!own_) {
    sums_.push_back({hash_of(r.cid), r.line, r.pa, r.pb});
    return;
  }
  uint64_t y = seen_.size() - 1;
  if (y >= ALL_PARTS && mix64(y) % SPARSE != 0) return;
  batch_.push_back({r.pa, r.pb, r.line, r.cid});
  if (batch_.size() >= BATCH) check_batch();
}

void rec_check::check_batch() {
  // single partitions first, each probe once, then the joint ones
  std::vector<int> need;
  for (const pend& e : batch_)
    for (int p : {e.pa, e.pb})
      if (sp_[p].n_cl < 0) {
        sp_[p].n_cl = -2;  // listed
        need.push_back(p);
      }
  par_ordered(
      static_cast<long>(need.size()), n_thr_, 64L * n_thr_,
      [&](long k, int tid) { sin_part(need[k], ws_[tid], sp_[need[k]]); }, [](long) {});
  // first sample whose cluster differs (n_samp: no partition), and its cluster in the table
  std::vector<int> bad(batch_.size(), -1), want(batch_.size(), -1);
  par_ordered(
      static_cast<long>(batch_.size()), n_thr_, 64L * n_thr_,
      [&](long k, int tid) {
        const pend& e = batch_[k];
        part& j = ws_[tid].jp;
        two_part(e.pa, e.pb, 0, sp_[e.pa], sp_[e.pb], ws_[tid], j);
        if (j.n_cl == 0) {
          bad[k] = n_samp;
          return;
        }
        for (int s = 0; s < n_samp; ++s)
          if (j.cid[s] != e.cid[s]) {
            bad[k] = s;
            want[k] = j.cid[s];
            return;
          }
      },
      [&](long k) {
        if (bad[k] < 0) return;
        const pend& e = batch_[k];
        const std::string pr = show_field(probe[e.pa]) + ", " + show_field(probe[e.pb]);
        if (bad[k] == n_samp)
          throw syn_error(at_line(where_, e.line + 1) + "pair " + pr +
                          " has no joint partition in this table: records from another table?");
        throw syn_error(not_joint(where_, e.line, e.pa, e.pb) + " (sample " + std::to_string(bad[k]) +
                        " is in cluster " + std::to_string(e.cid[bad[k]]) + ", the table puts it in " +
                        std::to_string(want[k]) + "): records from another table?");
      });
  batch_.clear();
}

const part& rec_check::sp(int p) {
  if (sp_[p].n_cl < 0) sin_part(p, ws_[0], sp_[p]);
  return sp_[p];
}

void rec_check::check_joint(size_t i, const part& pj) const {
  if (i >= sums_.size()) return;
  const sum& e = sums_[i];
  if (hash_of(pj.cid) != e.h)
    throw syn_error(not_joint(where_, e.line, e.pa, e.pb) + ": records from another table?");
}

void rec_check::check_part(const pair_rec& r) {
  batch_.push_back({r.pa, r.pb, r.line, r.cid});
  check_batch();
}

void rec_check::finish() {
  if (!batch_.empty()) check_batch();
  std::vector<pick> ps = std::move(picks_);
  picks_.clear();
  // in file order, so that the first mismatch is the one reported
  std::sort(ps.begin(), ps.end(), [](const pick& a, const pick& b) { return a.r.line < b.r.line; });
  std::vector<pair_res> res(ps.size());
  for (const pick& k : ps) {
    sp(k.r.pa);
    sp(k.r.pb);
  }
  std::vector<int> ok(ps.size(), 0);
  par_ordered(
      static_cast<long>(ps.size()), n_thr_, static_cast<long>(ps.size()) + 1,
      [&](long k, int tid) {
        const pair_rec& r = ps[k].r;
        ok[k] = flip_search(r.pa, r.pb, 0, sp_[r.pa], sp_[r.pb], ws_[tid], res[k]);
      },
      [](long) {});
  for (size_t k = 0; k < ps.size(); ++k) {
    const pair_rec& r = ps[k].r;
    if (ok[k] != 1)
      throw syn_error(at_line(where_, r.line) + pair_txt(r) +
                      " has no joint partition in this table: records from another table?");
    if (res[k].cid != r.cid)
      throw syn_error(not_joint(where_, r.line, r.pa, r.pb) + ": records from another table?");
    int diff = 0, first = -1;
    for (int s = 0; s < n_samp; ++s)
      if (res[k].lab[s] != r.lab[s]) {
        if (first < 0) first = s;
        ++diff;
      }
    const std::string syn = score_text(res[k].best);
    if (diff == 0 && syn == r.syn_txt) continue;
    throw syn_error(at_line(where_, r.line) + pair_txt(r) +
                    " searched again with these labels gives synergy " + syn +
                    (diff ? " and " + std::to_string(diff) + " other final labels (first: sample " +
                                std::to_string(first) + ")"
                          : std::string()) +
                    ", the record holds " + r.syn_txt +
                    ": records of a run with other labels (--shuffle-labels, another table)?");
  }
}
