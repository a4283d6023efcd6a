// pair_report: an HTML page of the strongest pairs of a finished search.
#include <sstream>
#include <string>
#include <vector>

#include "cli.h"
#include "report.h"

#ifndef SYN_VERSION
#define SYN_VERSION "unknown"
#endif

namespace {

// The command line, with its defaults.
struct report_opts {
  int top = TOP_DEF;
};

int report_main(const report_opts& o, const std::vector<std::string>& args) {
  want_args(args, 4, "EXPR RANKED RECORDS OUT.html");
  distinct_files({args[0], args[1], args[2]}, {args[3]});
  out_file out(args[3]);  // an existing page is replaced only by a complete one
  read_exp(args[0].c_str());  // the page needs the table, not the working arrays
  check_exp(args[0].c_str());
  page_in in;
  in.names = read_names(args[0].c_str(), n_samp);
  rl_info rk = read_ranked(args[1].c_str());
  rec_sum rs = read_records(args[2].c_str(), o.top);
  in.expr_path = args[0];
  in.ranked_path = args[1];
  in.rec_path = args[2];
  in.version = SYN_VERSION;
  in.top_n = o.top;
  in.rk = &rk;
  in.rs = &rs;
  std::ostringstream page;
  write_page(page, in);
  out.write(page.str());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  report_opts o;
  const prog_def def = {
      "pair_report",
      {"[--top N] EXPR RANKED RECORDS OUT.html"},
      "Write one self-contained HTML page (inline SVG, no scripts, no external\n"
      "resources) about a finished pair search: a summary with histograms of the\n"
      "final synergies and the single-probe scores, the top pairs by final synergy,\n"
      "the samples the search flipped most often, and a scatter plot of every top pair.\n"
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
         o.top = n;
       }},
  };
  return run_main(def, table, argc, argv, [&](std::vector<std::string>& args) { return report_main(o, args); });
}
