// syn_bench: speed of the fast path against the literal step order of
// tests/oracle, on generated and real-shaped tables, with byte-identity checks.
//
//   syn_bench [--quick] [--all PATH] [--whole] [--rounded] [--lit-pairs K]
//             [--lit-probes P] [--sizes 250,500,1000,2000] [--reps R] [--dir D]
//
// Rows (one thread unless said; fast times are best of R):
//   grid      100 samples, values on a grid, blobs 0.5 apart, about 40
//             candidates; probe_rank on 128 samples x 10000 probes of that kind
//   example   the bundled 79-sample table (examples/all_bcr_abl_500.tsv)
//   ALL       the whole B-cell ALL table (79 samples, 12625 probes), given by
//             --all PATH or the environment variable SYN_ALL_TABLE; build it with
//             Rscript bench/make_all_bcrb.R all_bcrb.tsv
//             (needs R and the ALL data package). Rows: the search over the
//             candidates of its first 2000 probes, probe_rank on the whole
//             table, and with --whole the search over all its candidates on
//             2 threads.
//   grown     tables of 250 ... 2000 samples grown from the ALL table (or the
//             example) by bench/grow.h: per probe and per pair, growth exponent
//             between sizes, peak memory of pair_search at the largest size.
//   rounded   the grown tables (first 100 probes) and generated normal tables
//             (100 probes) at the sizes from 1000 on, with six decimals and
//             rounded to 1, 2, 3, 4: probe_rank and a pair_search range, one
//             thread, each against its six-decimal table, with a literal check
//             on a sample; --rounded runs these rows alone.
// The literal search runs K pairs spread over the range (each costs
// 1 + n_samp * (passes + 1) pair scorings); the ratio is per pair. Nothing here
// passes or fails but a byte difference.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "gen.h"
#include "grow.h"
#include "oracle/oracle.h"
#include "rank.h"
#include "search.h"
#include "fast.h"
#include "par.h"
#include "synergy.h"

namespace {

double now() {
  using clk = std::chrono::steady_clock;
  return std::chrono::duration<double>(clk::now().time_since_epoch()).count();
}

// CPU time of the whole process (all threads), in seconds: beside the wall
// time it shows whether the threads had cores to themselves on a shared machine.
double cpu_now() {
  struct rusage ru {};
  getrusage(RUSAGE_SELF, &ru);
  return ru.ru_utime.tv_sec + ru.ru_stime.tv_sec + (ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) * 1e-6;
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

// The header, label line and first n_rows probe rows of a table's text.
std::string head_rows(const std::string& text, int n_rows) {
  size_t pos = 0;
  for (int line = 0; line < n_rows + 2 && pos != std::string::npos; ++line) {
    pos = text.find('\n', pos);
    if (pos != std::string::npos) ++pos;
  }
  return pos == std::string::npos ? text : text.substr(0, pos);
}

// Fast search over the whole candidate range into rec_path; returns seconds.
double fast_search(const std::vector<int>& cand, int n_thr, const std::string& rec_path,
                   const std::string& prog_path) {
  std::remove(rec_path.c_str());
  std::FILE* prog = std::fopen(prog_path.c_str(), "wb");
  if (!prog) die("cannot write " + prog_path);
  double t0 = now();
  {
    rec_out rec(rec_path);
    run_search(cand, 0, static_cast<int>(cand.size()), n_thr, rec, prog, {});
  }
  double t = now() - t0;
  std::fclose(prog);
  return t;
}

// Peak resident memory (KiB) of a child running argv: its VmHWM, read from
// /proc while it runs (the rusage of a forked child would count the pages it
// shared with this process before the exec).
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
  const std::string st = "/proc/" + std::to_string(pid) + "/status";
  // readings before the exec (still this program's copy) do not count
  std::string name = args[0].substr(args[0].rfind('/') + 1).substr(0, 15);
  long kib = 0;
  for (;;) {
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) == pid) break;
    std::ifstream in(st);
    std::string line;
    bool ours = false;
    while (std::getline(in, line)) {
      if (line.compare(0, 5, "Name:") == 0) ours = line.find(name) != std::string::npos;
      if (ours && line.compare(0, 6, "VmHWM:") == 0) kib = std::max(kib, std::atol(line.c_str() + 6));
    }
    usleep(1000);
  }
  return kib;
}

struct opts {
  int lit_pairs = 6, lit_probes = 1000, reps = 5;
  std::string dir = "/tmp/syn_bench";
};

// Rank the loaded table and return its candidates; the ranked list goes to
// rank_path.
std::vector<int> rank_and_cand(const std::string& rank_path, std::string* ranked = nullptr) {
  std::string r = rank_text(rank_probes(1, {}));
  spit(rank_path, r);
  if (ranked) *ranked = r;
  return read_cand(rank_path, n_prob);
}

// Search over all candidates of the table at path: fast on 1 and 2 threads
// (records and progress identical), literal on K pairs spread over the range.
void search_row(const char* what, const std::string& path, const opts& o, bool check_rank) {
  const std::string rank_path = o.dir + "/row.rank";
  load_exp(path.c_str());
  std::string ranked;
  std::vector<int> cand = rank_and_cand(rank_path, &ranked);
  const int c = static_cast<int>(cand.size());
  if (c == 0) die(std::string("no candidates in ") + path);
  const long n_pairs = static_cast<long>(c) * c;
  double t1 = 1e30, t2 = 1e30, c2 = 0;
  for (int rep = 0; rep < o.reps; ++rep) {
    t1 = std::min(t1, fast_search(cand, 1, o.dir + "/fast1.rec", o.dir + "/fast1.prog"));
    double c0 = cpu_now();
    double t = fast_search(cand, 2, o.dir + "/fast2.rec", o.dir + "/fast2.prog");
    if (t < t2) {
      t2 = t;
      c2 = cpu_now() - c0;
    }
  }
  if (slurp(o.dir + "/fast1.rec") != slurp(o.dir + "/fast2.rec") ||
      slurp(o.dir + "/fast1.prog") != slurp(o.dir + "/fast2.prog"))
    die("2 threads wrote other bytes than 1 thread");
  // the sampled pairs, fast and literal
  std::vector<part> sp(c);
  work w;
  work_init(w);
  for (int k = 0; k < c; ++k) sin_part(cand[k], w, sp[k]);
  std::vector<long> pick;
  for (int k = 0; k < o.lit_pairs; ++k) pick.push_back(n_pairs * k / o.lit_pairs + (k * 7919L) % std::max(1L, n_pairs / o.lit_pairs));
  std::vector<std::string> fast_rec;
  pair_res r;
  for (long k : pick) {
    int i = static_cast<int>(k / c), j = static_cast<int>(k % c);
    fast_rec.push_back(flip_search(cand[i], cand[j], 0, sp[i], sp[j], w, r) == 1
                           ? pair_record(cand[i], cand[j], r.best, r.lab.data(), r.cid.data())
                           : "");
  }
  oracle::load(path);
  if (check_rank && oracle::rank_list(path) != ranked) die("ranked list differs from the literal one");
  double t0 = now();
  for (size_t k = 0; k < pick.size(); ++k) {
    int i = static_cast<int>(pick[k] / c), j = static_cast<int>(pick[k] % c);
    std::string rec;
    oracle::optimize(cand[i], cand[j], 0, rec);
    if (rec != fast_rec[k]) die("pair record differs from the literal one");
  }
  double tl = now() - t0;
  double per_fast = t1 / n_pairs, per_lit = tl / std::max<size_t>(1, pick.size());
  std::printf("\npair_search, %s: %d samples, %d candidates, %ld pairs\n", what, n_samp, c, n_pairs);
  std::printf("  fast, 1 thread:   %.3f s (%.1f us/pair; best of %d)\n", t1, per_fast * 1e6, o.reps);
  std::printf("  fast, 2 threads:  %.3f s (%.2fx of 1 thread; CPU time %.3f s)\n", t2, t1 / t2, c2);
  if (!pick.empty()) {
    std::printf("  literal:          %.3f s for %zu pairs spread over the range (%.1f ms/pair), records identical\n",
                tl, pick.size(), per_lit * 1e3);
    std::printf("  speed-up:         %.0fx per pair\n", per_lit / per_fast);
  }
#ifdef PAIR_SEARCH_BIN
  std::remove((o.dir + "/mem.rec").c_str());
  long kib = peak_kib({PAIR_SEARCH_BIN, "-q", path, rank_path, "0", std::to_string(c), o.dir + "/mem.rec"});
  std::printf("  peak memory of pair_search over the whole range: %ld KiB (table %.0f KiB, one matrix %.0f KiB)\n",
              kib, static_cast<double>(n_prob) * n_samp * 8 / 1024, static_cast<double>(n_samp) * n_samp * 8 / 1024);
#endif
}

// probe_rank on the table text: the whole run (load, score, list) and the
// scoring alone, fast against literal on the first lit_probes probes (all when 0).
void rank_bench(const char* what, const std::string& text, const opts& o) {
  const std::string path = o.dir + "/rank.tsv", head = o.dir + "/rank_head.tsv";
  spit(path, text);
  double tw = 1e30, ts = 1e30;
  std::string r1;
  for (int rep = 0; rep < std::max(1, o.reps / 2); ++rep) {
    double t0 = now();
    load_exp(path.c_str());
    double t1 = now();
    r1 = rank_text(rank_probes(1, {}));
    double t2 = now();
    tw = std::min(tw, t2 - t0);
    ts = std::min(ts, t2 - t1);
  }
  const int np = n_prob;
  double t0 = now();
  std::string r2 = rank_text(rank_probes(2, {}));
  double tt = now() - t0;
  if (r1 != r2) die("ranked lists differ between 1 and 2 threads");
  const int lp = o.lit_probes > 0 && o.lit_probes < np ? o.lit_probes : np;
  spit(head, head_rows(text, lp));
  load_exp(head.c_str());
  std::string rh = rank_text(rank_probes(1, {}));
  t0 = now();
  oracle::load(head);
  double tload = now() - t0;
  t0 = now();
  std::string rl = oracle::rank_list(head);
  double tl = now() - t0;  // rank_list reads the table again
  if (rh != rl) die("ranked list differs from the literal one");
  double lit_score = std::max(1e-9, tl - tload);
  std::printf("\nprobe_rank, %s: %d samples x %d probes\n", what, n_samp, np);
  std::printf("  fast, 1 thread:   %.3f s whole run, of which scoring %.3f s (%.1f us/probe)\n", tw, ts,
              ts / np * 1e6);
  std::printf("  fast, 2 threads:  scoring %.3f s (%.2fx of 1 thread)\n", tt, ts / tt);
  std::printf("  literal:          %.3f s for %d probes (read %.3f s, scoring %.1f us/probe), list identical\n", tl,
              lp, tload, lit_score / lp * 1e6);
  std::printf("  speed-up:         %.1fx per probe scored; %.1fx for the whole run\n",
              (lit_score / lp) / (ts / np), (tl / lp) / (tw / np));
}

// Tables grown from src at each size: per probe and per pair of the fast path.
void grown_rows(const grow::table& src, const std::vector<int>& sizes, const opts& o) {
  // the candidates at the source's own size (the first 40), and 40 fixed pairs
  const std::string sp_path = o.dir + "/grow_src.tsv";
  spit(sp_path, grow::text(src));
  load_exp(sp_path.c_str());
  std::vector<int> rows;
  {
    work w;
    work_init(w);
    part pt;
    for (int p = 0; p < n_prob && rows.size() < 40; ++p) {
      sin_part(p, w, pt);
      if (part_ent(pt, ini_phe.data(), w) > CAND_BOUND) rows.push_back(p);
    }
  }
  const int c = static_cast<int>(rows.size());
  if (c == 0) die("no candidates to grow");
  std::vector<std::pair<int, int>> pairs;
  rng pick(42);
  for (int k = 0; k < 40; ++k) pairs.push_back({static_cast<int>(pick.below(c)), static_cast<int>(pick.below(c))});
  std::printf("\ngrown tables: %d candidates of the source drawn per label class with noise sd 0.05, "
              "%zu fixed pairs, best of %d\n", c, pairs.size(), std::max(1, o.reps / 2));
  // runs: the share of single-probe groups of 2 or more samples clustered as
  // runs of their values, not from their matrix
  std::printf("  %8s %12s %12s %14s %8s\n", "samples", "us/probe", "us/pair", "exponent/pair", "runs");
  double last_n = 0, last_t = 0;
  std::string last_path, last_rank;
  for (int n : sizes) {
    grow::table g = grow::make(src, n, 1000 + static_cast<uint64_t>(n), 0.05, rows);
    const std::string gp = o.dir + "/grow_" + std::to_string(n) + ".tsv";
    spit(gp, grow::text(g));
    load_exp(gp.c_str());
    work w;
    work_init(w);
    std::vector<part> sp(c);
    pair_res r;
    double tp = 1e30, tq = 1e30;
    for (int rep = 0; rep < std::max(1, o.reps / 2); ++rep) {
      double t0 = now();
      for (int k = 0; k < c; ++k) sin_part(k, w, sp[k]);
      tp = std::min(tp, now() - t0);
      t0 = now();
      for (auto [i, j] : pairs) flip_search(i, j, 0, sp[i], sp[j], w, r);
      tq = std::min(tq, now() - t0);
    }
    double per = tq / pairs.size();
    char ex[16] = "";
    if (last_n > 0) std::snprintf(ex, sizeof ex, "%.2f", std::log(per / last_t) / std::log(n / last_n));
    const double runs = 100.0 * static_cast<double>(w.n_run) / static_cast<double>(std::max(1L, w.n_run + w.n_mat));
    std::printf("  %8d %12.1f %12.1f %14s %7.0f%%\n", n, tp / c * 1e6, per * 1e6, ex, runs);
    std::fflush(stdout);
    last_n = n;
    last_t = per;
    last_path = gp;
  }
#ifdef PAIR_SEARCH_BIN
  // every grown probe as a candidate: a ranked list of them, one row of pairs
  std::string rk;
  // (named as the last grown table, which is still loaded, names them)
  for (int k = 0; k < c; ++k) rk += probe[k] + "\t" + std::to_string(k) + "\t1\t2\n";
  last_rank = o.dir + "/grow.rank";
  spit(last_rank, rk);
  std::remove((o.dir + "/grow_mem.rec").c_str());
  long kib = peak_kib({PAIR_SEARCH_BIN, "-q", last_path, last_rank, "0", "1", o.dir + "/grow_mem.rec"});
  std::printf("  peak memory of pair_search at %d samples (%d pairs): %ld KiB (table %.0f KiB, one matrix %.0f KiB)\n",
              static_cast<int>(last_n), c, kib, last_n * c * 8 / 1024, last_n * last_n * 8 / 1024);
#endif
}

// One table of the rounded rows, loaded: probe_rank's scoring and a
// pair_search range (candidate 0 against every candidate), one thread, each
// timed once; the ranked list into *ranked, the candidate count into n_cand.
std::pair<double, double> rounded_once(const opts& o, std::string* ranked, int& n_cand) {
  double t0 = now();
  *ranked = rank_text(rank_probes(1, {}));
  const double tr = now() - t0;
  const std::string rank_path = o.dir + "/rounded.rank";
  spit(rank_path, *ranked);
  const std::vector<int> cand = read_cand(rank_path, n_prob);
  n_cand = static_cast<int>(cand.size());
  if (cand.empty()) die("no candidates in a rounded table");
  std::remove((o.dir + "/rounded.rec").c_str());
  std::FILE* prog = std::fopen((o.dir + "/rounded.prog").c_str(), "wb");
  if (!prog) die("cannot write " + o.dir + "/rounded.prog");
  t0 = now();
  {
    rec_out rec(o.dir + "/rounded.rec");
    run_search(cand, 0, 1, 1, rec, prog, {});
  }
  const double ts = now() - t0;
  std::fclose(prog);
  return {tr, ts};
}

// The literal step order on a sample of the table at path (loaded, ranked
// list given): two probes' ranked lines and the joint partitions of two
// candidate pairs (Chebyshev, as pair_search takes them).
void rounded_literal(const std::string& path, const std::string& ranked) {
  const std::vector<int> cand = read_cand(path + ".rank", n_prob);
  work w;
  work_init(w);
  const int c1 = cand[0], c2 = cand[cand.size() / 2], c3 = cand.back();
  std::vector<part> sp(n_prob);
  for (int p : {c1, c2, c3}) sin_part(p, w, sp[p]);
  part j1, j2;
  two_part(c1, c2, 0, sp[c1], sp[c2], w, j1);
  two_part(c3, c1, 0, sp[c3], sp[c1], w, j2);
  oracle::load(path);
  for (int p : {0, n_prob / 2}) {
    rank_row r;
    r.p = p;
    r.score = oracle::sin_syn(p, oracle::labels());
    r.n_cl = r.score == NO_PART ? 1 : *std::max_element(oracle::s_cid().begin(), oracle::s_cid().end()) + 1;
    if (("\n" + ranked).find("\n" + rank_text({r})) == std::string::npos)
      die("ranked line of probe " + std::to_string(p) + " differs from the literal one in " + path);
  }
  const std::pair<int, int> pr[2] = {{c1, c2}, {c3, c1}};
  const part* jp[2] = {&j1, &j2};
  for (int k = 0; k < 2; ++k) {
    int n_cl = 0;
    const std::vector<int> c = gen::cid_of(oracle::two_part(pr[k].first, pr[k].second, 0), n_samp, n_cl);
    if (jp[k]->n_cl != n_cl || (n_cl > 0 && jp[k]->cid != c))
      die("joint partition of a pair differs from the literal one in " + path);
  }
}

// Tables rounded to 1 to 4 decimals beside the same tables with six: grown
// from src (its first 300 probes) and generated normal values (100 probes,
// mean 4 to 10, sd 0.2 to 1), at each size. The five roundings of a table
// are timed in turn, R rounds, best of each: on a loaded machine that keeps
// them comparable.
void rounded_rows(const grow::table& src, const std::vector<int>& sizes, const opts& o) {
  std::printf("\nrounded tables, one thread, best of %d rounds over the five roundings in turn:\n"
              "probe_rank scoring and pair_search over candidate 0 against all candidates (per pair: one single and one joint\n"
              "partition); ratios against the same table with six decimals; every table checked against the\n"
              "literal step order on two probes' ranked lines and two candidate pairs' joint partitions\n",
              o.reps);
  std::printf("  %-7s %7s %8s %8s %9s %6s %5s %10s %6s\n", "table", "samples", "decimals", "probes", "rank s",
              "ratio", "cand", "us/pair", "ratio");
  std::vector<int> rows;
  for (int p = 0; p < 300 && p < static_cast<int>(src.val.size()); ++p) rows.push_back(p);
  const int decs[5] = {6, 1, 2, 3, 4};
  for (int kind = 0; kind < 2; ++kind)
    for (int n : sizes) {
      const grow::table t = kind == 0 ? grow::make(src, n, 3000 + static_cast<uint64_t>(n), 0.05, rows)
                                      : grow::normal_table(n, 100, 4000 + static_cast<uint64_t>(n));
      double tr[5], ts[5];
      int nc[5];
      std::string ranked[5];
      for (int k = 0; k < 5; ++k) {
        tr[k] = ts[k] = 1e30;
        spit(o.dir + "/rounded" + std::to_string(k) + ".tsv", grow::text(t, decs[k]));
      }
      for (int rep = 0; rep < o.reps; ++rep)
        for (int k = 0; k < 5; ++k) {
          load_exp((o.dir + "/rounded" + std::to_string(k) + ".tsv").c_str());
          const auto [a, b] = rounded_once(o, &ranked[k], nc[k]);
          tr[k] = std::min(tr[k], a);
          ts[k] = std::min(ts[k], b / nc[k]);
        }
      for (int k = 0; k < 5; ++k) {
        const std::string path = o.dir + "/rounded" + std::to_string(k) + ".tsv";
        load_exp(path.c_str());
        spit(path + ".rank", ranked[k]);
        rounded_literal(path, ranked[k]);
        std::printf("  %-7s %7d %8d %8d %9.3f %6.2f %5d %10.1f %6.2f\n", kind == 0 ? "grown" : "normal", n,
                    decs[k], n_prob, tr[k], tr[k] / tr[0], nc[k], ts[k] * 1e6, ts[k] / ts[0]);
        std::fflush(stdout);
      }
    }
}

}  // namespace

int main(int argc, char** argv) {
  opts o;
  std::string all = std::getenv("SYN_ALL_TABLE") ? std::getenv("SYN_ALL_TABLE") : "";
  std::string sizes_s = "250,500,1000,2000";
  bool quick = false, whole = false, rounded = false;
  for (int k = 1; k < argc; ++k) {
    std::string a = argv[k];
    if (a == "--quick") {
      quick = true;
      o.lit_pairs = 2;
      o.lit_probes = 100;
      o.reps = 2;
      sizes_s = "250,500";
    } else if (a == "--whole") {
      whole = true;
    } else if (a == "--rounded") {
      rounded = true;
    } else if (a == "--all" && k + 1 < argc) {
      all = argv[++k];
    } else if (a == "--lit-pairs" && k + 1 < argc) {
      o.lit_pairs = std::atoi(argv[++k]);
    } else if (a == "--lit-probes" && k + 1 < argc) {
      o.lit_probes = std::atoi(argv[++k]);
    } else if (a == "--reps" && k + 1 < argc) {
      o.reps = std::max(1, std::atoi(argv[++k]));
    } else if (a == "--sizes" && k + 1 < argc) {
      sizes_s = argv[++k];
    } else if (a == "--dir" && k + 1 < argc) {
      o.dir = argv[++k];
    } else {
      std::printf("usage: syn_bench [--quick] [--all PATH] [--whole] [--rounded] [--lit-pairs K] "
                  "[--lit-probes P] "
                  "[--sizes 250,500,1000,2000] [--reps R] [--dir D]\n");
      return a == "--help" ? 0 : 2;
    }
  }
  std::vector<int> sizes;
  for (size_t a = 0; a < sizes_s.size();) {
    if (int n = std::atoi(sizes_s.c_str() + a); n >= 2) sizes.push_back(n);
    size_t b = sizes_s.find(',', a);
    a = b == std::string::npos ? sizes_s.size() : b + 1;
  }
  if (std::system(("mkdir -p '" + o.dir + "'").c_str()) != 0) die("cannot make " + o.dir);
  std::printf("command: syn_bench%s%s%s%s --lit-pairs %d --lit-probes %d --reps %d --sizes %s\n",
              quick ? " --quick" : "", all.empty() ? "" : (" --all " + all).c_str(), whole ? " --whole" : "",
              rounded ? " --rounded" : "", o.lit_pairs, o.lit_probes, o.reps, sizes_s.c_str());
  std::vector<int> big;  // sizes of the rounded rows
  for (int n : sizes)
    if (n >= 1000) big.push_back(n);
  if (quick) big = {1000};
  if (rounded) {
    const std::string src = all.empty() ? std::string(SYN_SOURCE_DIR) + "/examples/all_bcr_abl_500.tsv" : all;
    rounded_rows(grow::read(src, 2000), big, o);
    return 0;
  }

  // ---- generated grid tables ----
  const std::string tab_a = o.dir + "/grid.tsv";
  spit(tab_a, make_table(100, 52, 12, 7));
  search_row("grid table", tab_a, o, true);
  const int n_rank = quick ? 2000 : 10000;
  rank_bench("grid table", make_table(128, n_rank / 2, n_rank - n_rank / 2, 11), o);

  // ---- the bundled example ----
  const std::string ex = std::string(SYN_SOURCE_DIR) + "/examples/all_bcr_abl_500.tsv";
  search_row("bundled example", ex, o, true);

  // ---- the whole B-cell ALL table ----
  std::string src_path = ex;
  if (all.empty() || access(all.c_str(), R_OK) != 0) {
    std::printf("\nwhole B-cell ALL table %s: give it with --all PATH or SYN_ALL_TABLE; build it with\n"
                "  Rscript bench/make_all_bcrb.R all_bcrb.tsv\n"
                "(the tables below are grown from the bundled example instead)\n",
                all.empty() ? "not given" : ("not readable: " + all).c_str());
  } else {
    src_path = all;
    const std::string all_text = slurp(all);
    const std::string head = o.dir + "/all_2000.tsv";
    spit(head, head_rows(all_text, 2000));
    search_row("ALL candidates of the first 2000 probes", head, o, true);
    opts lo = o;
    lo.lit_probes = quick ? 500 : 0;  // literal ranking of the whole table
    rank_bench("whole ALL table", all_text, lo);
    if (whole) {
      load_exp(all.c_str());
      std::vector<int> cand = rank_and_cand(o.dir + "/all.rank");
      const double np = static_cast<double>(cand.size()) * static_cast<double>(cand.size());
      double c0 = cpu_now();
      double t2 = fast_search(cand, 2, o.dir + "/all2.rec", o.dir + "/all2.prog");
      double c2 = cpu_now() - c0;
      std::printf("\npair_search, whole ALL table: %d candidates, %.0f pairs\n", static_cast<int>(cand.size()), np);
      std::printf("  fast, 2 threads:  %.2f s (%.1f us/pair), CPU time %.2f s (%.1f us/pair; 2 cores to itself "
                  "would give CPU = 2 x wall)\n",
                  t2, t2 / np * 1e6, c2, c2 / np * 1e6);
    }
  }

  // ---- tables grown from the real samples, and rounded ----
  const grow::table src = grow::read(src_path, 2000);
  grown_rows(src, sizes, o);
  rounded_rows(src, big, o);
  return 0;
}
