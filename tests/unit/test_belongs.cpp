// Records must belong to the table, ranked list and bound they are read with:
// pair_signif, its --null-line and pair_report refuse records of another
// table, another bound, a shuffled-label run (and the reverse), and tables in
// which a recorded probe's name is on two rows, with one line naming the
// record; probe_rank and pair_search keep reading such tables.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "run_prog.h"

#if defined(PAIR_SIGNIF_BIN) && defined(PAIR_REPORT_BIN)
namespace {

// n samples, half labelled 1; probe values drawn from a seed.
std::string table(uint64_t seed, int n, int n_prob) {
  std::mt19937_64 g(seed);
  std::string s = "probe";
  for (int i = 0; i < n; ++i) s += "\ts" + std::to_string(i);
  s += "\nlabel";
  for (int i = 0; i < n; ++i) s += i % 2 ? "\t1" : "\t0";
  s += "\n";
  std::normal_distribution<double> z;
  char b[32];
  for (int p = 0; p < n_prob; ++p) {
    s += "g" + std::to_string(p);
    const double sd = 0.1 + 0.3 * (p % 5);
    for (int i = 0; i < n; ++i) {
      std::snprintf(b, sizeof b, "\t%.3f", 5 + sd * z(g));
      s += b;
    }
    s += "\n";
  }
  return s;
}

struct belongs : ::testing::Test {
  std::string d;
  void SetUp() override {
    d = run::fresh_dir(std::string("belongs_") +
                       ::testing::UnitTest::GetInstance()->current_test_info()->name());
    run::spit(d + "/t.tsv", table(1, 30, 60));
    run::spit(d + "/u.tsv", table(2, 30, 60));  // the same names, other values
  }
  // probe_rank and the whole pair_search on table tb, list and records named by tag
  void search(const std::string& tb, const std::string& tag, std::vector<std::string> opts = {}) {
    std::vector<std::string> a = opts;
    for (const std::string& x : {d + "/" + tb, d + "/" + tag + ".r"}) a.push_back(x);
    for (size_t k = 0; k < opts.size(); ++k)
      if (opts[k] == "--bound") a.erase(a.begin() + k, a.begin() + k + 2);  // probe_rank has no bound
    ASSERT_EQ(run::prog(PROBE_RANK_BIN, a, d + "/x").status, 1);
    std::vector<std::string> c = opts;
    for (const std::string& x : {std::string("--count-candidates"), d + "/" + tag + ".r"}) c.push_back(x);
    for (size_t k = 0; k < c.size(); ++k)
      if (c[k] == "--shuffle-labels") c.erase(c.begin() + k, c.begin() + k + 2);
    std::string n = run::prog(PAIR_SEARCH_BIN, c, d + "/x").out;
    ASSERT_GT(std::atoi(n.c_str()), 1) << tag;
    n.pop_back();
    opts.insert(opts.end(), {"-q", d + "/" + tb, d + "/" + tag + ".r", "0", n, d + "/" + tag + ".rec"});
    ASSERT_EQ(run::prog(PAIR_SEARCH_BIN, opts, d + "/x").status, 1) << tag;
  }
};

TEST_F(belongs, RecordsOfAnotherRunAreRefused) {
  search("t.tsv", "real");
  search("u.tsv", "other");
  search("t.tsv", "shuf", {"--shuffle-labels", "5"});
  search("t.tsv", "low", {"--bound", "0.9"});
  const std::string t = d + "/t.tsv", r = d + "/real.r";
  struct c {
    std::string prog;
    std::vector<std::string> args;
    std::string says;  // after "RECORDS:LINE: "
  } cases[] = {
      // the real run itself passes
      {PAIR_SIGNIF_BIN, {"--perm", "50", t, r, d + "/real.rec", d + "/out"}, ""},
      {PAIR_SIGNIF_BIN, {"--perm", "50", "--bound", "0.9", t, d + "/low.r", d + "/low.rec", d + "/out"}, ""},
      {PAIR_SIGNIF_BIN, {"--null-line", "5", t, d + "/shuf.r", d + "/shuf.rec"}, ""},
      {PAIR_REPORT_BIN, {"--bound", "0.9", t, d + "/low.r", d + "/low.rec", d + "/out"}, ""},
      // another table with the same names
      {PAIR_SIGNIF_BIN, {t, r, d + "/other.rec", d + "/out"}, "other.rec:"},
      {PAIR_REPORT_BIN, {t, r, d + "/other.rec", d + "/out"}, "other.rec:"},
      // ... with its own list, whose names and numbers are the same
      {PAIR_SIGNIF_BIN,
       {t, d + "/other.r", d + "/other.rec", d + "/out"},
       " is not the pair's joint partition in this table"},
      {PAIR_REPORT_BIN,
       {t, d + "/other.r", d + "/other.rec", d + "/out"},
       " is not the pair's joint partition in this table"},
      // a lower bound than the records were searched with
      {PAIR_SIGNIF_BIN,
       {t, r, d + "/low.rec", d + "/out"},
       " is not a candidate of " + r + " at the bound 0.97175"},
      {PAIR_REPORT_BIN,
       {t, r, d + "/low.rec", d + "/out"},
       " is not a candidate of " + r + " at the bound 0.97175"},
      // shuffled labels read with the real ones, and the reverse
      {PAIR_SIGNIF_BIN,
       {t, d + "/shuf.r", d + "/shuf.rec", d + "/out"},
       " searched again with these labels gives"},
      {PAIR_REPORT_BIN,
       {t, d + "/shuf.r", d + "/shuf.rec", d + "/out"},
       " searched again with these labels gives"},
      {PAIR_SIGNIF_BIN,
       {"--null-line", "5", t, r, d + "/real.rec"},
       " searched again with these labels gives"},
      {PAIR_SIGNIF_BIN, {"--null-line", "6", t, d + "/shuf.r", d + "/shuf.rec"}, " searched again"},
  };
  for (const c& k : cases) {
    run::spit(d + "/out", "keep\n");
    run::result res = run::prog(k.prog, k.args, d + "/x");
    if (k.says.empty()) {
      EXPECT_EQ(res.status, 0) << res.err;
      continue;
    }
    EXPECT_EQ(res.status, 2) << k.says;
    EXPECT_EQ(run::lines(res.err), 1) << res.err;
    EXPECT_NE(res.err.find(".rec:"), std::string::npos) << res.err;
    EXPECT_NE(res.err.find(k.says), std::string::npos) << res.err;
    EXPECT_EQ(run::slurp(d + "/out"), "keep\n");
  }
}

TEST_F(belongs, DuplicateNamesStopThePairProgramsOnly) {
  // the last row takes the name of the best probe
  search("t.tsv", "real");
  const std::string top = run::slurp(d + "/real.r").substr(0, run::slurp(d + "/real.r").find('\t'));
  std::string tab = run::slurp(d + "/t.tsv");
  const size_t last = tab.rfind("\ng59\t") + 1;
  tab.replace(last, 3, top);
  run::spit(d + "/dup.tsv", tab);
  search("dup.tsv", "dup");  // probe_rank and pair_search read it as before
  for (const std::string& prog : {std::string(PAIR_SIGNIF_BIN), std::string(PAIR_REPORT_BIN)}) {
    run::result res = run::prog(prog, {d + "/dup.tsv", d + "/dup.r", d + "/dup.rec", d + "/out"}, d + "/x");
    EXPECT_EQ(res.status, 2);
    EXPECT_EQ(run::lines(res.err), 1) << res.err;
    EXPECT_NE(res.err.find("probe '" + top + "' names two rows of the table (probe "), std::string::npos)
        << res.err;
    EXPECT_NE(res.err.find(" and probe 59)"), std::string::npos) << res.err;
  }
}

// Every empty result says why.
TEST_F(belongs, EmptyResultsSayWhy) {
  run::spit(d + "/none.tsv", "h\ts0\ts1\nlabel\t1\t0\n");
  run::result res = run::prog(PROBE_RANK_BIN, {d + "/none.tsv", d + "/n.r"}, d + "/x");
  EXPECT_EQ(res.status, 1);
  EXPECT_EQ(res.err, "probe_rank: " + d + "/none.tsv has no probe rows: the list is empty\n");
  EXPECT_EQ(run::slurp(d + "/n.r"), "");
}

}  // namespace
#endif
