// pair_search killed at random moments: the record file must always hold a
// whole number of records, each equal, byte for byte, to the record at the
// same place of an uninterrupted run, and every progress line printed must
// have its record in the file already. The one exception is SIGKILL landing
// inside a write that crosses a page of the file: the kernel may stop there,
// and the file must then be recognisably cut.
#include <gtest/gtest.h>

#if defined(PAIR_SEARCH_BIN) && defined(PROBE_RANK_BIN)

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

std::string tmp(const std::string& name) { return std::string(SYN_BINARY_DIR) + "/torn_" + name; }

void put(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

std::string get(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

// Samples 2k and 2k+1 share a value and have opposite labels, so every
// cluster is balanced: every probe scores 1 and becomes a candidate, and
// every pair has a partition, so every pair gets a record. Values on a 0.05
// grid over four levels give a few clusters per probe. Names repeat `stem`
// `rep` times, which sets the record size.
std::string make_table(int ns, int np, int rep, uint64_t seed) {
  std::mt19937_64 rng(seed);
  std::string t = "probe";
  for (int s = 0; s < ns; ++s) t += "\ts" + std::to_string(s);
  t += "\nlabel";
  for (int s = 0; s < ns; ++s) t += s % 2 ? "\t1" : "\t0";
  for (int p = 0; p < np; ++p) {
    std::string stem = "gene" + std::to_string(p) + "_";
    t += "\n";
    for (int r = 0; r < rep; ++r) t += stem;
    for (int k = 0; k < ns / 2; ++k) {
      char v[32];
      std::snprintf(v, sizeof v, "\t%.2f", static_cast<double>(rng() % 4) + 0.05 * static_cast<double>(rng() % 3));
      t += std::string(v) + v;
    }
  }
  return t + "\n";
}

// Start a program with stdout to `out` and stderr to /dev/null.
pid_t spawn(const std::vector<std::string>& args, const std::string& out) {
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int e = open("/dev/null", O_WRONLY);
    if (o < 0 || e < 0 || dup2(o, 1) < 0 || dup2(e, 2) < 0) _exit(127);
    execv(argv[0], argv.data());
    _exit(127);
  }
  return pid;
}

int finish(pid_t pid) {
  int st = 0;
  while (waitpid(pid, &st, 0) < 0)
    if (errno != EINTR) return -1;  // not a child of ours (any more): never wait forever
  return st;
}

// Offsets at which the records of `ref` end: 0 and after every second line.
std::vector<size_t> record_ends(const std::string& ref) {
  std::vector<size_t> ends{0};
  int lines = 0;
  for (size_t i = 0; i < ref.size(); ++i)
    if (ref[i] == '\n' && ++lines % 2 == 0) ends.push_back(i + 1);
  return ends;
}

struct setup {
  std::string expr, ranked, ref, ref_prog;
  std::vector<size_t> ends;
  double secs = 0;   // fastest uninterrupted run
  double first = 0;  // when the first record appeared in that run
  int n_cand = 0;
};

setup prepare(const std::string& tag, int ns, int np, int rep) {
  setup s;
  s.expr = tmp(tag + ".tsv");
  s.ranked = tmp(tag + ".ranked");
  put(s.expr, make_table(ns, np, rep, 42));
  EXPECT_EQ(WEXITSTATUS(finish(spawn({PROBE_RANK_BIN, s.expr, s.ranked}, "/dev/null"))), 1);
  s.n_cand = np;
  std::string rec = tmp(tag + ".ref"), prog = tmp(tag + ".refprog");
  s.secs = 1e9;
  for (int k = 0; k < 3; ++k) {
    std::remove(rec.c_str());
    auto t0 = std::chrono::steady_clock::now();
    pid_t pid = spawn({PAIR_SEARCH_BIN, s.expr, s.ranked, "0", std::to_string(np), rec}, prog);
    // the record file appears with the first record: before that a kill can only leave nothing
    double first = -1;
    int st = 0;
    bool reaped = false;
    while (first < 0 && !reaped) {
      if (waitpid(pid, &st, WNOHANG) == pid) {
        reaped = true;  // ended before the file was seen: its first record time is unknown
      } else if (struct stat sb; stat(rec.c_str(), &sb) == 0) {
        first = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
      } else {
        std::this_thread::sleep_for(std::chrono::microseconds(200));
      }
    }
    if (!reaped) st = finish(pid);
    double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    if (secs < s.secs) {
      s.secs = secs;
      s.first = first < 0 ? 0 : first;
    }
    EXPECT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 1);
  }
  s.ref = get(rec);
  s.ref_prog = get(prog);
  s.ends = record_ends(s.ref);
  // the table is built so that every pair has a record
  EXPECT_EQ(s.ends.size() - 1, static_cast<size_t>(np) * np);
  EXPECT_EQ(std::count(s.ref_prog.begin(), s.ref_prog.end(), '\n'), np * np);
  return s;
}

struct tally {
  int mid = 0;  // kills that landed inside the run: some records, not all
};

// One run of pair_search killed by `sig` after `delay` seconds; check what
// it left behind.
void kill_once(const setup& s, const std::string& tag, int sig, int n_thr, double delay, tally& t,
               uint64_t seed) {
  std::string rec = tmp(tag + ".rec"), prog = tmp(tag + ".prog");
  // a kill before the child opens its stdout must not leave the last round's
  std::remove(rec.c_str());
  std::remove(prog.c_str());
  pid_t pid = spawn({PAIR_SEARCH_BIN, "-t", std::to_string(n_thr), s.expr, s.ranked, "0",
                     std::to_string(s.n_cand), rec},
                    prog);
  std::this_thread::sleep_for(std::chrono::duration<double>(delay));
  kill(pid, sig);
  int st = finish(pid);
  ASSERT_TRUE(WIFSIGNALED(st) || (WIFEXITED(st) && WEXITSTATUS(st) == 1))
      << "seed " << seed << ": pair_search ended with status " << st;

  std::string got = get(rec), pr = get(prog);
  std::string what = "seed " + std::to_string(seed) + ", signal " + std::to_string(sig) + ", " +
                     std::to_string(n_thr) + " thread(s), killed after " + std::to_string(delay) + " s";
  ASSERT_EQ(s.ref.compare(0, got.size(), got), 0) << what << ": the record file is not a prefix of the full run's";
  auto at = std::find(s.ends.begin(), s.ends.end(), got.size());
  if (at == s.ends.end()) {
    // The kernel may stop any write at a page boundary of the file for
    // SIGKILL, which nothing can catch. Such a file must be cut at a page
    // boundary and be recognisably cut, which every record reader refuses:
    // no newline at its end, or half a record.
    ASSERT_EQ(sig, SIGKILL) << what << ": record file of " << got.size() << " bytes ends inside a record";
    ASSERT_EQ(got.size() % static_cast<size_t>(sysconf(_SC_PAGESIZE)), 0u)
        << what << ": record file of " << got.size() << " bytes ends inside a record, not at a page boundary";
    ASSERT_TRUE(got.back() != '\n' || std::count(got.begin(), got.end(), '\n') % 2 == 1)
        << what << ": a cut record file looks whole";
    ++t.mid;
    return;
  }
  long n_rec = at - s.ends.begin();

  // progress lines: a prefix of the full run's, each printed after its record
  ASSERT_EQ(s.ref_prog.compare(0, pr.size(), pr), 0) << what << ": progress is not a prefix";
  long n_prog = std::count(pr.begin(), pr.end(), '\n');
  EXPECT_GE(n_rec, n_prog) << what << ": a progress line came before its record";
  EXPECT_LE(n_rec, n_prog + 1) << what << ": more than one record without its progress line";
  if (n_rec > 0 && static_cast<size_t>(n_rec) + 1 < s.ends.size()) ++t.mid;
}

void kill_loop(const std::string& tag, int ns, int np, int rep, int rounds, const std::vector<int>& sigs) {
  setup s = prepare(tag, ns, np, rep);
  ASSERT_FALSE(::testing::Test::HasFailure());
  const uint64_t seed = 20260;
  std::mt19937_64 rng(seed);
  tally t;
  for (int r = 0; r < rounds && !::testing::Test::HasFailure(); ++r) {
    int sig = sigs[r % sigs.size()];
    int n_thr = 1 + r % 2;
    // mostly while records are being written (what the test is about), some
    // before the first one and some past the end of an uninterrupted run
    double delay = std::uniform_real_distribution<double>(0.5 * s.first, 1.3 * s.secs)(rng);
    kill_once(s, tag, sig, n_thr, delay, t, seed * 1000 + r);
  }
  // the test means something only when kills landed inside runs
  if (!::testing::Test::HasFailure()) {
    EXPECT_GE(t.mid, rounds / 6) << "only " << t.mid << " of " << rounds << " kills landed inside a run";
  }
  for (const char* ext : {".tsv", ".ranked", ".ref", ".refprog", ".rec", ".prog"}) std::remove(tmp(tag + ext).c_str());
}

// Records well under a page, as a normal table writes them; every kind of
// kill a user or a batch system sends.
TEST(TornRecords, KilledSearchLeavesWholeRecords) {
  kill_loop("small", 40, 30, 1, 90, {SIGKILL, SIGTERM, SIGINT, SIGHUP});
}

// Records of about a quarter megabyte (very long probe names): the kernel
// copies a large write page by page and stops between pages for a fatal
// signal, so one write per record is not enough by itself. A signal that
// asks the program to stop (TERM, INT, HUP) must still leave whole records.
TEST(TornRecords, LongRecordsStayWholeOnTermination) {
  kill_loop("long", 40, 6, 8000, 60, {SIGTERM, SIGINT, SIGHUP});
}

}  // namespace

#endif
