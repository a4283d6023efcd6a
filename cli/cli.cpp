// The command-line layer: option parsing and help from one table, the main
// wrapper, whole-file outputs, temporary files, and the progress display.
#include "cli.h"

#include <fcntl.h>
#include <limits.h>
#include <sched.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <csignal>
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

std::string num_text(double x) {
  char b[32];
  std::snprintf(b, sizeof b, "%g", x);
  return b;
}

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
  if (!(x >= 0.0 && x <= 1.0)) throw usage_error(what + " '" + num_text(x) + "' is not from 0 to 1 (bits)");
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

// ---- files ----------------------------------------------------------------------

std::string os_err(const std::string& what) { return what + ": " + std::strerror(errno); }

std::string dir_of(const std::string& path) {
  size_t k = path.rfind('/');
  if (k == std::string::npos) return ".";
  if (k == 0) return "/";
  return path.substr(0, k);
}

bool may_follow(uid_t follower, uid_t link_uid, uid_t dir_uid, mode_t dir_mode) {
  const bool shared = (dir_mode & S_ISVTX) && (dir_mode & S_IWOTH);
  return link_uid == follower || !shared || dir_uid == link_uid;
}

int fd_named(const std::string& path) {
  std::string pre;
  for (const std::string& d : {std::string("/dev/fd/"), std::string("/proc/self/fd/"),
                               std::string("/proc/thread-self/fd/"), "/proc/" + std::to_string(getpid()) + "/fd/"})
    if (path.compare(0, d.size(), d) == 0) pre = d;
  if (pre.empty() || path.size() == pre.size() || path.size() > pre.size() + 9) return -1;
  int n = 0;
  for (size_t k = pre.size(); k < path.size(); ++k) {
    if (path[k] < '0' || path[k] > '9') return -1;
    n = n * 10 + (path[k] - '0');
  }
  return fcntl(n, F_GETFD) < 0 ? -1 : n;
}

std::string link_target(const std::string& path, int* fd) {
  if (fd) *fd = -1;
  std::string p = path;
  for (int hop = 0; hop < 40; ++hop) {
    if (fd && (*fd = fd_named(p)) >= 0) return p;
    struct stat st;
    if (lstat(p.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return p;
    const std::string dir = dir_of(p);
    struct stat ds;
    if (stat(dir.c_str(), &ds) == 0 && !may_follow(geteuid(), st.st_uid, ds.st_uid, ds.st_mode))
      throw syn_error(path + ": the symbolic link '" + p + "' belongs to another user (uid " +
                      std::to_string(st.st_uid) + ") in the shared folder '" + dir +
                      "': not followed (it may have been planted); remove it or choose another name");
    std::vector<char> buf(PATH_MAX + 1);
    ssize_t n = readlink(p.c_str(), buf.data(), buf.size() - 1);
    if (n < 0) return p;
    std::string to(buf.data(), static_cast<size_t>(n));
    p = to[0] == '/' || p.find('/') == std::string::npos ? to : dir_of(p) + "/" + to;
  }
  throw syn_error(path + ": too many levels of symbolic links");
}

void distinct_files(const std::vector<std::string>& inputs, const std::vector<std::string>& outputs) {
  for (size_t o = 0; o < outputs.size(); ++o) {
    struct stat so;
    bool have = stat(outputs[o].c_str(), &so) == 0;
    auto same = [&](const std::string& other) {
      struct stat si;
      return have && stat(other.c_str(), &si) == 0 && si.st_dev == so.st_dev && si.st_ino == so.st_ino &&
             !S_ISCHR(so.st_mode);
    };
    for (const std::string& in : inputs)
      if (same(in))
        throw syn_error("output '" + outputs[o] + "' is the input '" + in +
                        "' (the same file, perhaps through a link); choose another name");
    for (size_t k = 0; k < o; ++k)
      if (same(outputs[k]) || (!have && link_target(outputs[k]) == link_target(outputs[o])))
        throw syn_error("output '" + outputs[o] + "' is also output '" + outputs[k] + "'; choose another name");
  }
}

bool write_all(int fd, const char* p, size_t left) {
  while (left > 0) {
    ssize_t k = write(fd, p, left);
    if (k < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (k == 0) {
      errno = ENOSPC;
      return false;
    }
    p += k;
    left -= static_cast<size_t>(k);
  }
  return true;
}

namespace {

// Temporary files that a stop signal must remove: fixed slots, so that the
// handler touches nothing but these bytes and unlink().
constexpr int N_SLOTS = 8;
char g_tmp[N_SLOTS][PATH_MAX];
volatile sig_atomic_t g_used[N_SLOTS];
bool g_handlers = false;

extern "C" void on_stop(int sig) {
  for (int k = 0; k < N_SLOTS; ++k)
    if (g_used[k]) unlink(g_tmp[k]);
  signal(sig, SIG_DFL);
  raise(sig);
}

void install_handlers() {
  if (g_handlers) return;
  g_handlers = true;
  for (int sig : STOP_SIGS) {
    struct sigaction old;
    // nohup stays nohup; a host with a handler of its own (an R session) keeps
    // it and unwinds, and the destructors remove the files
    if (sigaction(sig, nullptr, &old) != 0 || (old.sa_flags & SA_SIGINFO) || old.sa_handler != SIG_DFL) continue;
    struct sigaction sa;
    std::memset(&sa, 0, sizeof sa);
    sa.sa_handler = on_stop;
    sigemptyset(&sa.sa_mask);
    sigaction(sig, &sa, nullptr);
  }
}

// Blocks the stop signals for its lifetime: a temporary file and its slot
// come into being together.
struct hold_stops {
  sigset_t old;
  hold_stops() {
    sigset_t s;
    sigemptyset(&s);
    for (int sig : STOP_SIGS) sigaddset(&s, sig);
    pthread_sigmask(SIG_BLOCK, &s, &old);
  }
  ~hold_stops() { pthread_sigmask(SIG_SETMASK, &old, nullptr); }
};

}  // namespace

tmp_file::tmp_file(const std::string& final_path) {
  std::string dir = dir_of(final_path);
  size_t cut = final_path.rfind('/');
  std::string base = cut == std::string::npos ? final_path : final_path.substr(cut + 1);
  // "." + part of the name + "~XXXXXX": never longer than the final name (or
  // than 14 characters, which every file system takes)
  size_t limit = std::max<size_t>(base.size(), 14);
  std::string name = "." + base.substr(0, std::min(base.size(), limit - 8)) + "~XXXXXX";
  std::string tmpl = (cut == std::string::npos ? std::string() : dir + "/") + name;
  if (tmpl.size() >= PATH_MAX) throw syn_error(final_path + ": path too long");
  install_handlers();
  hold_stops hold;
  fd_ = mkostemp(&tmpl[0], O_CLOEXEC);
  if (fd_ < 0) throw syn_error(os_err(final_path + ": cannot create a temporary file in '" + dir + "'"));
  path_ = tmpl;
  for (int k = 0; k < N_SLOTS; ++k)
    if (!g_used[k]) {
      std::memcpy(g_tmp[k], path_.c_str(), path_.size() + 1);
      g_used[k] = 1;
      slot_ = k;
      break;
    }
}

tmp_file::~tmp_file() {
  if (fd_ >= 0) close(fd_);
  if (!path_.empty()) unlink(path_.c_str());
  if (slot_ >= 0) g_used[slot_] = 0;
}

void tmp_file::close_or_throw(const std::string& what) {
  if (fsync(fd_) != 0 && errno != EINVAL) throw syn_error(os_err(what + ": write failed"));
  int fd = fd_;
  fd_ = -1;
  if (close(fd) != 0) throw syn_error(os_err(what + ": write failed"));
}

void tmp_file::release() {
  hold_stops hold;
  path_.clear();
  if (slot_ >= 0) g_used[slot_] = 0;
  slot_ = -1;
}

std::string out_dest(const std::string& path, struct stat& st, bool& exists, int& fd) {
  if (path.empty()) throw syn_error("output path is empty");
  std::string dest = link_target(path, &fd);
  if (fd >= 0) {
    // a descriptor opened by the caller (the shell's > or >>): written as it is
    const int fl = fcntl(fd, F_GETFL);
    if (fl < 0 || fstat(fd, &st) != 0) throw syn_error(os_err(path + ": cannot write"));
    if ((fl & O_ACCMODE) == O_RDONLY)
      throw syn_error(path + ": descriptor " + std::to_string(fd) + " is not open for writing");
    exists = true;
    return dest;
  }
  exists = stat(dest.c_str(), &st) == 0;
  if (exists) {
    if (S_ISDIR(st.st_mode)) throw syn_error(path + ": is a folder");
    return dest;
  }
  if (errno != ENOENT) throw syn_error(os_err(path + ": cannot write"));
  std::string dir = dir_of(dest);
  struct stat ds;
  if (stat(dir.c_str(), &ds) != 0) throw syn_error(os_err(path + ": cannot write into folder '" + dir + "'"));
  if (!S_ISDIR(ds.st_mode)) throw syn_error(path + ": '" + dir + "' is not a folder");
  if (access(dir.c_str(), W_OK | X_OK) != 0) throw syn_error(os_err(path + ": cannot write into folder '" + dir + "'"));
  return dest;
}

out_file::out_file(std::string path) : path_(std::move(path)) {
  struct stat st;
  bool exists = false;
  dest_ = out_dest(path_, st, exists, fd_);
  if (fd_ >= 0) {
    in_place_ = true;
    return;
  }
  if (!exists) return;
  if (S_ISCHR(st.st_mode) || S_ISFIFO(st.st_mode)) {
    // a device or pipe is written in place: renaming a file over it would
    // replace the node
    if (access(dest_.c_str(), W_OK) != 0) throw syn_error(os_err(path_ + ": cannot write"));
    in_place_ = true;
    return;
  }
  if (!S_ISREG(st.st_mode))
    throw syn_error(path_ + ": not a regular file, a character device or a FIFO: not written");
  if (access(dest_.c_str(), W_OK) != 0) throw syn_error(os_err(path_ + ": cannot write"));
  // the rename needs the folder
  std::string dir = dir_of(dest_);
  if (access(dir.c_str(), W_OK | X_OK) != 0) throw syn_error(os_err(path_ + ": cannot write into folder '" + dir + "'"));
}

void out_file::stage(const std::string& text) {
  if (in_place_) {
    text_ = text;
    return;
  }
  tmp_ = std::make_unique<tmp_file>(dest_);
  const int fd = tmp_->fd();
  struct stat st;
  if (stat(dest_.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
    // the replaced file's owner (where allowed: a user may only keep a group
    // of their own) and mode
    if (fchown(fd, st.st_uid, st.st_gid) != 0 && fchown(fd, static_cast<uid_t>(-1), st.st_gid) != 0) {
    }
    fchmod(fd, st.st_mode & 07777);
  } else {
    // mkstemp makes the file private; give it the mode a plain create would
    mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, 0666 & ~mask);
  }
  if (!write_all(fd, text.data(), text.size())) throw syn_error(os_err(path_ + ": write failed"));
  tmp_->close_or_throw(path_);
}

void out_file::commit() {
  if (in_place_) {
    // the node itself (never through a link planted since the check), or the
    // caller's descriptor as opened
    int fd = fd_ >= 0 ? fd_ : open(dest_.c_str(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) throw syn_error(os_err(path_ + ": cannot write"));
    bool ok = write_all(fd, text_.data(), text_.size());
    int err = errno;
    if (fd != fd_ && close(fd) != 0 && ok) err = errno, ok = false;
    errno = err;
    if (!ok) throw syn_error(os_err(path_ + ": write failed"));
    text_.clear();
    return;
  }
  if (rename(tmp_->path().c_str(), dest_.c_str()) != 0)
    throw syn_error(os_err(path_ + ": cannot move the finished file into place"));
  tmp_->release();
  tmp_.reset();
}

void out_file::write(const std::string& text) {
  stage(text);
  commit();
}

void write_outputs(std::vector<out_file>& outs, const std::vector<std::string>& texts) {
  for (size_t k = 0; k < outs.size(); ++k) outs[k].stage(texts[k]);
  for (out_file& o : outs)
    if (o.in_place()) o.commit();
  for (out_file& o : outs)
    if (!o.in_place()) o.commit();
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
