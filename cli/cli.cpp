// The command-line layer: option parsing and help from one table, the main
// wrapper, the progress display and notes. (Files are written by io/.)
#include "cli.h"

#include <limits.h>
#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <thread>

#include "sheet.h"
#include "synergy.h"

#ifndef SYN_VERSION
#define SYN_VERSION "unknown"
#endif

// ---- options ------------------------------------------------------------------

namespace {

std::string flag_text(const opt& o) {
  std::string s = o.shrt ? std::string("-") + o.shrt + ", " : "    ";
  s += "--" + o.lng;
  if (!o.arg.empty()) s += " " + o.arg;
  return s;
}

void print_help(const prog_def& def, const std::vector<opt>& table) {
  std::string u;
  for (size_t k = 0; k < def.forms.size(); ++k)
    u += (k ? "       " : "usage: ") + std::string(def.name) + " " + def.forms[k] + "\n";
  std::vector<opt> all = table;
  all.push_back({'h', "help", "", "show this help and exit", nullptr});
  all.push_back({0, "version", "", "show the version and exit", nullptr});
  size_t w = 0;
  for (const opt& o : all) w = std::max(w, flag_text(o).size());
  std::string t = u + "\n" + def.about + "\n\nOptions (before or after the arguments; -- ends them):\n";
  for (const opt& o : all) {
    std::string f = flag_text(o);
    std::string line = "  " + f + std::string(w + 2 - f.size(), ' ');
    for (char c : o.help) {
      line += c;
      if (c == '\n') line += std::string(w + 4, ' ');
    }
    t += line + "\n";
  }
  t += "\n" + def.exits + "\n";
  std::fputs(t.c_str(), stdout);
}

// ---- manual pages ----------------------------------------------------------------

// Text for roff: backslashes and hyphens escaped, a leading dot or quote kept
// from reading as a request.
std::string roff(const std::string& s) {
  std::string o;
  for (char c : s) {
    if (c == '\\') o += "\\e";
    else if (c == '-') o += "\\-";
    else o += c;
  }
  if (!o.empty() && (o[0] == '.' || o[0] == '\'')) o.insert(0, "\\&");
  return o;
}

std::vector<std::string> lines_of(const std::string& s) {
  std::vector<std::string> v;
  size_t a = 0;
  for (;;) {
    size_t b = s.find('\n', a);
    v.push_back(s.substr(a, b == std::string::npos ? std::string::npos : b - a));
    if (b == std::string::npos) return v;
    a = b + 1;
  }
}

// Help prose as roff: filled paragraphs, blank lines between them, lines that
// start with a blank (tables of arguments) kept as they are.
std::string roff_text(const std::string& s) {
  std::string o;
  bool nf = false;
  for (const std::string& l : lines_of(s)) {
    bool keep = !l.empty() && l[0] == ' ';
    if (keep != nf) o += keep ? ".nf\n" : ".fi\n";
    nf = keep;
    o += l.empty() ? ".PP\n" : roff(l) + "\n";
  }
  if (nf) o += ".fi\n";
  return o;
}

void print_man(const prog_def& def, const std::vector<opt>& table, man_kind kind) {
  const bool whole = kind == man_kind::whole;
  std::string t = whole ? ".SH SYNOPSIS\n" : ".SS \"" + roff(def.name) + "\"\n";
  for (const std::string& f : def.forms) {
    std::string form = f;
    // continuation lines of a long form are indented for the help only
    for (size_t k; (k = form.find("\n")) != std::string::npos;) {
      size_t e = form.find_first_not_of(' ', k + 1);
      form.replace(k, e == std::string::npos ? std::string::npos : e - k, " ");
    }
    t += ".br\n\\fB" + roff(def.name) + "\\fR " + roff(form) + "\n";
  }
  t += whole ? ".SH DESCRIPTION\n" : ".PP\n";
  t += roff_text(def.about);
  t += whole ? ".SH OPTIONS\n" : ".PP\nOptions:\n";
  std::vector<opt> all = table;
  all.push_back({'h', "help", "", "show this help and exit", nullptr});
  all.push_back({0, "version", "", "show the version and exit", nullptr});
  for (const opt& o : all) {
    t += ".TP\n";
    if (o.shrt) t += std::string("\\fB\\-") + o.shrt + "\\fR, ";
    t += "\\fB\\-\\-" + roff(o.lng) + "\\fR";
    if (!o.arg.empty()) t += " \\fI" + roff(o.arg) + "\\fR";
    std::string h = o.help;
    std::replace(h.begin(), h.end(), '\n', ' ');
    t += "\n" + roff(h) + "\n";
  }
  std::string ex = def.exits;
  const std::string lead = "Exit status: ";
  if (whole && ex.compare(0, lead.size(), lead) == 0) ex.erase(0, lead.size());
  std::replace(ex.begin(), ex.end(), '\n', ' ');
  t += (whole ? ".SH \"EXIT STATUS\"\n" : ".PP\n") + roff(ex) + "\n";
  std::fputs(t.c_str(), stdout);
}

std::string usage_text(const prog_def& def) {
  std::string u;
  for (size_t k = 0; k < def.forms.size(); ++k)
    u += (k ? "       " : "usage: ") + std::string(def.name) + " " + def.forms[k] + "\n";
  return u + "Try '" + def.name + " --help' for more.\n";
}

const opt* find_long(const std::vector<opt>& table, const std::string& name) {
  for (const opt& o : table)
    if (o.lng == name) return &o;
  return nullptr;
}

const opt* find_short(const std::vector<opt>& table, char c) {
  for (const opt& o : table)
    if (o.shrt == c) return &o;
  return nullptr;
}

// A negative number is an argument, not an option.
bool is_arg(const char* a) { return a[0] != '-' || a[1] == '\0' || (a[1] >= '0' && a[1] <= '9'); }

std::vector<std::string> parse(const std::vector<opt>& table, int argc, char** argv) {
  std::vector<std::string> args;
  bool opts = true;
  for (int k = 1; k < argc; ++k) {
    const char* a = argv[k];
    if (!opts || is_arg(a)) {
      args.push_back(a);
      continue;
    }
    if (std::strcmp(a, "--") == 0) {
      opts = false;
      continue;
    }
    if (a[1] == '-') {
      std::string name = a + 2;
      const char* val = nullptr;
      size_t eq = name.find('=');
      if (eq != std::string::npos) {
        val = a + 2 + eq + 1;
        name.erase(eq);
      }
      const opt* o = find_long(table, name);
      if (!o) throw usage_error("unknown option '--" + name + "'");
      if (o->arg.empty()) {
        if (val) throw usage_error("option --" + name + " takes no value");
      } else if (!val) {
        if (k + 1 >= argc) throw usage_error("option --" + name + " needs a value " + o->arg);
        val = argv[++k];
      }
      o->set(val);
      continue;
    }
    // short options, flags bundled (-qt2)
    for (const char* c = a + 1; *c; ++c) {
      const opt* o = find_short(table, *c);
      if (!o) throw usage_error(std::string("unknown option '-") + *c + "'" + (a[2] ? " in '" + std::string(a) + "'" : ""));
      if (o->arg.empty()) {
        o->set(nullptr);
        continue;
      }
      const char* val = c + 1;
      if (!*val) {
        if (k + 1 >= argc) throw usage_error(std::string("option -") + *c + " needs a value " + o->arg);
        val = argv[++k];
      }
      o->set(val);
      break;
    }
  }
  return args;
}

}  // namespace

man_kind man_mode = man_kind::off;

namespace {
std::string g_cmd;  // the running command line, for the tables' provenance
}  // namespace

const std::string& command_line() { return g_cmd; }

const char* syn_version() { return SYN_VERSION; }

int run_main(const prog_def& def, const std::vector<opt>& table, int argc, char** argv,
             const std::function<int(std::vector<std::string>& args)>& body) {
  if (man_mode != man_kind::off) {
    print_man(def, table, man_mode);
    return std::fflush(stdout) == 0 ? 0 : 2;
  }
  // help and version win wherever they stand among the options
  for (int k = 1; k < argc && std::strcmp(argv[k], "--") != 0; ++k) {
    if (std::strcmp(argv[k], "-h") == 0 || std::strcmp(argv[k], "--help") == 0) {
      print_help(def, table);
      return std::fflush(stdout) == 0 ? 0 : 2;
    }
    if (std::strcmp(argv[k], "--version") == 0) {
      std::printf("%s %s\n", def.name, SYN_VERSION);
      return std::fflush(stdout) == 0 ? 0 : 2;
    }
  }
  g_cmd = def.name;
  for (int k = 1; k < argc; ++k) g_cmd += " " + sh_word(argv[k]);
  try {
    std::vector<std::string> args = parse(table, argc, argv);
    return body(args);
  } catch (const usage_error& e) {
    std::fprintf(stderr, "%s: %s\n%s", def.name, e.what(), usage_text(def).c_str());
  } catch (const std::bad_alloc&) {
    std::fprintf(stderr, "%s: out of memory\n", def.name);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s: %s\n", def.name, e.what());
  }
  return 2;
}

std::vector<opt> with_pheno(std::vector<opt> table) {
  auto text = [](std::string& dst, const char* name) {
    return [&dst, name](const char* v) {
      if (!*v) throw usage_error(std::string("--") + name + " needs a value");
      dst = v;
    };
  };
  table.push_back({0, "pheno", "SHEET",
                   "labels from the sample sheet SHEET (tab-separated: a header,\nthen one line per sample, "
                   "its name first); EXPR then has\nno label line: its line 1 names the samples",
                   text(pheno.sheet, "pheno")});
  table.push_back({0, "column", "COL", "the sheet's column of the phenotype", text(pheno.column, "column")});
  table.push_back({0, "case", "V", "the value of COL that gives label 1", text(pheno.cas, "case")});
  table.push_back({0, "control", "V",
                   "the value of COL that gives label 0 (default: every other\nvalue, but an empty one or NA)",
                   text(pheno.control, "control")});
  table.push_back({0, "drop-other", "", "leave out the samples of other values (default: an error)",
                   [](const char*) { pheno.drop = true; }});
  return table;
}

void check_pheno() {
  const std::string why = pheno_usage();
  if (!why.empty()) throw usage_error(why);
}

void want_args(const std::vector<std::string>& args, size_t n, const char* names) {
  if (args.size() < n) throw usage_error(std::string("missing arguments: expected ") + names);
  if (args.size() > n)
    throw usage_error("too many arguments: expected " + std::string(names) + ", got '" + args[n] + "' more");
}

uint64_t arg_u64(const char* s, const std::string& what) {
  uint64_t v = 0;
  bool ok = *s != '\0';
  for (const char* c = s; ok && *c; ++c) {
    if (*c < '0' || *c > '9' || v > (UINT64_MAX - (*c - '0')) / 10) ok = false;
    else v = v * 10 + static_cast<uint64_t>(*c - '0');
  }
  if (!ok) throw usage_error(what + " '" + s + "' is not a whole number from 0 to 18446744073709551615");
  return v;
}

int arg_int(const char* s, const std::string& what) {
  const char* d = (*s == '-' || *s == '+') ? s + 1 : s;
  char* end = nullptr;
  errno = 0;
  long x = (*d >= '0' && *d <= '9') ? std::strtol(s, &end, 10) : 0;
  if (!end || *end != '\0' || errno == ERANGE || x < INT_MIN || x > INT_MAX)
    throw usage_error(what + " '" + s + "' is not a decimal integer");
  return static_cast<int>(x);
}

double arg_num(const char* s, const std::string& what) {
  char* end = nullptr;
  double v = *s && *s != ' ' ? std::strtod(s, &end) : 0.0;
  if (!end || *end != '\0' || !std::isfinite(v)) throw usage_error(what + " '" + s + "' is not a number");
  return v;
}

std::string sh_word(const std::string& s) {
  bool plain = !s.empty();
  for (char c : s)
    plain = plain && (std::isalnum(static_cast<unsigned char>(c)) || std::strchr("_./:=@%+,-", c));
  if (plain) return s;
  std::string r = "'";
  for (char c : s) r += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return r + "'";
}

std::string num_text(double x) { return score_text(x); }

opt threads_opt(int& n_thr) {
  return {'t', "threads", "N",
          "worker threads (default " + std::to_string(n_thr) + "; 0 = all cores);\nthe output is the same for every N",
          [&n_thr](const char* v) {
            if (!parse_threads(v, n_thr))
              throw usage_error("thread count '" + std::string(v) + "' is not a number from 0 to " +
                                std::to_string(MAX_THREADS));
          }};
}

opt quiet_opt(bool& quiet) {
  return {'q', "quiet", "", "no progress display and no notes on stderr", [&quiet](const char*) { quiet = true; }};
}

opt shuffle_opt(std::optional<uint64_t>& seed) {
  return {0, "shuffle-labels", "SEED",
          "shuffle the labels with SEED (0 to 2^64 - 1)\nbefore the run: a run under random labels",
          [&seed](const char* v) { seed = arg_u64(v, "--shuffle-labels"); }};
}

opt bound_opt(double& bound) {
  return {0, "bound", "X",
          "candidate bound in bits, 0 to 1 (default\n" + num_text(bound) + "): probes scoring above X are candidates",
          [&bound](const char* v) {
            double x = arg_num(v, "--bound");
            want_bound(x, "--bound");
            bound = x;
          }};
}

void want_bound(double x, const std::string& what) {
  const std::string why = bound_check(x, what);
  if (!why.empty()) throw usage_error(why);
}

int all_cores() {
  cpu_set_t set;
  if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0) return CPU_COUNT(&set);
  return static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
}

bool parse_threads(const char* s, int& n) {
  if (!*s || std::strlen(s) > 6) return false;
  long v = 0;
  for (const char* c = s; *c; ++c) {
    if (*c < '0' || *c > '9') return false;
    v = v * 10 + (*c - '0');
  }
  if (v > MAX_THREADS) return false;
  if (v == 0) v = all_cores();
  n = static_cast<int>(v);
  return true;
}

// ---- progress display -------------------------------------------------------------

meter::meter(const char* prog, const char* unit, long total, bool on, double scale)
    : prog_(prog), unit_(unit), total_(total), scale_(scale), on_(on && total > 0 && isatty(2)) {}

meter::~meter() { close(); }

void meter::close() {
  if (open_) say_err("\n");
  open_ = false;
}

void meter::operator()(long done) {
  if (!on_) return;
  auto now = std::chrono::steady_clock::now();
  if (done < total_ && now - last_ < std::chrono::milliseconds(250)) return;
  last_ = now;
  double el = std::chrono::duration<double>(now - t0_).count();
  double rate = el > 0 ? done / el : 0.0;
  char buf[256];
  int n;
  if (scale_ > 1.0)
    n = std::snprintf(buf, sizeof buf, "%s: %.1f/%.1f MB %s, %.1f MB/s", prog_, done / scale_, total_ / scale_,
                      unit_, rate / scale_);
  else
    n = std::snprintf(buf, sizeof buf, "%s: %ld/%ld %s, %.1f/s", prog_, done, total_, unit_, rate);
  std::string line(buf, static_cast<size_t>(std::max(0, std::min(n, static_cast<int>(sizeof buf) - 1))));
  if (done < total_ && rate > 0) {
    long left = static_cast<long>((total_ - done) / rate);
    std::snprintf(buf, sizeof buf, ", %ld:%02ld:%02ld left", left / 3600, left / 60 % 60, left % 60);
    line += buf;
  }
  // cover whatever the previous, longer line left on the screen
  size_t w = line.size();
  if (line.size() < width_) line += std::string(width_ - line.size(), ' ');
  width_ = w;
  say_err(("\r" + line).c_str());
  open_ = done < total_;
  if (!open_) {
    say_err("\n");
    width_ = 0;
  }
}

void note(const char* prog, bool quiet, const std::string& text) {
  if (!quiet) say_err((std::string(prog) + ": " + text + "\n").c_str());
}

// ---- the table --------------------------------------------------------------------

void load_table(const char* prog, const std::string& path, bool quiet) {
  check_pheno();
  std::optional<meter> reading;
  load_exp(path.c_str(), [&](uint64_t done, uint64_t total) {
    if (total < (32u << 20)) return;  // smaller tables load in well under a second
    if (!reading) reading.emplace(prog, "read", static_cast<long>(total), !quiet, 1e6);
    (*reading)(static_cast<long>(std::min(done, total)));
  });
  const std::string why = scale_why();
  if (!why.empty()) note(prog, quiet, why);
}

std::string label_why(double bound) {
  int ones = 0;
  for (int s = 0; s < n_samp; ++s) ones += phe[s];
  if (ones == 0 || ones == n_samp)
    return "all " + std::to_string(n_samp) + " samples are labelled " + std::to_string(phe[0]) +
           ": the labels carry no information, so no pair can be found";
  double h = phe_synergic(phe.data());
  if (h + mi(PURE_P) > bound) return "";
  char buf[256];
  std::snprintf(buf, sizeof buf,
                "the labels' entropy is only %.4g bits (%d of %d samples labelled 1), so no probe can score "
                "above the candidate bound %g: no candidates (a lower --bound would give some)",
                h, ones, n_samp, bound);
  return buf;
}
