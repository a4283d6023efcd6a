#include "cli.h"

#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <thread>

int all_cores() {
  cpu_set_t set;
  if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0) return CPU_COUNT(&set);
  return static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
}

bool parse_threads(const char* s, int& n) {
  if (!*s || std::strlen(s) > 6) return false;
  long v = 0;
  for (const char* c = s; *c; ++c) {
    if (*c < '0' || *c > '9') return false;
    v = v * 10 + (*c - '0');
  }
  if (v > MAX_THREADS) return false;
  if (v == 0) v = all_cores();
  n = static_cast<int>(v);
  return true;
}

bool thread_opt(int argc, char** argv, int& k, int& n_thr, std::string& why) {
  std::string a = argv[k];
  why.clear();
  const char* v;
  if (a == "-t" || a == "--threads") {
    if (k + 1 >= argc) {
      why = "option " + a + " needs a number";
      return true;
    }
    v = argv[++k];
  } else if (a.rfind("--threads=", 0) == 0) {
    v = argv[k] + 10;
  } else if (a.size() > 2 && a.compare(0, 2, "-t") == 0) {
    v = argv[k] + 2;
  } else {
    return false;
  }
  if (!parse_threads(v, n_thr))
    why = "thread count '" + std::string(v) + "' is not a number from 0 to " + std::to_string(MAX_THREADS);
  return true;
}

std::string os_err(const std::string& what) { return what + ": " + std::strerror(errno); }

std::string dir_of(const std::string& path) {
  size_t k = path.rfind('/');
  if (k == std::string::npos) return ".";
  if (k == 0) return "/";
  return path.substr(0, k);
}

meter::meter(const char* prog, const char* unit, long total, bool on)
    : prog_(prog), unit_(unit), total_(total), on_(on && total > 0 && isatty(2)) {}

meter::~meter() {
  if (open_) std::fputc('\n', stderr);
}

void meter::operator()(long done) {
  if (!on_) return;
  auto now = std::chrono::steady_clock::now();
  if (done < total_ && now - last_ < std::chrono::milliseconds(250)) return;
  last_ = now;
  double el = std::chrono::duration<double>(now - t0_).count();
  double rate = el > 0 ? done / el : 0.0;
  std::fprintf(stderr, "\r%s: %ld/%ld %s, %.1f/s", prog_, done, total_, unit_, rate);
  if (done < total_ && rate > 0) {
    long left = static_cast<long>((total_ - done) / rate);
    std::fprintf(stderr, ", %ld:%02ld:%02ld left", left / 3600, left / 60 % 60, left % 60);
  }
  std::fputs("      ", stderr);
  open_ = done < total_;
  if (!open_) std::fputc('\n', stderr);
}
