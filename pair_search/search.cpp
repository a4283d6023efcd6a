// Pair search: candidate list, label-flip search, pair records.
#include "search.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <unordered_map>

#include "fast.h"
#include "files.h"
#include "ranked.h"
#include "records.h"
#include "par.h"
#include "synergy.h"

std::vector<int> read_cand(const std::string& ranked, int n_lim, double bound) {
  return cand_of(read_ranked(ranked.c_str(), bound, n_lim >= 0));
}

std::string pair_record(int a, int b, double best, const int* lab, const int* cid) {
  std::string rec;
  record_text(rec, probe[a], probe[b], best, lab, cid, n_samp);
  return rec;
}

int optimize(int a, int b, int sel, const char* out) {
  std::vector<int> lab(ini_phe);
  double base = call_two_syn(a, b, ini_phe.data(), sel);
  if (base == NO_PART) return -1;
  double best = base;
  for (;;) {
    // Every flip of a pass is judged against the same labels and the same
    // best. The flip applied is the improving one with the largest score,
    // lowest sample number on ties. This is the pass's running maximum from
    // 0.0 whenever an improving flip scores above 0.0; when none does (the
    // best is below -0.01), the same rule picks among the negative scores.
    int pick = -1;
    double top = 0.0;
    for (int i = 0; i < n_samp; ++i) {
      lab[i] = 1 - lab[i];
      double s = call_two_syn(a, b, lab.data(), sel);
      if (s - best > IMP_MARGIN && (pick < 0 || s > top)) {
        top = s;
        pick = i;
      }
      lab[i] = 1 - lab[i];
    }
    if (pick < 0) break;
    lab[pick] = 1 - lab[pick];
    best = top;
  }
  // s_cid holds the joint partition: partitions do not depend on the labels
  std::string rec = pair_record(a, b, best, lab.data(), s_cid.data());
  append_once(out, rec);
  return 1;
}

namespace {

// Results of ordered pairs (i, j), i < j, kept for their mirror (j, i) later in
// the same run. The mirror's result is the same with the names swapped: the
// joint partition is built from the cells (group of a) x (group of b), each
// clustered alone on distances symmetric in the two probes (max(u, v), and
// sqrt(u*u + v*v) under commutative addition), and numbered by smallest member,
// so the cell order does not matter; every score is ((s1 + s2) - e) - h, whose
// first addition is commutative bit for bit, and the flip bound only sums the
// cluster counts. Labels take a byte per sample, cluster numbers the fewest
// bytes that hold any of them. Memory stays under `budget`: only mirrors at
// most `reach` positions apart are kept (so that every kept one fits at once),
// and anything else is computed again.
class mirror_cache {
 public:
  mirror_cache(size_t budget, long start, long end) : budget_(budget) {
    wid_ = n_samp <= 256 ? 1 : n_samp <= 65536 ? 2 : 4;
    // a map node, the vector and its heap block, rounded up
    cost_ = 112 + static_cast<size_t>(n_samp) * (1 + wid_);
    const long m = end - start, cap = static_cast<long>(budget / cost_);
    // While position r is searched, the entries held are (i, j) with
    // i <= r <= j: at most (m + 2)^2 / 4, and with j - i <= L at most
    // L (L + 3) / 2.
    if ((m + 2) * (m + 2) / 4 <= cap) {
      reach_ = m;
    } else {
      reach_ = 0;
      while ((reach_ + 1) * (reach_ + 4) / 2 <= cap) ++reach_;
    }
  }
  long reach() const { return reach_; }
  // Keep r, the result (flip_search status ok) of the pair at item key, for its mirror.
  void put(long key, int ok, const pair_res& r) {
    std::lock_guard<std::mutex> lk(mx_);
    if (used_ + cost_ > budget_) return;
    ent& e = map_[key];
    used_ += cost_;
    e.best = r.best;
    if (ok < 0) return;
    const int n = n_samp;
    e.v.resize(static_cast<size_t>(n) * (1 + wid_));
    unsigned char* p = e.v.data();
    for (int s = 0; s < n; ++s) *p++ = static_cast<unsigned char>(r.lab[s]);
    for (int s = 0; s < n; ++s)
      for (int b = 0; b < wid_; ++b) *p++ = static_cast<unsigned char>(static_cast<unsigned>(r.cid[s]) >> (8 * b));
  }
  // The result held for the pair at item key, as put: 0 when none is held
  // (compute it), else its flip_search status.
  int take(long key, pair_res& r) {
    ent e;
    {
      std::lock_guard<std::mutex> lk(mx_);
      auto it = map_.find(key);
      if (it == map_.end()) return 0;
      e = std::move(it->second);
      map_.erase(it);
      used_ -= cost_;
    }
    if (e.v.empty()) return -1;
    const int n = n_samp;
    r.best = e.best;
    r.lab.resize(n);
    r.cid.resize(n);
    const unsigned char* p = e.v.data();
    for (int s = 0; s < n; ++s) r.lab[s] = *p++;
    for (int s = 0; s < n; ++s) {
      unsigned v = 0;
      for (int b = 0; b < wid_; ++b) v |= static_cast<unsigned>(*p++) << (8 * b);
      r.cid[s] = static_cast<int>(v);
    }
    return 1;
  }

 private:
  struct ent {
    double best = 0.0;
    std::vector<unsigned char> v;  // labels, then cluster numbers; empty: no partition
  };
  std::mutex mx_;
  std::unordered_map<long, ent> map_;
  size_t budget_ = 0, used_ = 0, cost_ = 0;
  int wid_ = 1;
  long reach_ = 0;
};

}  // namespace

void run_search(const std::vector<int>& cand, int start, int end, int n_thr, rec_out& rec,
                std::FILE* prog, const std::function<void(long)>& tick, size_t mirror_bytes) {
  const long count = static_cast<long>(cand.size());
  if (start >= end || count == 0) return;
  const int nt = std::max(1, n_thr);
  // one cache-line-aligned scratch per thread, so threads never share a line
  struct alignas(64) scratch {
    work w;
  };
  std::vector<scratch> ws(nt);
  for (scratch& s : ws) work_init(s.w);

  // Single partitions depend on values only: one per candidate for the run.
  std::vector<part> sp(cand.size());
  par_ordered(
      count, nt, 64L * nt, [&](long k, int tid) { sin_part(cand[k], ws[tid].w, sp[k]); }, [](long) {});

  // a record is formatted by its worker; the writer only appends it
  struct alignas(64) slot {
    pair_res res;
    std::string rec;
  };
  // Pairs in flight. A narrow window stalls the threads on each other (the
  // writer thread also searches); up to count - 1 keeps every mirror, which
  // comes at least count - 1 items after its pair, in the cache.
  const long window = std::max(8L * nt, std::min(64L * nt, static_cast<long>(count) - 1));
  std::vector<slot> ring(static_cast<size_t>(window));
  const long n_pairs = static_cast<long>(end - start) * count;
  mirror_cache mc(mirror_bytes, start, end);
  // stop signals only between pairs, when every record written is whole
  stop_guard hold;
  par_ordered(
      n_pairs, nt, window,
      [&](long k, int tid) {
        long i = start + k / count, j = k % count;
        slot& s = ring[static_cast<size_t>(k % window)];
        s.rec.clear();
        // The mirror (j, i) of a pair with i < j < end is item k2 below. Its job
        // starts only once item k2 - window is written, so a pair at least a
        // window before its mirror is always done, and held, by then.
        int ok = 0;
        if (j < i && j >= start) ok = mc.take((j - start) * count + i, s.res);
        if (ok == 0) {
          ok = flip_search(cand[i], cand[j], 0, sp[i], sp[j], ws[tid].w, s.res);
          if (i < j && j < end && j - i <= mc.reach()) {
            const long k2 = (j - start) * count + i;
            if (k2 - k >= window) mc.put(k, ok, s.res);
          }
        }
        if (ok == 1) s.rec = pair_record(cand[i], cand[j], s.res.best, s.res.lab.data(), s.res.cid.data());
      },
      [&](long k) {
        long i = start + k / count, j = k % count;
        const slot& s = ring[static_cast<size_t>(k % window)];
        if (!s.rec.empty()) rec.append(s.rec);
        // the progress line follows its pair's record
        if (std::fprintf(prog, "%ld\t%ld\n", i, j) < 0 || std::fflush(prog) != 0)
          throw syn_error(os_err("standard output: write failed"));
        if (tick) tick(k + 1);
        hold.between();
      });
}
