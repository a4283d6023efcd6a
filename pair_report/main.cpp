// pair_report: an HTML page of the strongest pairs of a finished search.
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "report.h"

#ifndef SYN_VERSION
#define SYN_VERSION "unknown"
#endif

namespace {

const char* const USAGE =
    "usage: pair_report [--top N] [--signif SIGNIF] [--search-null NULL] [--annot ANNOT] [--q Q]\n"
    "                   [--tsv FILE] [--edges FILE] EXPR RANKED RECORDS OUT.html\n";

void help() {
  std::cout << USAGE
            << "\n"
               "Write one self-contained HTML page (inline SVG, no scripts, no external\n"
               "resources) about a finished pair search: a summary with histograms of the\n"
               "final synergies and the single-probe scores, the top pairs (by q with a\n"
               "significance table, by final synergy without), the samples the search flipped\n"
               "most often, and a scatter plot of every top pair.\n"
               "\n"
               "  EXPR      the expression table given to probe_rank and pair_search (plain or gzip)\n"
               "  RANKED    the ranked probe list written by probe_rank\n"
               "  RECORDS   the pair record file written by pair_search (shards may be concatenated)\n"
               "  OUT.html  the page to write; an existing file is replaced only by a complete page\n"
               "\n"
               "options:\n"
               "  --top N             pairs to list and plot (default "
            << TOP_DEF
            << ", at most " << TOP_MAX << ");\n"
               "                      a pair and its mirror count once\n"
               "  --signif SIGNIF     significance table written by pair_signif: top pairs by q,\n"
               "                      then base synergy; p, q and p_search shown\n"
               "  --search-null NULL  search-null file (one line per shuffled-label search): plot\n"
               "                      of their best final synergies with the real best marked\n"
               "  --annot ANNOT       gene names: probe, symbol, optional description (tab-separated);\n"
               "                      probes are shown as \"symbol (probe)\"\n"
               "  --q Q               pairs with q below Q pass (default "
            << Q_DEF << ")\n"
               "  --tsv FILE          also write the distinct pairs in page order, every figure shown\n"
               "  --edges FILE        also write the passing pairs as an edge list (needs --signif)\n"
               "  -h, --help          show this help and exit\n"
               "  --version           show the version and exit\n"
               "\n"
               "Exit status: 0 when the page is written; 2 on bad arguments or bad input, with\n"
               "one line on stderr naming the file and line at fault. (probe_rank and pair_search\n"
               "end with 1 after a complete run; pair_report ends with 0.)\n";
}

[[noreturn]] void usage_err(const std::string& msg) {
  std::cerr << "pair_report: " << msg << "\n" << USAGE << "Try 'pair_report --help' for more.\n";
  std::exit(2);
}

bool parse_top(const char* s, int& v) {
  if (!*s) return false;
  long x = 0;
  for (const char* c = s; *c; ++c) {
    if (*c < '0' || *c > '9') return false;
    x = x * 10 + (*c - '0');
    if (x > TOP_MAX) return false;
  }
  v = static_cast<int>(x);
  return true;
}

bool parse_q(const char* s, double& v) {
  char* end = nullptr;
  v = std::strtod(s, &end);
  return *s && *end == 0 && v > 0 && v <= 1;
}

}  // namespace

int main(int argc, char** argv) {
  rep_opt o;
  std::vector<const char*> pos;
  bool opts = true;
  // --name VALUE or --name=VALUE
  auto value = [&](int& i, const std::string& a, const char* name, const char*& v) {
    const size_t n = std::strlen(name);
    if (a == name) {
      if (i + 1 >= argc) usage_err(std::string(name) + " needs a value");
      v = argv[++i];
      return true;
    }
    if (a.compare(0, n + 1, std::string(name) + "=") == 0) {
      v = argv[i] + n + 1;
      return true;
    }
    return false;
  };
  const std::pair<const char*, std::string*> files[] = {{"--signif", &o.signif}, {"--search-null", &o.null},
                                                        {"--annot", &o.annot},   {"--tsv", &o.tsv},
                                                        {"--edges", &o.edges}};
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    const char* v = nullptr;
    if (opts && (a == "-h" || a == "--help")) {
      help();
      return 0;
    }
    if (opts && a == "--version") {
      std::cout << "pair_report " << SYN_VERSION << "\n";
      return 0;
    }
    bool took = false;
    if (opts && a == "--") {
      opts = false;
      took = true;
    } else if (opts && value(i, a, "--top", v)) {
      if (!parse_top(v, o.top_n)) usage_err(std::string("--top: '") + v + "' is not a whole number from 0 to " + std::to_string(TOP_MAX));
      took = true;
    } else if (opts && value(i, a, "--q", v)) {
      if (!parse_q(v, o.q)) usage_err(std::string("--q: '") + v + "' is not a number above 0 and at most 1");
      took = true;
    } else if (opts) {
      for (const auto& f : files)
        if (value(i, a, f.first, v)) {
          if (!*v) usage_err(std::string(f.first) + " needs a file name");
          *f.second = v;
          took = true;
          break;
        }
    }
    if (took) continue;
    if (opts && a.size() > 1 && a[0] == '-')
      usage_err("unknown option '" + a + "'");
    else
      pos.push_back(argv[i]);
  }
  if (pos.size() != 4)
    usage_err("expected 4 arguments (EXPR RANKED RECORDS OUT.html), got " + std::to_string(pos.size()));
  o.expr = pos[0];
  o.ranked = pos[1];
  o.records = pos[2];
  o.out = pos[3];
  o.version = SYN_VERSION;
  const std::string bad = opt_error(o);
  if (!bad.empty()) usage_err(bad);
  try {
    for (const std::string& n : run_report(o)) std::cerr << "pair_report: " << n << "\n";
  } catch (const syn_error& e) {
    std::cerr << "pair_report: " << e.what() << "\n";
    return 2;
  } catch (const std::bad_alloc&) {
    std::cerr << "pair_report: out of memory\n";
    return 2;
  }
  return 0;
}
