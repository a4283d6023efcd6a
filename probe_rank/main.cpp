// probe_rank: rank every probe of an expression table by its single-probe score.
#include <sched.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "cli.h"
#include "rank.h"
#include "synergy.h"

namespace {

const char* const prog = "probe_rank";
const char* const usage_line = "usage: probe_rank [-t N] [-q] EXPR OUT";

void help() {
  std::printf(
      "%s\n"
      "\n"
      "Score every probe of the expression table EXPR (tab-separated, plain or\n"
      "gzip) by the label entropy, in bits, left inside the clusters of its\n"
      "samples (average linkage, cut at merge height %g), and write all probes to\n"
      "OUT, highest score first, one line each: name, probe number, score, number\n"
      "of clusters. Probes without a partition come last with score %g.\n"
      "\n"
      "Options (before EXPR):\n"
      "  -t, --threads N  worker threads (default 1; 0 = all cores)\n"
      "  -q, --quiet      no progress display on a terminal\n"
      "  -h, --help       show this help and exit\n"
      "      --version    show the version and exit\n"
      "\n"
      "Exit status: 1 after a complete run, 2 on an error (OUT is then left as it\n"
      "was), 0 for --help and --version.\n",
      usage_line, cut, NO_PART);
}

int bad_usage(const std::string& why) {
  std::fprintf(stderr, "%s: %s\n%s\n", prog, why.c_str(), usage_line);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  int n_thr = 1;
  bool quiet = false;
  bool shuffle = false;
  unsigned long long shuffle_seed = 0;
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
    } else if (a == "--shuffle-labels") {
      // shuffled-label run of the search-level null: labels permuted after loading
      char* e = nullptr;
      if (k + 1 >= argc || argv[k + 1][0] < '0' || argv[k + 1][0] > '9' ||
          (errno = 0, shuffle_seed = std::strtoull(argv[k + 1], &e, 10), *e != '\0' || errno == ERANGE))
        return bad_usage("option --shuffle-labels needs a whole number");
      shuffle = true;
      ++k;
    } else if (std::string why; thread_opt(argc, argv, k, n_thr, why)) {
      if (!why.empty()) return bad_usage(why);
    } else {
      return bad_usage("unknown option '" + a + "'");
    }
  }
  if (argc - k != 2) return bad_usage(argc - k < 2 ? "missing arguments" : "too many arguments");
  const char* in_path = argv[k];
  std::string out_path = argv[k + 1];

  try {
    check_out(out_path);  // before the long scoring, not after it
    load_exp(in_path);
    if (shuffle) shuffle_phe(shuffle_seed);
    meter show(prog, "probes scored", n_prob, !quiet);
    std::vector<rank_row> rows = rank_probes(n_thr, [&](long done) { show(done); });
    write_whole(out_path, rank_text(rows));
  } catch (const syn_error& e) {
    std::fprintf(stderr, "%s: %s\n", prog, e.what());
    return 2;
  } catch (const std::bad_alloc&) {
    std::fprintf(stderr, "%s: out of memory\n", prog);
    return 2;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s: %s\n", prog, e.what());
    return 2;
  }
  return 1;
}
