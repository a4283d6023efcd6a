// pair_signif: permutation significance of every pair of a finished search.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>

#include "cli.h"
#include "rank.h"
#include "sig.h"
#include "synergy.h"

namespace {

const char* const prog = "pair_signif";
const char* const usage_line =
    "usage: pair_signif [-t N] [-q] [--perm B] [--seed S] [--hits H] [--bound X] [--search-null NULL]\n"
    "                   EXPR RANKED RECORDS OUT\n"
    "       pair_signif --null-line SEED [--bound X] EXPR RANKED RECORDS";

void help() {
  std::printf(
      "%s\n"
      "\n"
      "For every distinct pair of the pair records RECORDS (from pair_search on EXPR\n"
      "and RANKED; one run or shards concatenated, plain or gzip), estimate how often\n"
      "shuffled labels give a base synergy at least as high, counting only shufflings\n"
      "under which both probes stay candidates, and write OUT (tab-separated):\n"
      "first second base final flips p q [p_search] perms admissible hits,\n"
      "sorted by p. A pair stops after H hits (p = H / admissible) or at B\n"
      "shufflings (p = (hits + 1) / (admissible + 1)); q is the Benjamini-Hochberg\n"
      "q-value over all lines.\n"
      "\n"
      "Options (before the arguments):\n"
      "  -t, --threads N       worker threads (default 1; 0 = all cores); OUT is the\n"
      "                        same for every N\n"
      "  -q, --quiet           no progress display on a terminal\n"
      "      --perm B          shufflings drawn at most per pair (default %llu)\n"
      "      --seed S          seed of the shufflings (default %llu)\n"
      "      --hits H          hits that stop a pair (default %d)\n"
      "      --bound X         candidate bound of the search (default %g)\n"
      "      --search-null F   search-null file (lines of --null-line): adds p_search,\n"
      "                        the share of shuffled-label searches whose best final\n"
      "                        synergy is at least the pair's, as (1 + count) / (1 + K)\n"
      "      --null-line SEED  for a search run with --shuffle-labels SEED, print its\n"
      "                        search-null line (seed, candidates, best base, best final)\n"
      "  -h, --help            show this help and exit\n"
      "      --version         show the version and exit\n"
      "\n"
      "Exit status: 0 on success, 2 on an error (OUT is then left as it was).\n",
      usage_line, static_cast<unsigned long long>(SIG_PERM), static_cast<unsigned long long>(SIG_SEED), SIG_HITS,
      CAND_BOUND);
}

int bad_usage(const std::string& why) {
  std::fprintf(stderr, "%s: %s\n%s\n", prog, why.c_str(), usage_line);
  return 2;
}

int fail(const char* msg) {
  std::fprintf(stderr, "%s: %s\n", prog, msg);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  sig_opt o;
  bool quiet = false, null_mode = false;
  uint64_t null_seed = 0;
  const char* null_path = nullptr;
  int k = 1;
  for (; k < argc && argv[k][0] == '-' && argv[k][1] != '\0'; ++k) {
    std::string a = argv[k];
    if (a == "--") {
      ++k;
      break;
    }
    if (a == "-h" || a == "--help") {
      help();
      return 0;
    }
    if (a == "--version") {
      std::printf("%s %s\n", prog, SYN_VERSION);
      return 0;
    }
    if (a == "-q" || a == "--quiet") {
      quiet = true;
      continue;
    }
    if (std::string why; thread_opt(argc, argv, k, o.n_thr, why)) {
      if (!why.empty()) return bad_usage(why);
      continue;
    }
    if (a != "--perm" && a != "--seed" && a != "--hits" && a != "--bound" && a != "--search-null" &&
        a != "--null-line")
      return bad_usage("unknown option '" + a + "'");
    if (k + 1 >= argc) return bad_usage("option " + a + " needs a value");
    const char* v = argv[++k];
    uint64_t x = 0;
    if (a == "--search-null") {
      null_path = v;
    } else if (a == "--bound") {
      char* e = nullptr;
      o.bound = std::strtod(v, &e);
      if (!*v || *e || !std::isfinite(o.bound)) return bad_usage("--bound '" + std::string(v) + "' is not a number");
    } else if (!parse_u64(v, x)) {
      return bad_usage(a + " '" + v + "' is not a whole number");
    } else if (a == "--perm") {
      if (x == 0) return bad_usage("--perm must be at least 1");
      o.cap = x;
    } else if (a == "--seed") {
      o.seed = x;
    } else if (a == "--hits") {
      if (x == 0 || x > 1000000) return bad_usage("--hits must be from 1 to 1000000");
      o.hits = static_cast<int>(x);
    } else {
      null_mode = true;
      null_seed = x;
    }
  }

  try {
    if (null_mode) {
      if (argc - k != 3) return bad_usage(argc - k < 3 ? "missing arguments" : "too many arguments");
      load_exp(argv[k]);
      shuffle_phe(null_seed);
      const int n_cand = count_cand(argv[k + 1], o.bound);
      sig_in in = read_pairs(argv[k + 2], o.n_thr);
      sig_bases(in.pr, o.n_thr);
      std::fputs(null_line(null_seed, n_cand, in).c_str(), stdout);
      if (std::fflush(stdout) != 0) return fail("standard output: write failed");
      return 0;
    }
    if (argc - k != 4) return bad_usage(argc - k < 4 ? "missing arguments" : "too many arguments");
    const std::string out = argv[k + 3];
    check_out(out);  // before the long work, not after it
    load_exp(argv[k]);
    count_cand(argv[k + 1], o.bound);  // the list must come from this table
    sig_in in = read_pairs(argv[k + 2], o.n_thr);
    std::vector<double> null_final;
    if (null_path) null_final = read_null(null_path);
    if (in.pr.empty()) std::fprintf(stderr, "%s: %s holds no pair record: %s has the header only\n", prog, argv[k + 2], out.c_str());
    {
      meter show(prog, "pairs settled", static_cast<long>(in.pr.size()), !quiet);
      sig_run(in.pr, o, [&](long done) { show(done); });
    }
    write_whole(out, sig_table(in, null_path ? &null_final : nullptr));
  } catch (const syn_error& e) {
    return fail(e.what());
  } catch (const std::bad_alloc&) {
    return fail("out of memory");
  } catch (const std::exception& e) {
    return fail(e.what());
  }
  return 0;
}
