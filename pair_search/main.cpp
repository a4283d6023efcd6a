// pair_search: greedy label-flip search over pairs of candidate probes.
#include <sched.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "cli.h"
#include "search.h"
#include "synergy.h"

namespace {

const char* const prog = "pair_search";
const char* const usage_line =
    "usage: pair_search [-t N] [-q] EXPR RANKED START END RECORDS\n"
    "       pair_search --count-candidates RANKED";

void help() {
  std::printf(
      "%s\n"
      "\n"
      "Take as candidates the leading probes of the ranked list RANKED (written by\n"
      "probe_rank from the same table) whose score is above %g. For every candidate\n"
      "position i in [START, END) and every candidate position j, search the\n"
      "relabelling of the samples that raises the synergy of the pair: one label\n"
      "flip per pass, the best one, while it gains more than %g. Append each pair\n"
      "that has a partition to RECORDS as two lines (best synergy and labels; \"-9\"\n"
      "and joint cluster numbers) and print \"i<TAB>j\" on standard output after\n"
      "every pair. EXPR may be gzip-compressed.\n"
      "\n"
      "Options (before the arguments):\n"
      "  -t, --threads N           worker threads (default 1; 0 = all cores);\n"
      "                            the output is the same for every N\n"
      "  -q, --quiet               no progress display on a terminal\n"
      "      --count-candidates R  print the number of candidates in the ranked\n"
      "                            list R and exit\n"
      "  -h, --help                show this help and exit\n"
      "      --version             show the version and exit\n"
      "\n"
      "Exit status: 1 after a complete run, 2 on an error (records already\n"
      "appended stay, each one whole), 0 for --help, --version and\n"
      "--count-candidates.\n",
      usage_line, CAND_BOUND, IMP_MARGIN);
}

int bad_usage(const std::string& why) {
  std::fprintf(stderr, "%s: %s\n%s\n", prog, why.c_str(), usage_line);
  return 2;
}

// A candidate position: optional sign and decimal digits, nothing else.
bool parse_pos(const char* s, int& v) {
  const char* d = (*s == '-' || *s == '+') ? s + 1 : s;
  if (*d < '0' || *d > '9') return false;
  char* end = nullptr;
  errno = 0;
  long x = std::strtol(s, &end, 10);
  if (*end != '\0' || errno == ERANGE || x < INT_MIN || x > INT_MAX) return false;
  v = static_cast<int>(x);
  return true;
}

int fail(const char* msg) {
  std::fprintf(stderr, "%s: %s\n", prog, msg);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  int n_thr = 1;
  bool quiet = false;
  bool shuffle = false;
  unsigned long long shuffle_seed = 0;
  const char* count_of = nullptr;
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
    } else if (a == "--count-candidates" || a.rfind("--count-candidates=", 0) == 0) {
      if (a == "--count-candidates") {
        if (k + 1 >= argc) return bad_usage("option --count-candidates needs a file");
        count_of = argv[++k];
      } else {
        count_of = argv[k] + 19;
      }
    } else if (std::string why; thread_opt(argc, argv, k, n_thr, why)) {
      if (!why.empty()) return bad_usage(why);
    } else {
      return bad_usage("unknown option '" + a + "'");
    }
  }

  try {
    if (count_of) {
      if (k != argc) return bad_usage("--count-candidates takes no further arguments");
      std::printf("%zu\n", read_cand(count_of, -1).size());
      if (std::fflush(stdout) != 0) return fail("standard output: write failed");
      return 0;
    }
    if (argc - k != 5) return bad_usage(argc - k < 5 ? "missing arguments" : "too many arguments");
    const char* in_path = argv[k];
    const char* ranked = argv[k + 1];
    int start = 0, end = 0;
    if (!parse_pos(argv[k + 2], start))
      return bad_usage("START '" + std::string(argv[k + 2]) + "' is not a decimal integer");
    if (!parse_pos(argv[k + 3], end))
      return bad_usage("END '" + std::string(argv[k + 3]) + "' is not a decimal integer");

    rec_out rec(argv[k + 4]);  // checked now, created at the first record
    load_exp(in_path);
    if (shuffle) shuffle_phe(shuffle_seed);
    std::vector<int> cand = read_cand(ranked, n_prob);
    const int count = static_cast<int>(cand.size());
    if (count > 0 && (start < 0 || start > count || end < 0 || end > count))
      throw syn_error("range " + std::to_string(start) + ".." + std::to_string(end) +
                      " reaches outside the candidate positions 0.." + std::to_string(count) + " of " +
                      ranked);
    if (start >= end || count == 0) return 1;
    meter show(prog, "pairs", static_cast<long>(end - start) * count, !quiet);
    run_search(cand, start, end, n_thr, rec, stdout, [&](long done) { show(done); });
  } catch (const syn_error& e) {
    return fail(e.what());
  } catch (const std::bad_alloc&) {
    return fail("out of memory");
  } catch (const std::exception& e) {
    return fail(e.what());
  }
  return 1;
}
