// Pair search: candidate list, label-flip search, pair records.
#include "search.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <unordered_map>

#include "cli.h"
#include "fast.h"
#include "inputs.h"
#include "par.h"
#include "synergy.h"

namespace {

// One write() for the whole record; a short write is cut back off the file
// so that it holds whole records only.
void write_rec(int fd, const std::string& path, const std::string& rec) {
  off_t old = lseek(fd, 0, SEEK_END);
  size_t done = 0;
  while (done < rec.size()) {
    ssize_t k = write(fd, rec.data() + done, rec.size() - done);
    if (k > 0) {
      // after a short write, writing the rest tells why (or completes it)
      done += static_cast<size_t>(k);
      continue;
    }
    if (k == 0) errno = ENOSPC;
    else if (errno == EINTR) continue;
    int err = errno;
    if (done > 0 && (old < 0 || ftruncate(fd, old) != 0)) {
      errno = err;
      throw syn_error(os_err(path + ": write failed, last record left incomplete"));
    }
    errno = err;
    throw syn_error(os_err(path + ": write failed"));
  }
}

}  // namespace

std::vector<int> read_cand(const std::string& ranked, int n_lim, double bound) {
  return cand_of(read_ranked(ranked.c_str(), bound, n_lim >= 0));
}

std::string pair_record(int a, int b, double best, const int* lab, const int* cid) {
  std::string head = probe[a];
  head += '\t';
  head += probe[b];
  head += '\t';
  char num[64];
  // %g with precision 6 is the default stream format
  std::snprintf(num, sizeof num, "%g", best);
  std::string rec;
  rec.reserve(2 * head.size() + 8 * static_cast<size_t>(n_samp) + 32);
  rec += head;
  rec += num;
  for (int s = 0; s < n_samp; ++s) {
    rec += '\t';
    rec += std::to_string(lab[s]);
  }
  rec += '\n';
  rec += head;
  rec += "-9";
  for (int s = 0; s < n_samp; ++s) {
    rec += '\t';
    rec += std::to_string(cid[s]);
  }
  rec += '\n';
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
  int fd = open(out, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) throw syn_error(os_err(std::string(out) + ": cannot open for appending"));
  try {
    write_rec(fd, out, rec);
  } catch (...) {
    close(fd);
    throw;
  }
  if (close(fd) != 0) throw syn_error(os_err(std::string(out) + ": write failed"));
  return 1;
}

rec_out::rec_out(std::string path) : path_(std::move(path)) {
  struct stat st;
  bool exists = false;
  int fd = -1;
  dest_ = out_dest(path_, st, exists, fd);
  if (fd >= 0) {
    // a descriptor the caller opened (/dev/stdout, /dev/fd/N): appended to as it is
    fd_ = fcntl(fd, F_DUPFD_CLOEXEC, 3);
    if (fd_ < 0) throw syn_error(os_err(path_ + ": cannot append"));
    return;
  }
  if (!exists) return;  // created at the first record
  // an existing file: try to open it for appending, which creates nothing
  fd = open(dest_.c_str(), O_WRONLY | O_APPEND | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) throw syn_error(os_err(path_ + ": cannot append"));
  close(fd);
}

rec_out::~rec_out() {
  if (fd_ >= 0) close(fd_);
}

// The file is opened without following a link at its name: dest_ is the end
// of the link chain, checked, and a link put there since is not followed.
void rec_out::open_first(const std::string& rec) {
  fd_ = open(dest_.c_str(), O_WRONLY | O_APPEND | O_NOFOLLOW | O_CLOEXEC);
  if (fd_ >= 0) {
    write_rec(fd_, path_, rec);
    return;
  }
  if (errno != ENOENT) throw syn_error(os_err(path_ + ": cannot open for appending"));
  tmp_file tmp(dest_);
  mode_t mask = umask(0);
  umask(mask);
  fchmod(tmp.fd(), 0666 & ~mask);
  if (!write_all(tmp.fd(), rec.data(), rec.size())) throw syn_error(os_err(path_ + ": write failed"));
  tmp.close_or_throw(path_);
  // link() never replaces a file that appeared meanwhile; where a file system
  // has no hard links, rename() does the same but for that race
  if (link(tmp.path().c_str(), dest_.c_str()) == 0) {
    // the temporary name goes with tmp
  } else if (errno == EEXIST) {
    fd_ = open(dest_.c_str(), O_WRONLY | O_APPEND | O_NOFOLLOW | O_CLOEXEC);
    if (fd_ < 0) throw syn_error(os_err(path_ + ": cannot open for appending"));
    write_rec(fd_, path_, rec);
    return;
  } else if (rename(tmp.path().c_str(), dest_.c_str()) == 0) {
    tmp.release();
  } else {
    throw syn_error(os_err(path_ + ": cannot create"));
  }
  fd_ = open(dest_.c_str(), O_WRONLY | O_APPEND | O_NOFOLLOW | O_CLOEXEC);
  if (fd_ < 0) throw syn_error(os_err(path_ + ": cannot open for appending"));
}

void rec_out::append(const std::string& rec) {
  if (fd_ < 0)
    open_first(rec);
  else
    write_rec(fd_, path_, rec);
  ++n_;
}

namespace {

// The kernel may stop a large write between pages for a fatal signal, which
// would tear a record. So the signals that ask a run to stop are held for the
// whole search (the worker threads inherit the mask) and let through only
// between pairs, when every record written so far is whole.
class stop_hold {
 public:
  stop_hold() {
    sigemptyset(&set_);
    for (int sig : STOP_SIGS) sigaddset(&set_, sig);
    pthread_sigmask(SIG_BLOCK, &set_, &old_);
  }
  ~stop_hold() { pthread_sigmask(SIG_SETMASK, &old_, nullptr); }
  stop_hold(const stop_hold&) = delete;
  stop_hold& operator=(const stop_hold&) = delete;
  // deliver a pending stop signal now, unless the caller had it blocked
  void between() const {
    sigset_t pend;
    if (sigpending(&pend) != 0) return;
    for (int sig : STOP_SIGS)
      if (sigismember(&pend, sig) && !sigismember(&old_, sig)) {
        pthread_sigmask(SIG_SETMASK, &old_, nullptr);
        pthread_sigmask(SIG_BLOCK, &set_, nullptr);
        return;
      }
  }

 private:
  sigset_t set_, old_;
};

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
  stop_hold hold;
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
