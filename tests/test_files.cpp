// Outputs: a replaced file keeps its mode and owner, a link stays a link,
// devices and FIFOs are written in place, temporary names fit where the final
// name fits and vanish on a stop signal, and a record file exists only with
// a whole record in it.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "cli.h"
#include "files.h"
#include "run_prog.h"

namespace {

const std::string rank_bin = PROBE_RANK_BIN;
const std::string pair_bin = PAIR_SEARCH_BIN;

// Both probes score 1 under these labels: two candidates, every pair a record.
const char* const table = "probe\tA\tB\tC\tD\nlabel\t1\t0\t0\t1\na\t0\t0\t1\t1\nb\t0\t1\t0\t1\n";
const char* const ranked = "a\t0\t1\t2\nb\t1\t1\t2\n";

struct files : ::testing::Test {
  std::string d;
  void SetUp() override {
    d = run::fresh_dir(std::string("files_") + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    run::spit(d + "/t.tsv", table);
  }
  run::result rank(const std::string& out) { return run::prog(rank_bin, {d + "/t.tsv", out}, d + "/run"); }
  struct stat st(const std::string& p) {
    struct stat s;
    EXPECT_EQ(lstat(p.c_str(), &s), 0) << p;
    return s;
  }
};

TEST_F(files, ReplacedFileKeepsModeAndOwner) {
  const std::string out = d + "/r.tsv";
  run::spit(out, "old\n");
  ASSERT_EQ(chmod(out.c_str(), 0640), 0);
  bool root = geteuid() == 0;
  if (root) {
    ASSERT_EQ(chown(out.c_str(), 65534, 65534), 0);
  }
  run::result r = rank(out);
  ASSERT_EQ(r.status, 1) << r.err;
  EXPECT_EQ(run::slurp(out), ranked);
  struct stat s = st(out);
  EXPECT_EQ(s.st_mode & 07777, 0640u);
  if (root) {
    EXPECT_EQ(s.st_uid, 65534u);
    EXPECT_EQ(s.st_gid, 65534u);
  }
  // a new file gets the mode a plain create gives
  r = run::sh("umask 027; " + run::q(rank_bin) + " " + run::q(d + "/t.tsv") + " " + run::q(d + "/n.tsv"), d + "/run");
  ASSERT_EQ(r.status, 1) << r.err;
  EXPECT_EQ(st(d + "/n.tsv").st_mode & 07777, 0640u);
  EXPECT_EQ(run::listing(d), (std::vector<std::string>{"n.tsv", "r.tsv", "t.tsv"}));
}

TEST_F(files, LinksStayLinksAndNodesAreWrittenInPlace) {
  // a dangling link: its target is created, the link stays
  ASSERT_EQ(symlink("sub/target.tsv", (d + "/dangling.tsv").c_str()), 0);
  ASSERT_EQ(mkdir((d + "/sub").c_str(), 0755), 0);
  run::result r = rank(d + "/dangling.tsv");
  ASSERT_EQ(r.status, 1) << r.err;
  EXPECT_TRUE(S_ISLNK(st(d + "/dangling.tsv").st_mode));
  EXPECT_EQ(run::slurp(d + "/sub/target.tsv"), ranked);
  EXPECT_EQ(run::listing(d + "/sub"), (std::vector<std::string>{"target.tsv"}));
  // a FIFO is written into, not replaced
  const std::string fifo = d + "/fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
  r = run::sh("cat " + run::q(fifo) + " > " + run::q(d + "/got") + " & " + run::q(rank_bin) + " " +
                  run::q(d + "/t.tsv") + " " + run::q(fifo) + "; st=$?; wait; exit $st",
              d + "/run");
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_TRUE(S_ISFIFO(st(fifo).st_mode));
  EXPECT_EQ(run::slurp(d + "/got"), ranked);
  // a character device stays one
  r = rank("/dev/null");
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_TRUE(S_ISCHR(st("/dev/null").st_mode));
  // folders and sockets are refused before any work
  r = rank(d + "/sub");
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find(d + "/sub: is a folder"), std::string::npos) << r.err;
}

TEST_F(files, TemporaryNamesFitWhereTheFinalNameFits) {
  for (size_t len : {1, 13, 14, 20, 248, 252, 255}) {
    const std::string out = d + "/" + std::string(len, 'n');
    run::result r = rank(out);
    ASSERT_EQ(r.status, 1) << len << ": " << r.err;
    EXPECT_EQ(run::slurp(out), ranked);
    // and again over the existing file
    ASSERT_EQ(rank(out).status, 1) << len;
    std::remove(out.c_str());
  }
  EXPECT_EQ(run::listing(d), (std::vector<std::string>{"t.tsv"}));
}

TEST_F(files, StopSignalsRemoveTemporaryFiles) {
  for (int sig : STOP_SIGS) {
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      signal(sig, SIG_DFL);
      tmp_file a(d + "/out1.tsv"), b(d + "/out2.tsv");
      raise(sig);
      _exit(0);  // not reached
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig) << status;
    EXPECT_EQ(run::listing(d), (std::vector<std::string>{"t.tsv"})) << "signal " << sig;
  }
}

TEST_F(files, RecordFileExistsOnlyWithAWholeRecord) {
  run::spit(d + "/l.tsv", ranked);
  const std::string rec = d + "/rec.tsv";
  // no room for the first record: no file, no temporary file
  run::result r = run::sh("( trap '' XFSZ; ulimit -f 0; exec " + run::q(pair_bin) + " " + run::q(d + "/t.tsv") +
                              " " + run::q(d + "/l.tsv") + " 0 1 " + run::q(rec) + " )",
                          d + "/run");
  EXPECT_EQ(r.status, 2);  // (the limit keeps the message from its file too)
  EXPECT_EQ(run::listing(d), (std::vector<std::string>{"l.tsv", "t.tsv"}));
  // through a dangling link: the link stays, its target gets the records
  ASSERT_EQ(symlink("real.tsv", (d + "/ln.tsv").c_str()), 0);
  r = run::prog(pair_bin, {d + "/t.tsv", d + "/l.tsv", "0", "1", d + "/ln.tsv"}, d + "/run");
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_TRUE(S_ISLNK(st(d + "/ln.tsv").st_mode));
  EXPECT_EQ(run::lines(run::slurp(d + "/real.tsv")), 4);  // two pairs, each with a record
  EXPECT_EQ(run::listing(d), (std::vector<std::string>{"l.tsv", "ln.tsv", "real.tsv", "t.tsv"}));
}

// A link at an output name is followed only where the kernel would follow it
// (fs.protected_symlinks): never one another user planted in a shared folder.
TEST(Links, FollowedOnlyWhereTheKernelWould) {
  struct c {
    uid_t me, link, dir;
    mode_t mode;
    bool ok;
  } cases[] = {
      {1000, 1000, 0, 01777, true},    // my own link in /tmp
      {1000, 2000, 0, 01777, false},   // another user's link in /tmp
      {0, 2000, 0, 01777, false},      // root too
      {1000, 2000, 2000, 01777, true}, // the folder's owner made it
      {1000, 2000, 0, 0777, true},     // not sticky
      {1000, 2000, 0, 01775, true},    // not world-writable
  };
  for (const c& k : cases)
    EXPECT_EQ(may_follow(k.me, k.link, k.dir, k.mode), k.ok) << k.me << " " << k.link << " " << k.dir << " " << k.mode;
}

TEST_F(files, PlantedLinksInSharedFoldersAreRefused) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to plant a link as another user";
  const std::string shared = d + "/shared", victim = d + "/victim", ln = shared + "/out.tsv";
  ASSERT_EQ(mkdir(shared.c_str(), 0755), 0);
  ASSERT_EQ(chmod(shared.c_str(), 01777), 0);
  run::spit(victim, "mine\n");
  run::spit(d + "/l.tsv", ranked);
  run::spit(d + "/rec.tsv", "");
  ASSERT_EQ(symlink(victim.c_str(), ln.c_str()), 0);
  ASSERT_EQ(lchown(ln.c_str(), 65534, 65534), 0);
  const std::vector<std::pair<std::string, std::vector<std::string>>> runs = {
      {rank_bin, {d + "/t.tsv", ln}},
      {pair_bin, {d + "/t.tsv", d + "/l.tsv", "0", "2", ln}},
      {PAIR_REPORT_BIN, {d + "/t.tsv", d + "/l.tsv", d + "/rec.tsv", ln}},
      {PAIR_REPORT_BIN, {"--tsv", ln, d + "/t.tsv", d + "/l.tsv", d + "/rec.tsv", d + "/p.html"}},
  };
  for (const auto& rn : runs) {
    run::result r = run::prog(rn.first, rn.second, d + "/run");
    EXPECT_EQ(r.status, 2) << rn.first;
    EXPECT_EQ(run::lines(r.err), 1) << r.err;
    EXPECT_NE(r.err.find("symbolic link '" + ln + "' belongs to another user (uid 65534)"), std::string::npos) << r.err;
    EXPECT_EQ(run::slurp(victim), "mine\n");
  }
  EXPECT_FALSE(run::exists(d + "/p.html"));
  // the caller's own link there, and the other user's link in a folder that is not shared, are followed
  ASSERT_EQ(lchown(ln.c_str(), 0, 0), 0);
  EXPECT_EQ(rank(ln).status, 1);
  EXPECT_EQ(run::slurp(victim), ranked);
  ASSERT_EQ(lchown(ln.c_str(), 65534, 65534), 0);
  ASSERT_EQ(chmod(shared.c_str(), 0777), 0);
  run::spit(victim, "mine\n");
  EXPECT_EQ(rank(ln).status, 1);
  EXPECT_EQ(run::slurp(victim), ranked);
}

// /dev/stdout and its kin name a descriptor the shell opened: written through
// it, in a pipe and in append mode alike, never replaced.
TEST_F(files, DescriptorsAreWrittenAsTheShellOpenedThem) {
  const std::string t = run::q(d + "/t.tsv"), log = d + "/log";
  for (const std::string name : {"/dev/stdout", "/dev/fd/1", "/proc/self/fd/1"}) {
    run::result r = run::sh("{ " + run::q(rank_bin) + " " + t + " " + name + "; echo $? > " + run::q(d + "/st") +
                                "; } | cat",
                            d + "/run");
    EXPECT_EQ(r.out, ranked) << name << ": " << r.err;
    EXPECT_EQ(run::slurp(d + "/st"), "1\n") << name;
    run::spit(log, "before\n");
    r = run::sh(run::q(rank_bin) + " " + t + " " + name + " >> " + run::q(log), d + "/run");
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(run::slurp(log), "before\n" + std::string(ranked)) << name;
  }
  // records to a descriptor: appended
  run::spit(d + "/l.tsv", ranked);
  run::spit(log, "before\n");
  run::result r = run::sh(run::q(pair_bin) + " -q " + t + " " + run::q(d + "/l.tsv") + " 0 2 /dev/fd/3 3>> " +
                              run::q(log) + " > /dev/null",
                          d + "/run");
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_EQ(run::lines(run::slurp(log)), 1 + 8);
  EXPECT_EQ(run::listing(d), (std::vector<std::string>{"l.tsv", "log", "st", "t.tsv"}));
}

// A table the reading rules reject is rejected by every program alike: the
// same one-line message after the program's name, exit status 2, no output.
TEST_F(files, RejectedTablesAreRejectedByEveryProgram) {
  const std::vector<std::string> bad = {
      "id\ta\tb\nlabel\t1\tcase\ng0\t1\t2\n",        "id\ta\tb\nlabel\t1\t0\t\ng0\t1\t2\n",
      "id,a,b\nlabel,1,0\ng0,1,2\n",                     "id\ta\tb\nlabel\t1\t0\ng0\tNA\t2\n",
      "id\ta\tb\nlabel\t1\t0\ng0\t4,5\t2\n",           "id\ta\tb\nlabel\t1\t0\ng0\tkinase\t1\t2\n",
      "id\ta\tb\nlabel\t1\t0\ng0\t1\t\n",               "id\ta\nlabel\t1\ng0\t1\n",
      "id\ta\tb\nlabel\t1\t0\n\x1f\x8b" "g0\t1\t2\n",  // a name the lists would read back as gzip
  };
  run::spit(d + "/l.tsv", "g0\t0\t1\t2\n");
  run::spit(d + "/rec.tsv", "");
  for (const std::string& t : bad) {
    run::spit(d + "/bad.tsv", t);
    const std::string in = d + "/bad.tsv";
    std::vector<std::pair<std::string, std::vector<std::string>>> runs = {
        {rank_bin, {in, d + "/o.tsv"}},
        {pair_bin, {in, d + "/l.tsv", "0", "1", d + "/o.tsv"}},
        {PAIR_REPORT_BIN, {in, d + "/l.tsv", d + "/rec.tsv", d + "/o.tsv"}},
    };
    std::string first;
    for (const auto& rn : runs) {
      run::result r = run::prog(rn.first, rn.second, d + "/run");
      EXPECT_EQ(r.status, 2) << t;
      EXPECT_EQ(run::lines(r.err), 1) << r.err;
      std::string msg = r.err.substr(r.err.find(": ") + 2);
      EXPECT_EQ(msg.rfind(in + ":", 0), 0u) << r.err;
      if (first.empty()) first = msg;
      EXPECT_EQ(msg, first) << rn.first;
      EXPECT_FALSE(run::exists(d + "/o.tsv"));
    }
  }
}

}  // namespace
