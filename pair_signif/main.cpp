// pair_signif: permutation significance of every pair of a finished search.
// The whole command line, shared by the program (bin.cpp) and "synergy signif".
#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "cli.h"
#include "eng_opt.h"
#include "files.h"
#include "ranked.h"
#include "rec_check.h"
#include "sig.h"
#include "synergy.h"

namespace {

// The command line, with its defaults.
struct signif_opts {
  sig_opt s;
  bool perm_set = false;
  bool quiet = false;
  bool defaults = false;              // --defaults
  std::string null_path;              // --search-null
  std::optional<uint64_t> null_line;  // --null-line SEED
};

// A whole number for an int field of sig_opt: saturated, so that sig_check
// reports a value too large for an int as out of its range.
int arg_sat(const char* v, const char* what) {
  return static_cast<int>(std::min<uint64_t>(arg_u64(v, what), INT_MAX));
}

// The engine's defaults, one "name<TAB>value" line each.
int defaults_main(const std::vector<std::string>& args) {
  if (!args.empty()) throw usage_error("--defaults takes no arguments");
  std::string text;
  for (const auto& d : eng_defaults()) text += d.first + '\t' + d.second + '\n';
  std::fputs(text.c_str(), stdout);
  if (std::fflush(stdout) != 0) throw syn_error(os_err("standard output"));
  return 0;
}

// The search-null line of a run made with --shuffle-labels SEED.
int null_main(const char* prog, const signif_opts& o, const std::vector<std::string>& args) {
  want_args(args, 3, "EXPR RANKED RECORDS");
  load_table(prog, args[0], o.quiet);
  shuffle_phe(*o.null_line);
  const rl_info rk = read_ranked(args[1].c_str(), o.s.bound);
  const int n_cand = rk.n_cand;
  rec_check chk(rk, args[1], o.s.bound, o.s.n_thr, false);  // the records must be this shuffled run's
  sig_in in = read_pairs(args[2].c_str(), o.s.n_thr, &chk);
  sig_bases(in.pr, o.s.n_thr, [&chk](size_t i, const part& pj) { chk.check_joint(i, pj); });
  std::fputs(null_line(*o.null_line, n_cand, in).c_str(), stdout);
  if (std::fflush(stdout) != 0) throw syn_error(os_err("standard output"));
  return 0;
}

int signif_main(const char* prog, const signif_opts& o, const std::vector<std::string>& args) {
  want_args(args, 4, "EXPR RANKED RECORDS OUT");
  std::vector<std::string> ins = {args[0], args[1], args[2]};
  if (!o.null_path.empty()) ins.push_back(o.null_path);
  distinct_files(ins, {args[3]});
  out_file out(args[3]);  // checked before the long work, not after it
  load_table(prog, args[0], o.quiet);
  sig_opt so = o.s;
  if (!o.perm_set) so.cap = sig_cap(so.tail);
  // the list must come from this table, the records from this table, list and bound
  const rl_info rk = read_ranked(args[1].c_str(), o.s.bound);
  rec_check chk(rk, args[1], o.s.bound, o.s.n_thr, false);  // partitions checked as sig_run makes them
  sig_in in = read_pairs(args[2].c_str(), o.s.n_thr, &chk);
  std::vector<double> null_final;
  if (!o.null_path.empty()) null_final = null_finals(o.null_path.c_str());
  if (in.pr.empty()) note(prog, o.quiet, args[2] + " holds no pair record: " + args[3] + " has the header line only");
  {
    meter show(prog, "pairs settled", static_cast<long>(in.pr.size()), !o.quiet);
    so.joint = [&chk](size_t i, const part& pj) { chk.check_joint(i, pj); };
    sig_run(in.pr, so, [&](long done) { show(done); });
  }
  const prov pv = {std::string(prog) + " " + syn_version(), command_line(),
                   {{"seed", std::to_string(so.seed)}, {"perm", std::to_string(so.cap)}, {"bound", num_text(so.bound)}}};
  out.write(sig_table(in, o.null_path.empty() ? nullptr : &null_final, o.s.tail, pv));
  return 0;
}

}  // namespace

int signif_cmd(int argc, char** argv, const char* name) {
  signif_opts o;
  const prog_def def = {
      name,
      {"[-t N] [-q] [--perm B] [--seed S] [--hits H] [--tail split|none] [--particles N]\n"
       "                   [--bound X] [--search-null NULL]\n"
       "                   EXPR RANKED RECORDS OUT",
       "--null-line SEED [--bound X] EXPR RANKED RECORDS", "--defaults"},
      "For every distinct pair of the pair records RECORDS (from pair_search on EXPR\n"
      "and RANKED; one run or shards concatenated, plain or gzip), estimate how often\n"
      "shuffled labels give a base synergy at least as high, counting only shufflings\n"
      "under which both probes stay candidates, and write OUT (tab-separated,\n"
      "after comment lines '# ' that record the version, command, seed, B and X):\n" +
          sig_cols_help() +
          ",\nsorted by p. A pair stops after H hits (p = H /\n"
      "admissible, p_source perm); a pair still short of H hits after B\n"
      "shufflings gets its p from multilevel splitting over the admissible\n"
      "labellings (p_source tail; floor when below 1e-15, then an upper bound);\n"
      "p_log2err is the standard deviation of log2 p. With --tail none, such a\n"
      "pair keeps p = (hits + 1) / (admissible + 1) and the last two columns are\n"
      "left out: the table of earlier versions byte for byte after the comment\n"
      "lines. q is the Benjamini-Hochberg q-value over all lines. With\n"
      "--null-line, print the search-null line of a search run with\n"
      "--shuffle-labels SEED instead; with --defaults, print the defaults of\n"
      "the options (name<TAB>value).",
      "Exit status: 0 on success, 2 on an error (OUT is then left as it was)."};
  const std::vector<opt> table = {
      threads_opt(o.s.n_thr),
      quiet_opt(o.quiet),
      {0, "perm", "B",
       "shufflings drawn at most per pair (default the smaller of\n" + std::to_string(SIG_PERM_TAIL) + " and " +
           std::to_string(static_cast<uint64_t>(SIG_WORK)) + " / samples; " + std::to_string(SIG_PERM) +
           " with --tail none)",
       [&o](const char* v) {
         o.s.cap = arg_u64(v, "--perm");
         o.perm_set = true;
       }},
      {0, "tail", "MODE", "split (default): the tail estimate below H hits; none: the\nshufflings' p alone",
       [&o](const char* v) {
         const std::string why = tail_word(v, o.s.tail);
         if (!why.empty()) throw usage_error(why);
       }},
      {0, "particles", "N",
       "particles of each of the tail's " + std::to_string(SIG_REPS) + " runs (default " + std::to_string(SIG_PART) +
           "):\nsd(ln p) is about sqrt(-ln p / (" + std::to_string(SIG_REPS) + " N))",
       [&o](const char* v) { o.s.part = arg_sat(v, "--particles"); }},
      {0, "seed", "S", "seed of the shufflings (default " + std::to_string(SIG_SEED) + ")",
       [&o](const char* v) { o.s.seed = arg_u64(v, "--seed"); }},
      {0, "hits", "H", "hits that stop a pair (default " + std::to_string(SIG_HITS) + ")",
       [&o](const char* v) { o.s.hits = arg_sat(v, "--hits"); }},
      bound_opt(o.s.bound),
      {0, "search-null", "NULL",
       "search-null file (lines of --null-line): adds p_search, the share\nof shuffled-label searches whose best "
       "final synergy is at least\nthe pair's, as (1 + count) / (1 + K)",
       [&o](const char* v) {
         if (!*v) throw usage_error("--search-null needs a file name");
         o.null_path = v;
       }},
      {0, "null-line", "SEED",
       "for a search run with --shuffle-labels SEED, print its search-null\nline (seed, candidates, best base, best final)",
       [&o](const char* v) { o.null_line = arg_u64(v, "--null-line"); }},
      {0, "defaults", "", "print the defaults of the options and exit", [&o](const char*) { o.defaults = true; }},
  };
  return run_main(def, with_pheno(table), argc, argv, [&](std::vector<std::string>& args) {
    if (o.defaults) return defaults_main(args);
    const std::string why = sig_check(o.s);
    if (!why.empty()) throw usage_error(why);
    return o.null_line ? null_main(name, o, args) : signif_main(name, o, args);
  });
}
