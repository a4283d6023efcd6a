// pair_report: an HTML page of the strongest pairs of a finished search.
// The whole command line, shared by the program (bin.cpp) and "synergy report".
#include <string>
#include <vector>

#include "cli.h"
#include "report.h"
#include "synergy.h"

namespace {

// A file option: a non-empty name.
opt file_opt(const char* name, const char* arg, const std::string& help, std::string& dst) {
  return {0, name, arg, help, [name, &dst](const char* v) {
            if (!*v) throw usage_error(std::string("--") + name + " needs a file name");
            dst = v;
          }};
}

}  // namespace

int report_cmd(int argc, char** argv, const char* name) {
  rep_opt o;
  o.version = syn_version();
  bool quiet = false;
  const prog_def def = {
      name,
      {"[--top N] [--signif SIGNIF] [--search-null NULL] [--annot ANNOT] [--q Q]\n"
       "                   [--bound X] [--tsv FILE] [--edges FILE] EXPR RANKED RECORDS OUT.html"},
      "Write one self-contained HTML page (inline SVG, no scripts, no external\n"
      "resources) about a finished pair search: a summary with histograms of the\n"
      "final synergies and the single-probe scores, the top pairs (by q with a\n"
      "significance table, by final synergy without), the samples the search flipped\n"
      "most often, and a scatter plot of every top pair.\n"
      "\n"
      "  EXPR      the expression table given to probe_rank and pair_search (plain or gzip)\n"
      "  RANKED    the ranked probe list written by probe_rank\n"
      "  RECORDS   the pair record file written by pair_search (shards may be concatenated)\n"
      "  OUT.html  the page to write; an existing file is replaced only by a complete page",
      "Exit status: 0 when the page is written; 2 on bad arguments or bad input, with\n"
      "one line on stderr naming the file and line at fault. (probe_rank and pair_search\n"
      "end with 1 after a complete run; pair_report ends with 0.)"};
  const std::vector<opt> table = {
      {0, "top", "N",
       "pairs to list and plot (default " + std::to_string(TOP_DEF) + ", at most " + std::to_string(TOP_MAX) +
           ");\na pair and its mirror count once",
       [&o](const char* v) {
         int n = -1;
         try {
           n = arg_int(v, "--top");
         } catch (const usage_error&) {
         }
         if (n < 0 || n > TOP_MAX || *v == '+' || *v == '-')
           throw usage_error("--top: '" + std::string(v) + "' is not a whole number from 0 to " +
                             std::to_string(TOP_MAX));
         o.top_n = n;
       }},
      file_opt("signif", "SIGNIF", "significance table written by pair_signif: top pairs by q,\nthen base synergy; p, q and p_search shown", o.signif),
      file_opt("search-null", "NULL", "search-null file (one line per shuffled-label search): plot\nof their best final synergies with the real best marked", o.null),
      file_opt("annot", "ANNOT", "gene names: probe, symbol, optional description (tab-separated);\nprobes are shown as \"symbol (probe)\"", o.annot),
      {0, "q", "Q", "pairs with q below Q pass (default " + num_text(Q_DEF) + ")",
       [&o](const char* v) {
         double q = arg_num(v, "--q");
         if (!(q > 0 && q <= 1)) throw usage_error("--q: '" + std::string(v) + "' is not a number above 0 and at most 1");
         o.q = q;
       }},
      file_opt("tsv", "FILE", "also write the distinct pairs in page order, every figure shown", o.tsv),
      file_opt("edges", "FILE", "also write the passing pairs as an edge list (needs --signif)", o.edges),
      bound_opt(o.bound),
      quiet_opt(quiet),
  };
  return run_main(def, with_pheno(table), argc, argv, [&](std::vector<std::string>& args) {
    want_args(args, 4, "EXPR RANKED RECORDS OUT.html");
    check_pheno();
    o.command = command_line();
    o.expr = args[0];
    o.ranked = args[1];
    o.records = args[2];
    o.out = args[3];
    const std::string bad = opt_error(o);
    if (!bad.empty()) throw usage_error(bad);
    for (const std::string& n : run_report(o)) note(name, quiet, n);
    return 0;
  });
}
