// cli.h: the one command-line layer of the programs (not of the core).
//
// A program is a short main over this layer:
//
//   struct my_opts { int threads = 1; bool quiet = false; };   // defaults here
//   int main(int argc, char** argv) {
//     my_opts o;
//     const prog_def def = {"my_prog", {"[-t N] [-q] IN OUT"}, "What it does.", "Exit status: ..."};
//     return run_main(def, {threads_opt(o.threads), quiet_opt(o.quiet)}, argc, argv,
//                     [&](std::vector<std::string>& args) {
//                       want_args(args, 2, "IN OUT");
//                       distinct_files({args[0]}, {args[1]});  // io/files.h: before anything is read
//                       out_file out(args[1]);                 // or written; checked now, written at the end
//                       ...
//                       out.write(text);
//                       return 1;                              // the program's exit status
//                     });
//   }
//
// run_main parses argv by the option table (options before, between or after
// the arguments; "--" ends them; -h/--help and --version are always there),
// prints the help from the same table, and turns every error thrown by the
// body into one line "my_prog: message" on stderr and exit status 2 (a usage
// error adds the usage lines). Messages never hold a newline.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "eng_opt.h"  // the engines' option rules and defaults, MAX_THREADS

// ---- options and the main wrapper ------------------------------------------

// A bad command line: reported with the usage lines, exit status 2.
struct usage_error : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// One entry of a program's option table.
struct opt {
  char shrt = 0;            // short name ('t' for -t), 0 for none
  std::string lng;          // long name without "--" ("threads")
  std::string arg;          // value name in the help ("N"); empty for a flag
  std::string help;         // help text; "\n" starts a continuation line
  std::function<void(const char* value)> set;  // value is null for a flag; throws usage_error
};

// What the help and the messages say about a program.
struct prog_def {
  const char* name;                 // "probe_rank"
  std::vector<std::string> forms;   // usage forms after the name: "[-t N] [-q] EXPR OUT"
  std::string about;                // what it does, printed after the usage lines
  std::string exits;                // the exit statuses, printed last
};

// The whole of a program's main; returns its exit status. body gets the
// arguments that are not options, in order, and returns the exit status.
int run_main(const prog_def& def, const std::vector<opt>& table, int argc, char** argv,
             const std::function<int(std::vector<std::string>& args)>& body);

// The exit status of a complete run: the program's own (1 for probe_rank and
// pair_search), or 0 when run as a command of the synergy front door (front).
inline int done_status(int own, bool front) { return front && own == 1 ? 0 : own; }

// The toolkit's version ("1.0.0").
const char* syn_version();

// The running command as one would type it again: the program's name (as
// run_main was given it) and every argument shell-quoted (sh_word). Set by
// run_main; for the provenance lines of the tables written whole.
const std::string& command_line();

// Manual pages from the option tables: while man_mode is not off, run_main
// prints the page of the program (whole: a page of its own; section: a
// subsection of the front door's page) on stdout instead of running it, and
// returns 0. Set only by the tool that writes the pages at build time.
enum class man_kind { off, whole, section };
extern man_kind man_mode;

// Throws usage_error unless there are exactly n arguments (names: "EXPR OUT").
void want_args(const std::vector<std::string>& args, size_t n, const char* names);

// Options several programs share, each written once.
opt threads_opt(int& n_thr);                     // -t, --threads N (0 = every core)
opt quiet_opt(bool& quiet);                      // -q, --quiet
opt shuffle_opt(std::optional<uint64_t>& seed);  // --shuffle-labels SEED
opt bound_opt(double& bound);                    // --bound X (bits)
// The candidate bound's rule (bound_check): throws usage_error naming `what`.
void want_bound(double x, const std::string& what);
// The table plus the options that take the labels from a sample sheet
// (--pheno, --column, --case, --control, --drop-other; sheet.h), which set the
// core's process-wide `pheno`.
std::vector<opt> with_pheno(std::vector<opt> table);
// Throws usage_error when those options do not go together.
void check_pheno();

// Values of options and arguments; each throws usage_error naming `what`.
uint64_t arg_u64(const char* s, const std::string& what);   // decimal, 0 to 2^64 - 1
int arg_int(const char* s, const std::string& what);        // decimal with optional sign
double arg_num(const char* s, const std::string& what);     // a finite number in full

// A word for a command line shown to the user: as it is when the shell takes
// it so (letters, digits and _ . / : = @ % + , -), else in single quotes.
std::string sh_word(const std::string& s);

// A double as the programs write it: the score text (synergy.h).
std::string num_text(double x);

// Cores this process may run on (taskset and container limits included).
int all_cores();

// Thread count: a plain decimal number up to MAX_THREADS, 0 meaning every core.
bool parse_threads(const char* s, int& n);

// ---- progress display -------------------------------------------------------------

// Items done of all, rate and time left, redrawn on stderr at most four times
// a second; only when stderr is a terminal, so files and pipes see no such
// text. Every redraw covers the whole previous line; the last one ends it.
class meter {
 public:
  // prog names the program; unit the items ("pairs", "probes scored"); a
  // scale of 1e6 counts bytes and shows megabytes ("12.5/40.0 MB read").
  meter(const char* prog, const char* unit, long total, bool on, double scale = 1.0);
  // a run stopped part way ends the display's line before the error message
  ~meter();
  meter(const meter&) = delete;
  meter& operator=(const meter&) = delete;
  void operator()(long done);
  // End the line now (before a message of the program's own).
  void close();

 private:
  const char* prog_;
  const char* unit_;
  long total_;
  double scale_;
  bool on_, open_ = false;
  size_t width_ = 0;
  std::chrono::steady_clock::time_point t0_ = std::chrono::steady_clock::now(), last_ = t0_;
};

// A note on stderr ("prog: text"), unless quiet: why a result is empty.
void note(const char* prog, bool quiet, const std::string& text);

// ---- the table --------------------------------------------------------------------

// Load the expression table as every program does (load_exp), with a
// progress display when the file is large and stderr a terminal.
void load_table(const char* prog, const std::string& path, bool quiet);

// Why the labels of the loaded table let no pair search find anything, or "":
// all samples in one class, or a label entropy so low that no probe can score
// above `bound` (a score exceeds the labels' entropy by at most the entropy
// of a pure cluster, mi(PURE_P)).
std::string label_why(double bound);
