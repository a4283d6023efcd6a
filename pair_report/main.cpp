// pair_report: an HTML page of the strongest pairs of a finished search.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "report.h"

#ifndef SYN_VERSION
#define SYN_VERSION "unknown"
#endif

namespace {

const char* const USAGE = "usage: pair_report [--top N] EXPR RANKED RECORDS OUT.html\n";

void help() {
  std::cout << USAGE
            << "\n"
               "Write one self-contained HTML page (inline SVG, no scripts, no external\n"
               "resources) about a finished pair search: a summary with histograms of the\n"
               "final synergies and the single-probe scores, the top pairs by final synergy,\n"
               "the samples the search flipped most often, and a scatter plot of every top pair.\n"
               "\n"
               "  EXPR      the expression table given to probe_rank and pair_search (plain or gzip)\n"
               "  RANKED    the ranked probe list written by probe_rank\n"
               "  RECORDS   the pair record file written by pair_search (shards may be concatenated)\n"
               "  OUT.html  the page to write; an existing file is replaced only by a complete page\n"
               "\n"
               "options:\n"
               "  --top N     pairs to list and plot (default "
            << TOP_DEF
            << ", at most " << TOP_MAX << "); a pair and its mirror count once\n"
               "  -h, --help  show this help and exit\n"
               "  --version   show the version and exit\n"
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

// The temporary page, removed unless it was renamed into place.
struct tmp_file {
  std::string path;
  bool kept = false;
  ~tmp_file() {
    if (!path.empty() && !kept) std::remove(path.c_str());
  }
};

bool same_file(const char* a, const char* b) {
  struct stat sa, sb;
  return stat(a, &sa) == 0 && stat(b, &sb) == 0 && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

void write_out(const std::string& out, const page_in& in) {
  tmp_file tmp;
  std::vector<char> name(out.begin(), out.end());
  const char suffix[] = ".tmpXXXXXX";
  name.insert(name.end(), suffix, suffix + sizeof suffix);
  int fd = mkstemp(name.data());
  if (fd < 0) throw syn_error(out + ": cannot write: " + std::strerror(errno));
  tmp.path = name.data();
  close(fd);
  // mkstemp makes the file private; a page is an ordinary file
  mode_t um = umask(0);
  umask(um);
  chmod(tmp.path.c_str(), 0666 & ~um);
  {
    std::ofstream os(tmp.path, std::ios::binary | std::ios::trunc);
    if (!os) throw syn_error(out + ": cannot write: " + std::strerror(errno));
    write_page(os, in);
    os.flush();
    if (!os) throw syn_error(out + ": write error: " + std::strerror(errno));
    os.close();
    if (os.fail()) throw syn_error(out + ": write error: " + std::strerror(errno));
  }
  if (std::rename(tmp.path.c_str(), out.c_str()) != 0) throw syn_error(out + ": cannot write: " + std::strerror(errno));
  tmp.kept = true;
}

}  // namespace

int main(int argc, char** argv) {
  int top_n = TOP_DEF;
  std::vector<const char*> pos;
  bool opts = true;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (opts && (a == "-h" || a == "--help")) {
      help();
      return 0;
    }
    if (opts && a == "--version") {
      std::cout << "pair_report " << SYN_VERSION << "\n";
      return 0;
    }
    if (opts && a == "--") {
      opts = false;
    } else if (opts && (a == "--top" || a.compare(0, 6, "--top=") == 0)) {
      const char* v = nullptr;
      if (a == "--top") {
        if (i + 1 >= argc) usage_err("--top needs a number");
        v = argv[++i];
      } else {
        v = argv[i] + 6;
      }
      if (!parse_top(v, top_n)) usage_err(std::string("--top: '") + v + "' is not a whole number from 0 to " + std::to_string(TOP_MAX));
    } else if (opts && a.size() > 1 && a[0] == '-') {
      usage_err("unknown option '" + a + "'");
    } else {
      pos.push_back(argv[i]);
    }
  }
  if (pos.size() != 4)
    usage_err("expected 4 arguments (EXPR RANKED RECORDS OUT.html), got " + std::to_string(pos.size()));
  for (int k = 0; k < 3; ++k)
    if (same_file(pos[k], pos[3]))
      usage_err(std::string("output '") + pos[3] + "' is the input '" + pos[k] + "'; choose another name");
  try {
    read_exp(pos[0]);
    check_exp(pos[0]);
    page_in in;
    in.names = read_names(pos[0], n_samp);
    rl_info rk = read_ranked(pos[1]);
    rec_sum rs = read_records(pos[2], top_n);
    in.expr_path = pos[0];
    in.ranked_path = pos[1];
    in.rec_path = pos[2];
    in.version = SYN_VERSION;
    in.top_n = top_n;
    in.rk = &rk;
    in.rs = &rs;
    write_out(pos[3], in);
  } catch (const syn_error& e) {
    std::cerr << "pair_report: " << e.what() << "\n";
    return 2;
  } catch (const std::bad_alloc&) {
    std::cerr << "pair_report: out of memory\n";
    return 2;
  }
  return 0;
}
