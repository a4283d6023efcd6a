// cli.h: what the programs share beyond the analysis core: thread counts,
// the terminal progress display, and OS error text for messages.
#pragma once

#include <chrono>
#include <string>

// Largest accepted -t value.
constexpr int MAX_THREADS = 1024;

// Cores this process may run on (taskset and container limits included).
int all_cores();

// Thread count: a plain decimal number up to MAX_THREADS, 0 meaning every core.
bool parse_threads(const char* s, int& n);

// If argv[k] is a thread option (-t N, -tN, --threads N, --threads=N), read
// its value into n_thr, advancing k past a separate value, and return true;
// why is set (non-empty) when the value is missing or not a thread count.
bool thread_opt(int argc, char** argv, int& k, int& n_thr, std::string& why);

// "what: <strerror(errno)>".
std::string os_err(const std::string& what);

// The folder part of a path: "." for a bare name, "/" for a name at the root.
std::string dir_of(const std::string& path);

// Items done of all, rate and time left, redrawn on stderr at most four times
// a second; only when stderr is a terminal, so files and pipes see no such text.
class meter {
 public:
  // prog names the program; unit the items ("pairs", "probes scored").
  meter(const char* prog, const char* unit, long total, bool on);
  // a run stopped part way ends the display's line before the error message
  ~meter();
  meter(const meter&) = delete;
  meter& operator=(const meter&) = delete;
  void operator()(long done);

 private:
  const char* prog_;
  const char* unit_;
  long total_;
  bool on_, open_ = false;
  std::chrono::steady_clock::time_point t0_ = std::chrono::steady_clock::now(), last_ = t0_;
};
