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
//                       distinct_files({args[0]}, {args[1]});  // before anything is read or written
//                       out_file out(args[1]);                 // checked now, written at the end
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

#include <signal.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
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

// A double as the programs write it (%g: six significant digits).
std::string num_text(double x);

// Cores this process may run on (taskset and container limits included).
int all_cores();

// Thread count: a plain decimal number up to MAX_THREADS, 0 meaning every core.
bool parse_threads(const char* s, int& n);

// ---- files ----------------------------------------------------------------------

// "what: <strerror(errno)>".
std::string os_err(const std::string& what);

// The folder part of a path: "." for a bare name, "/" for a name at the root.
std::string dir_of(const std::string& path);

// Whether a symbolic link may be followed, as the kernel's protection of
// shared folders (fs.protected_symlinks) allows it: the follower owns the
// link, or the link's folder is not both sticky and world-writable (as /tmp
// is), or the folder's owner owns the link. A link another user planted in a
// shared folder is never followed.
bool may_follow(uid_t follower, uid_t link_uid, uid_t dir_uid, mode_t dir_mode);

// The open descriptor a path names (/dev/fd/N, /proc/self/fd/N, also
// /proc/PID/fd/N of this process), or -1.
int fd_named(const std::string& path);

// The file a path finally names: symbolic links followed one by one, also a
// dangling one (its target is what a write creates). Relative link targets
// are taken from the link's folder. A link that may_follow refuses throws
// syn_error naming it. With fd given, a path reached that names an open
// descriptor (/dev/stdout is a link to /proc/self/fd/1) ends the walk and
// sets *fd to it; else *fd is -1.
std::string link_target(const std::string& path, int* fd = nullptr);

// Where an output named `path` goes: its link_target, checked to be a usable
// place. A path that does not exist yet must have a writable folder; one that
// exists must not be a folder. `exists` says which, and `st` then holds its
// stat; `fd` is the open descriptor the path names, or -1. Throws syn_error
// naming `path`.
std::string out_dest(const std::string& path, struct stat& st, bool& exists, int& fd);

// Throws syn_error when an output is the same file as an input (the same
// device and inode, so also through symbolic or hard links). Character
// devices (/dev/null, a terminal) may be both. Call before anything is read
// or written.
void distinct_files(const std::vector<std::string>& inputs, const std::vector<std::string>& outputs);

// The signals that ask a run to stop; each removes the temporary files.
constexpr int STOP_SIGS[] = {SIGTERM, SIGINT, SIGHUP, SIGQUIT};

// A temporary file beside `final_path` (same folder, hidden, a name no longer
// than the final name or 14 characters), created empty and exclusively (a
// name already there, a link included, is never opened), and removed by the
// destructor, and by a stop signal (STOP_SIGS) that arrives while it exists.
class tmp_file {
 public:
  explicit tmp_file(const std::string& final_path);  // throws syn_error
  ~tmp_file();
  tmp_file(const tmp_file&) = delete;
  tmp_file& operator=(const tmp_file&) = delete;
  int fd() const { return fd_; }
  const std::string& path() const { return path_; }
  // Close the descriptor; throws syn_error naming `what` when the data did not
  // reach the disk.
  void close_or_throw(const std::string& what);
  // The file has been renamed or linked into place: nothing to remove now.
  void release();

 private:
  std::string path_;
  int fd_ = -1;
  int slot_ = -1;
};

// Write all of text to fd; false with errno set on failure.
bool write_all(int fd, const char* p, size_t n);

// An output written whole. The constructor checks, before the long work, that
// it can be written: a regular file (or a new one) in a writable folder is
// later replaced through a temporary file beside it, renamed into place only
// when complete, with the old file's mode (and owner where allowed); a
// symbolic link stays a link, its target is replaced (links another user
// planted in a shared folder are refused, see may_follow); a character device
// or a FIFO (/dev/null) is written in place, and so is a descriptor the path
// names (/dev/stdout, /dev/fd/N: a file the shell opened with >> is appended
// to); folders, block devices and sockets are refused. Throws syn_error.
class out_file {
 public:
  explicit out_file(std::string path);
  // stage(text) then commit()
  void write(const std::string& text);
  // For a run with several outputs (write_outputs): stage puts the text into
  // the temporary file (a node written in place keeps it for commit), commit
  // puts it where it belongs.
  void stage(const std::string& text);
  void commit();
  bool in_place() const { return in_place_; }
  const std::string& path() const { return path_; }

 private:
  std::string path_, dest_;
  bool in_place_ = false;
  int fd_ = -1;  // the descriptor the path names, or -1
  std::string text_;  // in place: the text to write at commit
  std::unique_ptr<tmp_file> tmp_;
};

// Write every output of a run, or leave every one as it was: all texts are
// staged first, then the nodes written in place (a failure there leaves the
// files untouched), then the files renamed into place.
void write_outputs(std::vector<out_file>& outs, const std::vector<std::string>& texts);

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
