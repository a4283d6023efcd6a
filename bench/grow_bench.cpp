// grow_bench: time per probe and per pair of the fast path on tables grown
// from a real one (grow.h), at several sample counts, with the growth
// exponent between sizes. It uses only the core's fast-path interface, so
// bench/vs_commit.sh can build it against an older commit's core and compare
// the two on the same tables (the result digest must agree).
//
//   grow_bench TABLE [--sizes 250,500,1000,2000] [--probes P] [--cand C]
//              [--pairs K] [--reps R] [--dir D]
//
// The candidates are the probes among the first P of TABLE that score above
// the candidate bound at the table's own size; the first C of them are grown
// and K fixed ordered pairs of them are searched at every size (best of R).
// Size 0 stands for the source table itself.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "grow.h"
#include "rng.h"
#include "synergy.h"
#if __has_include("fast.h")  // older cores declared the fast path in synergy.h
#include "fast.h"
#include "par.h"
#endif

namespace {

double now() {
  using clk = std::chrono::steady_clock;
  return std::chrono::duration<double>(clk::now().time_since_epoch()).count();
}

void spit(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
  if (!out) {
    std::fprintf(stderr, "grow_bench: cannot write %s\n", path.c_str());
    std::exit(2);
  }
}

// FNV-1a over the bytes of the results, to compare builds.
struct digest {
  uint64_t h = 1469598103934665603ULL;
  void add(const void* p, size_t n) {
    const unsigned char* c = static_cast<const unsigned char*>(p);
    for (size_t k = 0; k < n; ++k) h = (h ^ c[k]) * 1099511628211ULL;
  }
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || std::string(argv[1]) == "--help") {
    std::printf("usage: grow_bench TABLE [--sizes 250,500,1000,2000] [--probes P] [--cand C] [--pairs K] "
                "[--reps R] [--dir D]\n");
    return argc < 2 ? 2 : 0;
  }
  std::string table = argv[1], sizes_s = "250,500,1000,2000", dir = "/tmp/syn_bench";
  int n_probes = 2000, n_cand = 40, n_pairs = 40, reps = 3;
  for (int k = 2; k + 1 < argc; k += 2) {
    std::string a = argv[k], v = argv[k + 1];
    if (a == "--sizes") sizes_s = v;
    else if (a == "--probes") n_probes = std::atoi(v.c_str());
    else if (a == "--cand") n_cand = std::atoi(v.c_str());
    else if (a == "--pairs") n_pairs = std::atoi(v.c_str());
    else if (a == "--reps") reps = std::atoi(v.c_str());
    else if (a == "--dir") dir = v;
    else {
      std::fprintf(stderr, "grow_bench: unknown option %s\n", a.c_str());
      return 2;
    }
  }
  std::vector<int> sizes;
  for (size_t a = 0; a < sizes_s.size();) {
    sizes.push_back(std::atoi(sizes_s.c_str() + a));
    size_t b = sizes_s.find(',', a);
    a = b == std::string::npos ? sizes_s.size() : b + 1;
  }
  if (std::system(("mkdir -p '" + dir + "'").c_str()) != 0) return 2;

  // candidates at the source's own size
  grow::table src = grow::read(table, n_probes);
  const std::string path = dir + "/grow_src.tsv";
  spit(path, grow::text(src));
  load_exp(path.c_str());
  work w;
  work_init(w);
  std::vector<int> rows;
  {
    part pt;
    std::vector<std::pair<double, int>> sc;
    for (int p = 0; p < n_prob; ++p) {
      sin_part(p, w, pt);
      double s = part_ent(pt, ini_phe.data(), w);
      if (s > CAND_BOUND) sc.push_back({-s, p});
    }
    std::sort(sc.begin(), sc.end());
    for (size_t k = 0; k < sc.size() && static_cast<int>(k) < n_cand; ++k) rows.push_back(sc[k].second);
  }
  const int c = static_cast<int>(rows.size());
  if (c == 0) {
    std::fprintf(stderr, "grow_bench: no candidates in %s\n", table.c_str());
    return 2;
  }
  std::vector<std::pair<int, int>> pairs;
  rng pick(42);
  for (int k = 0; k < n_pairs; ++k)
    pairs.push_back({static_cast<int>(pick.below(c)), static_cast<int>(pick.below(c))});
  std::printf("grown from %s: %d candidates of the first %zu probes, %d pairs, best of %d\n", table.c_str(), c,
              src.val.size(), n_pairs, reps);
  std::printf("%8s %12s %12s %10s %8s  %s\n", "samples", "us/probe", "us/pair", "records", "exp", "digest");
  double last_n = 0, last_t = 0;
  for (int n : sizes) {
    // size 0: the source's own samples, unchanged
    grow::table g = n > 0 ? grow::make(src, n, 1000 + static_cast<uint64_t>(n), 0.05, rows) : src;
    if (n == 0) {
      g.name.clear();
      g.val.clear();
      for (int p : rows) {
        g.name.push_back(src.name[p]);
        g.val.push_back(src.val[p]);
      }
    }
    const std::string gp = dir + "/grow_" + std::to_string(n) + ".tsv";
    spit(gp, grow::text(g));
    load_exp(gp.c_str());
    work_init(w);
    std::vector<part> sp(c);
    pair_res r;
    double tp = 1e30, tq = 1e30;
    digest dg;
    long n_rec = 0;
    for (int rep = 0; rep < reps; ++rep) {
      double t0 = now();
      for (int k = 0; k < c; ++k) sin_part(k, w, sp[k]);
      tp = std::min(tp, now() - t0);
      t0 = now();
      digest d;
      long nr = 0;
      for (auto [i, j] : pairs)
        if (flip_search(i, j, 0, sp[i], sp[j], w, r) == 1) {
          ++nr;
          d.add(&r.best, sizeof r.best);
          d.add(r.lab.data(), r.lab.size() * sizeof(int));
          d.add(r.cid.data(), r.cid.size() * sizeof(int));
        }
      tq = std::min(tq, now() - t0);
      dg = d;
      n_rec = nr;
    }
    double per = tq / n_pairs;
    char ex[16] = "";
    if (n == 0) n = n_samp;
    else if (last_n > 0) std::snprintf(ex, sizeof ex, "%.2f", std::log(per / last_t) / std::log(n / last_n));
    std::printf("%8d %12.1f %12.1f %10ld %8s  %016llx\n", n, tp / c * 1e6, per * 1e6, n_rec, ex,
                static_cast<unsigned long long>(dg.h));
    std::fflush(stdout);
    last_n = n;
    last_t = per;
  }
  return 0;
}
