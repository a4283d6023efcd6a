// pair_search: greedy label-flip search over pairs of candidate probes.
// The whole command line, shared by the program (bin.cpp) and "synergy search".
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "cli.h"
#include "files.h"
#include "ranked.h"
#include "search.h"
#include "synergy.h"

namespace {

// The command line, with its defaults.
struct search_opts {
  int threads = 1;
  bool quiet = false;
  double bound = CAND_BOUND;
  std::optional<uint64_t> shuffle;  // --shuffle-labels SEED
  std::optional<std::string> count_of;  // --count-candidates RANKED
};

// What --help and the messages say.
prog_def search_def(const char* name, bool front) {
  return {
      name,
      {"[-t N] [-q] [--bound X] [--shuffle-labels SEED] EXPR RANKED START END RECORDS",
       "[-q] [--bound X] --count-candidates RANKED"},
      "Take as candidates the leading probes of the ranked list RANKED (written by\n"
      "probe_rank from the same table) whose score is above the bound. For every\n"
      "candidate position i in [START, END) and every candidate position j, search\n"
      "the relabelling of the samples that raises the synergy of the pair: one label\n"
      "flip per pass, the best one, while it gains more than " + num_text(IMP_MARGIN) + ". Append each pair\n"
      "that has a partition to RECORDS as two lines (best synergy and labels; \"-9\"\n"
      "and joint cluster numbers) and print \"i<TAB>j\" on standard output after\n"
      "every pair. EXPR and RANKED may be gzip-compressed.",
      front ? "Exit status: 0 after a complete run, 2 on an error (records already\n"
              "appended stay, each one whole)."
            : "Exit status: 1 after a complete run, 2 on an error (records already\n"
              "appended stay, each one whole), 0 for --help, --version and\n"
              "--count-candidates."};
}

int count_main(const char* prog, const search_opts& o, const std::vector<std::string>& args) {
  if (!args.empty()) throw usage_error("--count-candidates takes no further arguments");
  rl_info rk = read_ranked(o.count_of->c_str(), o.bound, false);
  std::printf("%d\n", rk.n_cand);
  if (std::fflush(stdout) != 0) throw syn_error(os_err("standard output: write failed"));
  if (rk.n_cand == 0)
    note(prog, o.quiet, "no candidates: " + std::string(rk.rows.empty() ? "the list is empty" : "its first score, " +
                        num_text(rk.rows[0].score) + ", is not above the bound " + num_text(o.bound)));
  return 0;
}

int search_main(const char* prog, const search_opts& o, const std::vector<std::string>& args) {
  want_args(args, 5, "EXPR RANKED START END RECORDS");
  const std::string &in = args[0], &ranked = args[1];
  const int start = arg_int(args[2].c_str(), "START"), end = arg_int(args[3].c_str(), "END");
  distinct_files({in, ranked}, {args[4]});
  rec_out rec(args[4]);  // checked now, created at the first record
  load_table(prog, in, o.quiet);
  if (o.shuffle) shuffle_phe(*o.shuffle);
  std::vector<int> cand = cand_of(read_ranked(ranked.c_str(), o.bound));
  const int count = static_cast<int>(cand.size());
  const std::string bad = range_check(start, end, count, ranked);
  if (!bad.empty()) throw syn_error(bad);
  std::string why = label_why(o.bound);
  if (n_prob == 0) why = "no candidates: " + in + " has no probe rows";
  if (count == 0) {
    note(prog, o.quiet, why.empty() ? "no candidates: no probe of " + ranked + " scores above the bound " +
                                          num_text(o.bound)
                                    : why);
    return 1;
  }
  if (!why.empty()) note(prog, o.quiet, why);
  if (start >= end) {
    // START = END is an empty shard of a split search; START > END a mistake
    if (start > end)
      note(prog, o.quiet, "START " + std::to_string(start) + " is above END " + std::to_string(end) +
                              ": the range is empty, no pair searched");
    return 1;
  }
  meter show(prog, "pairs", static_cast<long>(end - start) * count, !o.quiet);
  run_search(cand, start, end, o.threads, rec, stdout, [&](long done) { show(done); });
  show.close();
  if (rec.count() == 0) note(prog, o.quiet, "no pair of the range has a joint partition: no record written");
  return 1;
}

}  // namespace

int search_cmd(int argc, char** argv, const char* name, bool front) {
  search_opts o;
  const std::vector<opt> table = {
      threads_opt(o.threads),
      quiet_opt(o.quiet),
      bound_opt(o.bound),
      shuffle_opt(o.shuffle),
      {0, "count-candidates", "R", "print the number of candidates in the ranked\nlist R and exit",
       [&o](const char* v) { o.count_of = v; }},
  };
  return run_main(search_def(name, front), with_pheno(table), argc, argv, [&](std::vector<std::string>& args) {
    return o.count_of ? count_main(name, o, args) : done_status(search_main(name, o, args), front);
  });
}
