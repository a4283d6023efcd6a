// run_prog.h: run a built program through the shell and capture what it did,
// for the end-to-end tests of probe_rank and pair_search.
#pragma once

#include <sys/stat.h>
#include <sys/wait.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace run {

struct result {
  int status = -1;  // exit status, or 128 + signal
  std::string out, err;
};

// Single-quoted for the shell.
inline std::string q(const std::string& s) {
  std::string r = "'";
  for (char c : s) r += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return r + "'";
}

inline std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

inline void spit(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  if (!out) throw std::runtime_error("cannot write " + path);
}

inline void spit_gz(const std::string& path, const std::string& text) {
  gzFile f = gzopen(path.c_str(), "wb");
  if (!f) throw std::runtime_error("cannot write " + path);
  if (!text.empty()) gzwrite(f, text.data(), static_cast<unsigned>(text.size()));
  gzclose(f);
}

inline bool exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

// A fresh, empty folder for one test under the build tree.
inline std::string fresh_dir(const std::string& name) {
  std::string d = std::string(SYN_BINARY_DIR) + "/e2e_" + name;
  std::string cmd = "rm -rf " + q(d) + " && mkdir -p " + q(d);
  if (std::system(cmd.c_str()) != 0) throw std::runtime_error("cannot make " + d);
  return d;
}

// Names in a folder, sorted, dot files included.
inline std::vector<std::string> listing(const std::string& dir) {
  std::string tmp = dir + ".ls";
  std::string cmd = "ls -A " + q(dir) + " > " + q(tmp);
  std::vector<std::string> names;
  if (std::system(cmd.c_str()) != 0) return names;
  std::istringstream in(slurp(tmp));
  for (std::string n; std::getline(in, n);) names.push_back(n);
  std::remove(tmp.c_str());
  return names;
}

// Run shell text `cmd` (stdin from /dev/null), capturing stdout and stderr.
inline result sh(const std::string& cmd, const std::string& scratch) {
  std::string o = scratch + ".out", e = scratch + ".err";
  std::string full = "{ " + cmd + " ; } < /dev/null > " + q(o) + " 2> " + q(e);
  int st = std::system(full.c_str());
  result r;
  if (st != -1 && WIFEXITED(st))
    r.status = WEXITSTATUS(st);
  else if (st != -1 && WIFSIGNALED(st))
    r.status = 128 + WTERMSIG(st);
  r.out = slurp(o);
  r.err = slurp(e);
  std::remove(o.c_str());
  std::remove(e.c_str());
  return r;
}

// Run program `bin` with arguments, each quoted.
inline result prog(const std::string& bin, const std::vector<std::string>& args, const std::string& scratch) {
  std::string cmd = q(bin);
  for (const std::string& a : args) cmd += " " + q(a);
  return sh(cmd, scratch);
}

// A table without its leading provenance lines ("# ..."), which name the
// command and so differ between runs that must give the same table.
inline std::string table(const std::string& text) {
  size_t at = 0;
  while (at < text.size() && text[at] == '#') {
    const size_t nl = text.find('\n', at);
    at = nl == std::string::npos ? text.size() : nl + 1;
  }
  return text.substr(at);
}

// Number of lines (newline characters) in text.
inline long lines(const std::string& text) {
  long n = 0;
  for (char c : text) n += c == '\n';
  return n;
}

}  // namespace run
