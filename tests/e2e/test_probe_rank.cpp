// probe_rank end to end: the built program against the literal oracle, byte for
// byte, on generated tables; the worked examples; errors and what they leave.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "gen.h"
#include "oracle/oracle.h"
#include "rank.h"
#include "run_prog.h"
#include "synergy.h"

namespace {

const std::string bin = PROBE_RANK_BIN;

// Load a table into the core as the program does, starting from empty state.
void core_load(const std::string& path) { load_exp(path.c_str()); }

std::string floor6() {
  char b[32];
  std::snprintf(b, sizeof b, "%g", mi(1.0));
  return b;
}

// Four samples labelled 1,1,0,0: g0 splits {0,1}{2,3}, g1 {0,2}{1,3}, g2 never splits.
const char* const worked =
    "id\ts0\ts1\ts2\ts3\n"
    "label\t1\t1\t0\t0\n"
    "g0\t0\t0\t1\t1\n"
    "g1\t0\t1\t0\t1\n"
    "g2\t5\t5\t5\t5\n";

}  // namespace

TEST(ProbeRank, MatchesOracleOnGeneratedTables) {
  const std::string d = run::fresh_dir("rank_gen");
  const std::string in = d + "/t.tsv", out = d + "/ranked.tsv";
  const char* thr[] = {"1", "2", "3", "8"};
  for (int t = 0; t < 250; ++t) {
    const uint64_t seed = 5000 + t;
    std::mt19937_64 rng(seed);
    gen::opts o;
    o.max_prob = t % 5 == 0 ? 40 : 8;
    gen::table tab = gen::make(rng, o);
    gen::write_file(in, tab.text);
    run::result r = run::prog(bin, {"-q", "-t", thr[t % 4], in, out}, d + "/run");
    ASSERT_EQ(r.status, 1) << "seed " << seed << ": " << r.err;
    ASSERT_EQ(r.out, "") << "seed " << seed;
    ASSERT_EQ(r.err, "") << "seed " << seed;
    ASSERT_EQ(run::slurp(out), oracle::rank_list(in)) << "seed " << seed;
  }
  // nothing but the list is left in the folder
  EXPECT_EQ(run::listing(d), (std::vector<std::string>{"ranked.tsv", "t.tsv"}));
}

TEST(ProbeRank, WorkedWholeRun) {
  const std::string d = run::fresh_dir("rank_worked");
  run::spit(d + "/t.tsv", worked);
  run::result r = run::prog(bin, {d + "/t.tsv", d + "/r.tsv"}, d + "/run");
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_EQ(floor6(), "0.00147303");
  EXPECT_EQ(run::slurp(d + "/r.tsv"), "g1\t1\t1\t2\ng0\t0\t0.00147303\t2\ng2\t2\t-10\t1\n");
  EXPECT_EQ(run::slurp(d + "/r.tsv"), oracle::rank_list(d + "/t.tsv"));
}

TEST(ProbeRank, TiesKeepFileOrderAndNoPartitionComesLast) {
  const std::string d = run::fresh_dir("rank_ties");
  // a and c are the same probe (equal scores); n1, n2 never split; b scores lower
  run::spit(d + "/t.tsv",
            "h\n"
            "l\t1\t0\t1\t0\t1\t0\n"
            "n1\t1\t1\t1\t1\t1\t1\n"
            "a\t0\t0\t1\t1\t2\t2\n"
            "b\t0\t0\t0\t1\t1\t1\n"
            "n2\t3\t3\t3\t3\t3\t3\n"
            "c\t0\t0\t1\t1\t2\t2\n");
  run::result r = run::prog(bin, {d + "/t.tsv", d + "/r.tsv"}, d + "/run");
  ASSERT_EQ(r.status, 1) << r.err;
  std::string got = run::slurp(d + "/r.tsv");
  EXPECT_EQ(got, oracle::rank_list(d + "/t.tsv"));
  EXPECT_EQ(got, "a\t1\t1\t3\nc\t4\t1\t3\nb\t2\t0.918296\t2\nn1\t0\t-10\t1\nn2\t3\t-10\t1\n");
}

TEST(ProbeRank, ZeroProbesAndTooFewSamples) {
  const std::string d = run::fresh_dir("rank_small");
  // no probe rows: the list is created, empty; an old list is emptied
  run::spit(d + "/none.tsv", "h\nl\t1\t0\n");
  run::spit(d + "/r.tsv", "old\n");
  run::result r = run::prog(bin, {d + "/none.tsv", d + "/r.tsv"}, d + "/run");
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_TRUE(run::exists(d + "/r.tsv"));
  EXPECT_EQ(run::slurp(d + "/r.tsv"), "");
  // one sample or none: nothing to cluster, so an error, not a list of -10s
  run::spit(d + "/one.tsv", "h\nl\t1\nx\t0.5\ny\t0.1\nz\t9\n");
  run::spit(d + "/zero.tsv", "h\nl\nxx\nyy\n");
  for (const char* t : {"/one.tsv", "/zero.tsv"}) {
    run::spit(d + "/r1.tsv", "old\n");
    r = run::prog(bin, {d + t, d + "/r1.tsv"}, d + "/run");
    EXPECT_EQ(r.status, 2) << t;
    EXPECT_NE(r.err.find(d + t + ":2: "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("a table needs at least 2 (is it tab-separated?)"), std::string::npos) << r.err;
    EXPECT_EQ(run::slurp(d + "/r1.tsv"), "old\n");
  }
}

TEST(ProbeRank, CrlfAndGzipReadLikePlain) {
  const std::string d = run::fresh_dir("rank_gz");
  std::mt19937_64 rng(77);
  gen::opts o;
  o.min_samp = 10;
  o.min_prob = 20;
  o.max_prob = 30;
  o.p_crlf = 1.0;  // carriage returns stay in the last field; numbers read the same
  gen::table tab = gen::make(rng, o);
  run::spit(d + "/t.tsv", tab.text);
  run::spit_gz(d + "/t.tsv.gz", tab.text);
  run::spit_gz(d + "/gz_named_plain.tsv", tab.text);  // detected by content
  run::result r = run::prog(bin, {d + "/t.tsv", d + "/plain.out"}, d + "/run");
  ASSERT_EQ(r.status, 1) << r.err;
  EXPECT_EQ(run::slurp(d + "/plain.out"), oracle::rank_list(d + "/t.tsv"));
  for (const char* gz : {"/t.tsv.gz", "/gz_named_plain.tsv"}) {
    r = run::prog(bin, {"-t", "2", d + gz, d + "/gz.out"}, d + "/run");
    ASSERT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(run::slurp(d + "/gz.out"), run::slurp(d + "/plain.out")) << gz;
  }
}

TEST(ProbeRank, ThreadCountsGiveTheSameBytes) {
  const std::string d = run::fresh_dir("rank_thr");
  std::mt19937_64 rng(4242);
  gen::opts o;
  o.min_samp = 30;
  o.max_samp = 60;
  o.min_prob = 300;
  o.max_prob = 300;
  gen::table tab = gen::make(rng, o);
  run::spit(d + "/t.tsv", tab.text);
  std::string want = oracle::rank_list(d + "/t.tsv");
  for (const char* t : {"1", "2", "3", "8", "0"}) {
    run::result r = run::prog(bin, {"--threads", t, d + "/t.tsv", d + "/r.tsv"}, d + "/run");
    ASSERT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(run::slurp(d + "/r.tsv"), want) << "threads " << t;
  }
}

TEST(ProbeRank, InputErrorsNameTheFileAndLineAndLeaveTheListAlone) {
  const std::string d = run::fresh_dir("rank_err");
  const std::string out = d + "/r.tsv";
  run::spit(out, "previous list\n");
  struct bad {
    const char* name;
    const char* text;
    const char* where;  // expected in the message after the path
  } cases[] = {
      {"label.tsv", "h\nl\t1\t2\ng\t1\t2\n", ":2:"},
      {"short.tsv", "h\nl\t1\t0\t1\ng\t1\t2\t3\nk\t1\t2\n", ":4:"},
      {"nan.tsv", "h\nl\t1\t0\ng\t1\tnan\n", ":3:"},
      {"empty.tsv", "", ": empty"},
      {"header.tsv", "only a header", ":1:"},
  };
  for (const bad& b : cases) {
    std::string in = d + "/" + b.name;
    run::spit(in, b.text);
    run::result r = run::prog(bin, {in, out}, d + "/run");
    EXPECT_EQ(r.status, 2) << b.name;
    EXPECT_EQ(r.out, "") << b.name;
    EXPECT_EQ(run::lines(r.err), 1) << b.name << ": " << r.err;
    EXPECT_NE(r.err.find(in + b.where), std::string::npos) << b.name << ": " << r.err;
    EXPECT_EQ(run::slurp(out), "previous list\n") << b.name;
  }
  run::result r = run::prog(bin, {d + "/missing.tsv", out}, d + "/run");
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find(d + "/missing.tsv: cannot open"), std::string::npos) << r.err;
  EXPECT_EQ(run::slurp(out), "previous list\n");
  // no temporary file is left beside the list
  for (const std::string& n : run::listing(d)) EXPECT_EQ(n.find(".probe_rank"), std::string::npos) << n;
}

TEST(ProbeRank, OutputProblemsStopBeforeScoring) {
  const std::string d = run::fresh_dir("rank_out");
  run::spit(d + "/t.tsv", worked);
  // the output is checked first: a bad table is not even read
  run::result r = run::prog(bin, {d + "/missing.tsv", d + "/no/such/dir/r.tsv"}, d + "/run");
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(run::lines(r.err), 1) << r.err;
  EXPECT_NE(r.err.find(d + "/no/such/dir/r.tsv"), std::string::npos) << r.err;
  r = run::prog(bin, {d + "/t.tsv", d}, d + "/run");
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("is a folder"), std::string::npos) << r.err;
  run::spit(d + "/file", "x");
  r = run::prog(bin, {d + "/t.tsv", d + "/file/r.tsv"}, d + "/run");
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(run::slurp(d + "/file"), "x");
}

TEST(ProbeRank, FailedWriteLeavesNoPartialList) {
  const std::string d = run::fresh_dir("rank_wfail");
  std::mt19937_64 rng(9);
  gen::opts o;
  o.min_prob = 400;
  o.max_prob = 400;
  gen::table tab = gen::make(rng, o);
  run::spit(d + "/t.tsv", tab.text);
  run::spit(d + "/r.tsv", "previous list\n");
  // a file size limit of 4 KiB makes the write fail part way (the list is longer)
  run::result r = run::sh("( trap '' XFSZ; ulimit -f 8; exec " + run::q(bin) + " -q " + run::q(d + "/t.tsv") + " " +
                              run::q(d + "/r.tsv") + " )",
                          d + "/run");
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(run::lines(r.err), 1) << r.err;
  EXPECT_NE(r.err.find("write failed"), std::string::npos) << r.err;
  EXPECT_EQ(run::slurp(d + "/r.tsv"), "previous list\n");
  EXPECT_EQ(run::listing(d), (std::vector<std::string>{"r.tsv", "t.tsv"}));
  // a device that refuses the bytes
  r = run::prog(bin, {d + "/t.tsv", "/dev/full"}, d + "/run");
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("/dev/full: write failed"), std::string::npos) << r.err;
}

TEST(ProbeRank, DevicesAndLinksAreWrittenThrough) {
  const std::string d = run::fresh_dir("rank_dev");
  run::spit(d + "/t.tsv", worked);
  // a device is written in place, not replaced by a renamed file
  run::result r = run::sh(run::q(bin) + " " + run::q(d + "/t.tsv") + " /dev/stdout", d + "/run");
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_EQ(r.out, oracle::rank_list(d + "/t.tsv"));
  // a symbolic link stays a link; the file it names gets the list
  ASSERT_EQ(std::system(("ln -s real.tsv " + run::q(d + "/link.tsv")).c_str()), 0);
  run::spit(d + "/real.tsv", "old\n");
  r = run::prog(bin, {d + "/t.tsv", d + "/link.tsv"}, d + "/run");
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_EQ(run::slurp(d + "/real.tsv"), oracle::rank_list(d + "/t.tsv"));
  EXPECT_EQ(run::sh("test -L " + run::q(d + "/link.tsv"), d + "/run").status, 0);
}

TEST(ProbeRank, ClusterCountMatchesTheLiteralScoring) {
  // max_cid after a literal scoring equals the fast partition's cluster count,
  // and the fast score equals the literal one
  const std::string path = std::string(SYN_BINARY_DIR) + "/rank_maxcid.tsv";
  for (int t = 0; t < 40; ++t) {
    std::mt19937_64 rng(700 + t);
    gen::table tab = gen::make(rng);
    gen::write_file(path, tab.text);
    core_load(path);
    std::vector<rank_row> rows = rank_probes(1 + t % 3, {});
    ASSERT_EQ(static_cast<int>(rows.size()), n_prob);
    for (const rank_row& r : rows) {
      double s = call_sin_syn(r.p, ini_phe.data());
      ASSERT_EQ(s, r.score) << "seed " << 700 + t << " probe " << r.p;
      if (s != NO_PART) {
        ASSERT_EQ(max_cid() + 1, r.n_cl) << "seed " << 700 + t << " probe " << r.p;
      }
    }
  }
}
