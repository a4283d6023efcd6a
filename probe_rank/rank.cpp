// Probe ranking: score every probe alone, sort, write the list in one piece.
#include "rank.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cli.h"
#include "synergy.h"

namespace {

// Removes the temporary file unless the rename has taken it over.
struct tmp_guard {
  std::string path;
  int fd = -1;
  ~tmp_guard() {
    if (fd >= 0) close(fd);
    if (!path.empty()) unlink(path.c_str());
  }
};

// The file a path names: symbolic links followed, as far as they lead to an
// existing file; otherwise the path itself.
std::string target(const std::string& path) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
  char* real = realpath(path.c_str(), nullptr);
  if (!real) return path;
  std::string r = real;
  std::free(real);
  return r;
}

// Write all of text; false with errno set on failure.
bool write_all(int fd, const std::string& text) {
  const char* p = text.data();
  size_t left = text.size();
  while (left > 0) {
    ssize_t k = write(fd, p, left);
    if (k < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    p += k;
    left -= static_cast<size_t>(k);
  }
  return true;
}

}  // namespace

int max_cid() {
  int m = 0;
  for (int i = 0; i < n_samp; ++i)
    if (s_cid[i] > m) m = s_cid[i];
  return m;
}

std::vector<rank_row> rank_probes(int n_thr, const std::function<void(long)>& tick) {
  int nt = std::max(1, n_thr);
  // one cache-line-aligned scratch per thread, so threads never share a line
  struct alignas(64) scratch {
    work w;
    part pt;
  };
  std::vector<scratch> ws(nt);
  for (scratch& s : ws) work_init(s.w);
  std::vector<rank_row> rows(n_prob);
  par_ordered(
      n_prob, nt, 64L * nt,
      [&](long i, int tid) {
        part& pt = ws[tid].pt;
        sin_part(static_cast<int>(i), ws[tid].w, pt);
        rank_row& r = rows[i];
        r.p = static_cast<int>(i);
        if (pt.n_cl == 0) {
          // all samples merged into one cluster
          r.score = NO_PART;
          r.n_cl = 1;
        } else {
          r.score = part_ent(pt, ini_phe.data(), ws[tid].w);
          r.n_cl = pt.n_cl;
        }
      },
      [&](long i) {
        if (tick) tick(i + 1);
      });
  // Descending by the full score; equal scores keep file order, which puts the
  // no-partition probes last. Scores are finite: check_exp rejects what is not.
  std::stable_sort(rows.begin(), rows.end(),
                   [](const rank_row& a, const rank_row& b) { return a.score > b.score; });
  return rows;
}

std::string rank_text(const std::vector<rank_row>& rows) {
  std::string out;
  char num[64];
  for (const rank_row& r : rows) {
    out += probe[r.p];
    out += '\t';
    out += std::to_string(r.p);
    out += '\t';
    // %g with precision 6 is the default stream format
    std::snprintf(num, sizeof num, "%g", r.score);
    out += num;
    out += '\t';
    out += std::to_string(r.n_cl);
    out += '\n';
  }
  return out;
}

void check_out(const std::string& out) {
  if (out.empty()) throw syn_error("output path is empty");
  struct stat st;
  if (stat(out.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) throw syn_error(out + ": is a folder");
    if (!S_ISREG(st.st_mode)) {
      // a device or pipe is written in place; it must open without being created
      int fd = open(out.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
      if (fd < 0) throw syn_error(os_err(out + ": cannot write"));
      close(fd);
      return;
    }
  }
  std::string dir = dir_of(target(out));
  if (stat(dir.c_str(), &st) != 0) throw syn_error(os_err(out + ": cannot write into folder '" + dir + "'"));
  if (!S_ISDIR(st.st_mode)) throw syn_error(out + ": '" + dir + "' is not a folder");
  if (access(dir.c_str(), W_OK | X_OK) != 0)
    throw syn_error(os_err(out + ": cannot write into folder '" + dir + "'"));
}

void write_whole(const std::string& out, const std::string& text) {
  check_out(out);
  struct stat st;
  if (stat(out.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
    // /dev/stdout and the like: renaming a file over them would replace the node
    int fd = open(out.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd < 0) throw syn_error(os_err(out + ": cannot write"));
    bool ok = write_all(fd, text);
    int err = errno;
    if (close(fd) != 0 && ok) err = errno, ok = false;
    errno = err;
    if (!ok) throw syn_error(os_err(out + ": write failed"));
    return;
  }

  // Through a temporary file beside the real file (a symbolic link stays a
  // link), renamed into place only when complete.
  const std::string dest = target(out);
  tmp_guard tmp;
  std::string tmpl = dir_of(dest) + "/.probe_rank.XXXXXX";
  tmp.fd = mkstemp(&tmpl[0]);
  if (tmp.fd < 0) throw syn_error(os_err(out + ": cannot create a temporary file in '" + dir_of(dest) + "'"));
  tmp.path = tmpl;
  // mkstemp makes the file private; give it the mode a plain create would
  mode_t mask = umask(0);
  umask(mask);
  fchmod(tmp.fd, 0666 & ~mask);
  if (!write_all(tmp.fd, text)) throw syn_error(os_err(out + ": write failed"));
  if (fsync(tmp.fd) != 0 && errno != EINVAL) throw syn_error(os_err(out + ": write failed"));
  int fd = tmp.fd;
  tmp.fd = -1;
  if (close(fd) != 0) throw syn_error(os_err(out + ": write failed"));
  if (rename(tmp.path.c_str(), dest.c_str()) != 0)
    throw syn_error(os_err(out + ": cannot move the finished list into place"));
  tmp.path.clear();
}
