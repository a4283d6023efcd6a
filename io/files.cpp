// Whole-file and append outputs, temporary files, same-file checks and the
// stop-signal guard.
#include "files.h"

#include <fcntl.h>
#include <limits.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "synergy.h"

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
  for (const std::string& d :
       {std::string("/dev/fd/"), std::string("/proc/self/fd/"), std::string("/proc/thread-self/fd/"),
        "/proc/" + std::to_string(getpid()) + "/fd/"})
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
        throw syn_error("output '" + outputs[o] + "' is also output '" + outputs[k] +
                        "'; choose another name");
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

// One write() for the whole record; a short write is cut back off the file
// so that it holds whole records only.
void write_rec(int fd, const std::string& path, const std::string& rec) {
  off_t old = lseek(fd, 0, SEEK_END);
  size_t done = 0;
  while (done < rec.size()) {
    ssize_t k = write(fd, rec.data() + done, rec.size() - done);
    if (k > 0) {
      // after a short write, writing the rest tells why (or completes it)
      done += static_cast<size_t>(k);
      continue;
    }
    if (k == 0)
      errno = ENOSPC;
    else if (errno == EINTR)
      continue;
    int err = errno;
    if (done > 0 && (old < 0 || ftruncate(fd, old) != 0)) {
      errno = err;
      throw syn_error(os_err(path + ": write failed, last record left incomplete"));
    }
    errno = err;
    throw syn_error(os_err(path + ": write failed"));
  }
}

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
    if (sigaction(sig, nullptr, &old) != 0 || (old.sa_flags & SA_SIGINFO) || old.sa_handler != SIG_DFL)
      continue;
    struct sigaction sa;
    std::memset(&sa, 0, sizeof sa);
    sa.sa_handler = on_stop;
    sigemptyset(&sa.sa_mask);
    sigaction(sig, &sa, nullptr);
  }
}

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
  stop_guard hold;
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
  stop_guard hold;
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
  if (access(dir.c_str(), W_OK | X_OK) != 0)
    throw syn_error(os_err(path + ": cannot write into folder '" + dir + "'"));
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
  if (access(dir.c_str(), W_OK | X_OK) != 0)
    throw syn_error(os_err(path_ + ": cannot write into folder '" + dir + "'"));
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

// ---- append output -----------------------------------------------------------------

rec_out::rec_out(std::string path) : path_(std::move(path)) {
  struct stat st;
  bool exists = false;
  int fd = -1;
  dest_ = out_dest(path_, st, exists, fd);
  if (fd >= 0) {
    // a descriptor the caller opened (/dev/stdout, /dev/fd/N): appended to as it is
    fd_ = fcntl(fd, F_DUPFD_CLOEXEC, 3);
    if (fd_ < 0) throw syn_error(os_err(path_ + ": cannot append"));
    return;
  }
  if (!exists) return;  // created at the first record
  // an existing file: try to open it for appending, which creates nothing
  fd = open(dest_.c_str(), O_WRONLY | O_APPEND | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) throw syn_error(os_err(path_ + ": cannot append"));
  close(fd);
}

rec_out::~rec_out() {
  if (fd_ >= 0) close(fd_);
}

// The file is opened without following a link at its name: dest_ is the end
// of the link chain, checked, and a link put there since is not followed.
void rec_out::open_first(const std::string& rec) {
  fd_ = open(dest_.c_str(), O_WRONLY | O_APPEND | O_NOFOLLOW | O_CLOEXEC);
  if (fd_ >= 0) {
    write_rec(fd_, path_, rec);
    return;
  }
  if (errno != ENOENT) throw syn_error(os_err(path_ + ": cannot open for appending"));
  tmp_file tmp(dest_);
  mode_t mask = umask(0);
  umask(mask);
  fchmod(tmp.fd(), 0666 & ~mask);
  if (!write_all(tmp.fd(), rec.data(), rec.size())) throw syn_error(os_err(path_ + ": write failed"));
  tmp.close_or_throw(path_);
  // link() never replaces a file that appeared meanwhile; where a file system
  // has no hard links, rename() does the same but for that race
  if (link(tmp.path().c_str(), dest_.c_str()) == 0) {
    // the temporary name goes with tmp
  } else if (errno == EEXIST) {
    fd_ = open(dest_.c_str(), O_WRONLY | O_APPEND | O_NOFOLLOW | O_CLOEXEC);
    if (fd_ < 0) throw syn_error(os_err(path_ + ": cannot open for appending"));
    write_rec(fd_, path_, rec);
    return;
  } else if (rename(tmp.path().c_str(), dest_.c_str()) == 0) {
    tmp.release();
  } else {
    throw syn_error(os_err(path_ + ": cannot create"));
  }
  fd_ = open(dest_.c_str(), O_WRONLY | O_APPEND | O_NOFOLLOW | O_CLOEXEC);
  if (fd_ < 0) throw syn_error(os_err(path_ + ": cannot open for appending"));
}

void rec_out::append(const std::string& rec) {
  if (fd_ < 0)
    open_first(rec);
  else
    write_rec(fd_, path_, rec);
  ++n_;
}

void append_once(const std::string& path, const std::string& text) {
  int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) throw syn_error(os_err(path + ": cannot open for appending"));
  try {
    write_rec(fd, path, text);
  } catch (...) {
    close(fd);
    throw;
  }
  if (close(fd) != 0) throw syn_error(os_err(path + ": write failed"));
}

bool same_file(const std::string& a, const std::string& b) {
  struct stat sa, sb;
  return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

// ---- the stop-signal guard -------------------------------------------------------------

stop_guard::stop_guard() {
  sigemptyset(&set_);
  for (int sig : STOP_SIGS) sigaddset(&set_, sig);
  pthread_sigmask(SIG_BLOCK, &set_, &old_);
}

stop_guard::~stop_guard() { pthread_sigmask(SIG_SETMASK, &old_, nullptr); }

void stop_guard::between() const {
  sigset_t pend;
  if (sigpending(&pend) != 0) return;
  for (int sig : STOP_SIGS)
    if (sigismember(&pend, sig) && !sigismember(&old_, sig)) {
      pthread_sigmask(SIG_SETMASK, &old_, nullptr);
      pthread_sigmask(SIG_BLOCK, &set_, nullptr);
      return;
    }
}
