// probe_rank: rank every probe of an expression table by its single-probe score.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "cli.h"
#include "rank.h"
#include "synergy.h"

namespace {

// The command line, with its defaults.
struct rank_opts {
  int threads = 1;
  bool quiet = false;
  std::optional<uint64_t> shuffle;  // --shuffle-labels SEED
};

const char* const PROG = "probe_rank";

int rank_main(const rank_opts& o, const std::vector<std::string>& args) {
  const std::string& in = args[0];
  distinct_files({in}, {args[1]});
  out_file out(args[1]);  // checked before the long scoring, not after it
  load_table(PROG, in, o.quiet);
  if (o.shuffle) shuffle_phe(*o.shuffle);
  // the list is never empty, but a search on it would be: say so now
  std::string why = n_prob == 0 ? in + " has no probe rows: the list is empty" : label_why(CAND_BOUND);
  if (!why.empty()) note(PROG, o.quiet, why);
  meter show(PROG, "probes scored", n_prob, !o.quiet);
  std::vector<rank_row> rows = rank_probes(o.threads, [&](long done) { show(done); });
  out.write(rank_text(rows));
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  rank_opts o;
  const prog_def def = {
      PROG,
      {"[-t N] [-q] [--shuffle-labels SEED] EXPR OUT"},
      "Score every probe of the expression table EXPR (tab-separated, plain or\n"
      "gzip) by the label entropy, in bits, left inside the clusters of its\n"
      "samples (average linkage, cut at merge height " + num_text(cut) + "), and write all probes\n"
      "to OUT, highest score first, one line each: name, probe number, score,\n"
      "number of clusters. Probes without a partition come last with score " + num_text(NO_PART) + ".",
      "Exit status: 1 after a complete run, 2 on an error (OUT is then left as it\n"
      "was), 0 for --help and --version."};
  return run_main(def, {threads_opt(o.threads), quiet_opt(o.quiet), shuffle_opt(o.shuffle)}, argc, argv,
                  [&](std::vector<std::string>& args) {
                    want_args(args, 2, "EXPR OUT");
                    return rank_main(o, args);
                  });
}
