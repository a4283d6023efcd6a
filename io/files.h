// files.h: how the programs write their files, in one place: whole-file
// outputs (a temporary file renamed into place), append outputs (whole
// records only), temporary files, same-file checks, and the one guard of the
// signals that ask a run to stop.
#pragma once

#include <signal.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <memory>
#include <string>
#include <vector>

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
  int fd_ = -1;       // the descriptor the path names, or -1
  std::string text_;  // in place: the text to write at commit
  std::unique_ptr<tmp_file> tmp_;
};

// Write every output of a run, or leave every one as it was: all texts are
// staged first, then the nodes written in place (a failure there leaves the
// files untouched), then the files renamed into place.
void write_outputs(std::vector<out_file>& outs, const std::vector<std::string>& texts);

// The appending output of a run (the pair record file). The constructor
// checks, without creating the file, that text can be appended to `path`;
// the file is opened at the first append and stays open. A file that does
// not exist yet is created only with its first whole text: it goes to a
// temporary file beside it that is then linked into place, so a failed write
// (a full disk) leaves no file at all. A symbolic link stays a link (one
// another user planted in a shared folder is refused, see may_follow), and
// the file is opened without following a link put at its name since the
// check; a path naming an open descriptor (/dev/stdout, /dev/fd/N) is
// appended to through it. Throws syn_error.
class rec_out {
 public:
  explicit rec_out(std::string path);
  ~rec_out();
  rec_out(const rec_out&) = delete;
  rec_out& operator=(const rec_out&) = delete;
  // Append one whole record in a single write; a write that fails part way
  // is cut back off the file before the error is thrown.
  void append(const std::string& rec);
  // Records appended so far.
  long count() const { return n_; }

 private:
  void open_first(const std::string& rec);
  std::string path_, dest_;
  int fd_ = -1;
  long n_ = 0;
};

// Append text to the file at `path` (created when missing) in one write, as
// rec_out::append does, opening and closing it. Throws syn_error.
void append_once(const std::string& path, const std::string& text);

// Whether two paths name the same file (device and inode; links followed).
bool same_file(const std::string& a, const std::string& b);

// Holds the stop signals (STOP_SIGS) for its lifetime, in the calling thread
// and every thread it starts meanwhile. The kernel may stop a large write
// between pages for a fatal signal, which would tear a record, and a
// temporary file must come into being together with its removal slot.
// between() lets a pending stop signal through at a point where every file is
// whole (unless the caller had it blocked already).
class stop_guard {
 public:
  stop_guard();
  ~stop_guard();
  stop_guard(const stop_guard&) = delete;
  stop_guard& operator=(const stop_guard&) = delete;
  void between() const;

 private:
  sigset_t set_, old_;
};
