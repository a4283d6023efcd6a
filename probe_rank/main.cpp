// probe_rank: rank every probe of an expression table by its single-probe score.
// The whole command line, shared by the program (bin.cpp) and "synergy rank".
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "cli.h"
#include "files.h"
#include "rank.h"
#include "synergy.h"

namespace {

// The command line, with its defaults.
struct rank_opts {
  int threads = 1;
  bool quiet = false;
  std::optional<uint64_t> shuffle;  // --shuffle-labels SEED
};

int rank_main(const char* prog, const rank_opts& o, const std::vector<std::string>& args) {
  const std::string& in = args[0];
  distinct_files({in}, {args[1]});
  out_file out(args[1]);  // checked before the long scoring, not after it
  load_table(prog, in, o.quiet);
  if (o.shuffle) shuffle_phe(*o.shuffle);
  // the list is never empty, but a search on it would be: say so now
  std::string why = n_prob == 0 ? in + " has no probe rows: the list is empty" : label_why(CAND_BOUND);
  if (!why.empty()) note(prog, o.quiet, why);
  meter show(prog, "probes scored", n_prob, !o.quiet);
  std::vector<rank_row> rows = rank_probes(o.threads, [&](long done) { show(done); });
  out.write(rank_text(rows));
  return 1;
}

}  // namespace

int rank_cmd(int argc, char** argv, const char* name, bool front) {
  rank_opts o;
  const prog_def def = {
      name,
      {"[-t N] [-q] [--shuffle-labels SEED] EXPR OUT"},
      "Score every probe of the expression table EXPR (tab-separated, plain or\n"
      "gzip) by the label entropy, in bits, left inside the clusters of its\n"
      "samples (average linkage, cut at merge height " + num_text(cut) + "), and write all probes\n"
      "to OUT, highest score first, one line each: name, probe number, score,\n"
      "number of clusters. Probes without a partition come last with score " + num_text(NO_PART) + ".",
      front ? "Exit status: 0 after a complete run, 2 on an error (OUT is then left as it\n"
              "was)."
            : "Exit status: 1 after a complete run, 2 on an error (OUT is then left as it\n"
              "was), 0 for --help and --version."};
  return run_main(def, with_pheno({threads_opt(o.threads), quiet_opt(o.quiet), shuffle_opt(o.shuffle)}), argc, argv,
                  [&](std::vector<std::string>& args) {
                    want_args(args, 2, "EXPR OUT");
                    return done_status(rank_main(name, o, args), front);
                  });
}
