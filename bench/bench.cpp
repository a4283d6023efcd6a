// syn_bench: speed of the fast path against the literal step order of
// tests/oracle, on generated tables, with byte-identity checks.
//
//   syn_bench [--quick] [--lit-pairs K] [--lit-probes P] [--dir D]
//
// pair_search: 100 samples, values on a grid so that clusters of many sizes
// form, about 40 candidates; the fast search runs the whole range, the literal
// one the first K pairs (each costs 1 + n_samp * (passes + 1) pair scorings),
// and the ratio is per pair. probe_rank: 128 samples x 10000 probes; the
// literal ranking runs on the first P probes. Peak memory of the pair_search
// program is read from the kernel after a run over the whole range.
// Prints figures only; nothing here passes or fails but a byte difference.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "oracle/oracle.h"
#include "rank.h"
#include "search.h"
#include "synergy.h"

namespace {

double now() {
  using clk = std::chrono::steady_clock;
  return std::chrono::duration<double>(clk::now().time_since_epoch()).count();
}

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void spit(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
}

void die(const std::string& msg) {
  std::fprintf(stderr, "syn_bench: %s\n", msg.c_str());
  std::exit(2);
}

// Balanced labels; probes that are noise (a few blobs of grid values that do
// not follow the labels, so their partitions say little: candidates) or signal
// (blobs that follow the labels).
std::string make_table(int n, int n_noise, int n_signal, unsigned seed) {
  std::mt19937_64 rng(seed);
  std::vector<int> lab(n);
  for (int s = 0; s < n; ++s) lab[s] = s % 2;
  std::shuffle(lab.begin(), lab.end(), rng);
  std::ostringstream t;
  t << "probe";
  for (int s = 0; s < n; ++s) t << "\ts" << s;
  t << "\nlabel";
  for (int s = 0; s < n; ++s) t << '\t' << lab[s];
  t << '\n';
  std::uniform_int_distribution<int> step(0, 6);
  for (int p = 0; p < n_noise + n_signal; ++p) {
    bool sig = p >= n_noise;
    int blobs = 2 + static_cast<int>(rng() % 3);
    t << (sig ? "sig" : "noise") << p;
    for (int s = 0; s < n; ++s) {
      int b = sig && rng() % 4 ? lab[s] % blobs : static_cast<int>(rng() % blobs);
      double v = b * 0.5 + step(rng) * 0.03;  // grid steps tie and chain into clusters
      char buf[32];
      std::snprintf(buf, sizeof buf, "%.2f", v);
      t << '\t' << buf;
    }
    t << '\n';
  }
  return t.str();
}

void load_core(const std::string& path) { load_exp(path.c_str()); }

// Fast search over [0, end) into rec_path; returns seconds.
double fast_search(const std::vector<int>& cand, int end, int n_thr, const std::string& rec_path,
                   const std::string& prog_path) {
  std::remove(rec_path.c_str());
  std::FILE* prog = std::fopen(prog_path.c_str(), "wb");
  if (!prog) die("cannot write " + prog_path);
  double t0 = now();
  {
    rec_out rec(rec_path);
    run_search(cand, 0, end, n_thr, rec, prog, {});
  }
  double t = now() - t0;
  std::fclose(prog);
  return t;
}

// Peak resident memory (KiB) of a child running argv.
long peak_kib(const std::vector<std::string>& args) {
  std::fflush(stdout);
  pid_t pid = fork();
  if (pid == 0) {
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    if (!std::freopen("/dev/null", "w", stdout)) _exit(127);
    execv(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  struct rusage ru {};
  wait4(pid, &status, 0, &ru);
  return ru.ru_maxrss;
}

}  // namespace

int main(int argc, char** argv) {
  int lit_pairs = 6, lit_probes = 1000;
  std::string dir = "/tmp/syn_bench";
  bool quick = false;
  for (int k = 1; k < argc; ++k) {
    std::string a = argv[k];
    if (a == "--quick") {
      quick = true;
      lit_pairs = 2;
      lit_probes = 100;
    } else if (a == "--lit-pairs" && k + 1 < argc) {
      lit_pairs = std::atoi(argv[++k]);
    } else if (a == "--lit-probes" && k + 1 < argc) {
      lit_probes = std::atoi(argv[++k]);
    } else if (a == "--dir" && k + 1 < argc) {
      dir = argv[++k];
    } else {
      std::printf("usage: syn_bench [--quick] [--lit-pairs K] [--lit-probes P] [--dir D]\n");
      return a == "--help" ? 0 : 2;
    }
  }
  if (std::system(("mkdir -p '" + dir + "'").c_str()) != 0) die("cannot make " + dir);
  std::printf("command: syn_bench%s --lit-pairs %d --lit-probes %d\n", quick ? " --quick" : "", lit_pairs,
              lit_probes);

  // ---- pair_search ----
  const std::string tab_a = dir + "/pairs.tsv", rank_a = dir + "/pairs.rank";
  spit(tab_a, make_table(100, 52, 12, 7));
  load_core(tab_a);
  std::string ranked = rank_text(rank_probes(1, {}));
  spit(rank_a, ranked);
  std::vector<int> cand = read_cand(rank_a, n_prob);
  const int c = static_cast<int>(cand.size());
  if (c == 0) die("no candidates in the generated table");
  const long n_pairs = static_cast<long>(c) * c;
  // best of five: a whole range takes only some tens of milliseconds
  double t1 = 1e30, t2 = 1e30;
  for (int rep = 0; rep < 5; ++rep) {
    t1 = std::min(t1, fast_search(cand, c, 1, dir + "/fast1.rec", dir + "/fast1.prog"));
    t2 = std::min(t2, fast_search(cand, c, 2, dir + "/fast2.rec", dir + "/fast2.prog"));
  }
  std::string rec1 = slurp(dir + "/fast1.rec");
  if (rec1 != slurp(dir + "/fast2.rec") || slurp(dir + "/fast1.prog") != slurp(dir + "/fast2.prog"))
    die("2 threads wrote other bytes than 1 thread");

  oracle::load(tab_a);
  if (oracle::rank_list(tab_a) != ranked) die("ranked list differs from the literal one");
  std::string lit_rec;
  int k = 0;
  double t0 = now();
  for (int j = 0; j < c && k < lit_pairs; ++j, ++k) {
    std::string rec;
    if (oracle::optimize(cand[0], cand[j], 0, rec) == 1) lit_rec += rec;
  }
  double tl = now() - t0;
  if (rec1.compare(0, lit_rec.size(), lit_rec) != 0) die("pair records differ from the literal ones");
  double per_fast = t1 / n_pairs, per_lit = tl / k;
  std::printf("\npair_search: %d samples, %d candidates, %ld pairs\n", n_samp, c, n_pairs);
  std::printf("  fast, 1 thread:   %.3f s (%.1f us/pair; best of 5)\n", t1, per_fast * 1e6);
  std::printf("  fast, 2 threads:  %.3f s (%.2fx of 1 thread)\n", t2, t1 / t2);
  std::printf("  literal:          %.3f s for %d pairs (%.1f ms/pair), records identical\n", tl, k,
              per_lit * 1e3);
  std::printf("  speed-up:         %.0fx per pair\n", per_lit / per_fast);

#ifdef PAIR_SEARCH_BIN
  std::remove((dir + "/mem.rec").c_str());
  long kib = peak_kib({PAIR_SEARCH_BIN, "-q", tab_a, rank_a, "0", std::to_string(c), dir + "/mem.rec"});
  double table_kib = static_cast<double>(n_prob) * n_samp * 8 / 1024;
  double mat_kib = static_cast<double>(n_samp) * n_samp * 8 / 1024;
  std::printf("  peak memory of pair_search over the whole range: %ld KiB (table %.0f KiB, one matrix %.0f KiB)\n",
              kib, table_kib, mat_kib);
#endif

  // ---- probe_rank ----
  const int n_rank = quick ? 2000 : 10000;
  const std::string tab_b = dir + "/rank.tsv", tab_c = dir + "/rank_head.tsv";
  std::string big = make_table(128, n_rank / 2, n_rank - n_rank / 2, 11);
  spit(tab_b, big);
  // the first lit_probes rows of the same table, for the literal ranking
  size_t cutpos = 0;
  for (int line = 0; line < lit_probes + 2 && cutpos != std::string::npos; ++line)
    cutpos = big.find('\n', cutpos) + 1;
  spit(tab_c, big.substr(0, cutpos));
  load_core(tab_b);
  t0 = now();
  std::string r1 = rank_text(rank_probes(1, {}));
  double rt1 = now() - t0;
  t0 = now();
  std::string r2 = rank_text(rank_probes(2, {}));
  double rt2 = now() - t0;
  if (r1 != r2) die("ranked lists differ between 1 and 2 threads");
  load_core(tab_c);
  t0 = now();
  std::string rh = rank_text(rank_probes(1, {}));
  double rth = now() - t0;
  t0 = now();
  std::string rl = oracle::rank_list(tab_c);
  double rtl = now() - t0;
  if (rh != rl) die("ranked list of the first probes differs from the literal one");
  std::printf("\nprobe_rank: 128 samples x %d probes\n", n_rank);
  std::printf("  fast, 1 thread:   %.3f s (%.1f us/probe)\n", rt1, rt1 / n_rank * 1e6);
  std::printf("  fast, 2 threads:  %.3f s (%.2fx of 1 thread)\n", rt2, rt1 / rt2);
  std::printf("  literal:          %.3f s for the first %d probes (%.1f us/probe), list identical\n", rtl,
              lit_probes, rtl / lit_probes * 1e6);
  std::printf("  speed-up:         %.0fx per probe (fast on the same %d probes: %.3f s)\n",
              (rtl / lit_probes) / (rt1 / n_rank), lit_probes, rth);
  return 0;
}
