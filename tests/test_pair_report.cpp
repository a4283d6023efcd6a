// pair_report: flip counts and mirror de-duplication, the drawing's escaping,
// and the program end to end: exit statuses, messages, and what an error
// leaves behind. (The readers of records and ranked lists: test_io.cpp.)
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "report.h"
#include "run_prog.h"
#include "report_fixture.h"
#include "svg.h"
#include "synergy.h"

namespace {

using fixture::table4;
using fixture::records4;
using fixture::ranked4;

// Load a table into the core from text, starting from empty state.
void load_text(const std::string& dir, const std::string& text) {
  reset_exp();
  const std::string path = dir + "/t.tsv";
  run::spit(path, text);
  read_exp(path.c_str());
  check_exp(path.c_str());
}

std::string where = "rec.tsv";

pair_rec rec(const std::string& l1, const std::string& l2, long line = 1) {
  pair_rec r;
  parse_rec(l1, &l2, where, line, make_idx(probe), r);
  return r;
}

bool has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

long count_of(const std::string& text, const std::string& part) {
  long n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++n;
  return n;
}

class Report : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = run::fresh_dir(std::string("report_") + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    load_text(dir, table4);
  }
  std::string dir;
};

}  // namespace

TEST_F(Report, MirrorsAndRepeatsCountOnce) {
  rec_sum s;
  sum_init(s);
  // table labels 1,1,0,0
  EXPECT_TRUE(add_rec(s, rec("P\tQ\t0.5\t0\t1\t1\t0", "P\tQ\t-9\t0\t0\t1\t1", 1), 10));  // flips 0, 2
  EXPECT_FALSE(add_rec(s, rec("Q\tP\t0.5\t0\t1\t1\t0", "Q\tP\t-9\t0\t0\t1\t1", 3), 10));  // its mirror
  EXPECT_TRUE(add_rec(s, rec("P\tP\t0.1\t0\t1\t0\t0", "P\tP\t-9\t0\t0\t1\t1", 5), 10));  // flips 0
  EXPECT_TRUE(add_rec(s, rec("Q\tR\t0.3\t1\t1\t0\t0", "Q\tR\t-9\t0\t1\t0\t1", 7), 10));  // no flip
  // the same pair from an overlapping shard, even with other content, stays out
  EXPECT_FALSE(add_rec(s, rec("P\tQ\t0.9\t0\t0\t0\t0", "P\tQ\t-9\t0\t0\t1\t1", 9), 10));
  EXPECT_EQ(s.n_rec, 5);
  EXPECT_EQ(s.n_dup, 2);
  EXPECT_EQ(s.syn, (std::vector<double>{0.5, 0.1, 0.3}));
  EXPECT_EQ(s.n_flip, (std::vector<long>{2, 0, 1, 0}));
  EXPECT_EQ(flip_rank(s), (std::vector<int>{0, 2}));
  ASSERT_EQ(s.top.size(), 3u);
  EXPECT_EQ(s.top[0].line, 1);
  EXPECT_EQ(s.top[1].line, 7);
  EXPECT_EQ(s.top[2].line, 5);
}

TEST_F(Report, FlipRankBreaksTiesBySampleNumber) {
  rec_sum s;
  sum_init(s);
  add_rec(s, rec("P\tQ\t0.5\t1\t1\t1\t1", "P\tQ\t-9\t0\t0\t1\t1"), 1);  // flips 2, 3
  add_rec(s, rec("P\tR\t0.5\t0\t1\t0\t1", "P\tR\t-9\t0\t0\t1\t1"), 1);  // flips 0, 3
  add_rec(s, rec("Q\tR\t0.5\t1\t0\t0\t0", "Q\tR\t-9\t0\t0\t1\t1"), 1);  // flips 1
  EXPECT_EQ(s.n_flip, (std::vector<long>{1, 1, 1, 2}));
  EXPECT_EQ(flip_rank(s), (std::vector<int>{3, 0, 1, 2}));
}

TEST_F(Report, TopPairsKeepRecordOrderOnTies) {
  rec_sum s;
  sum_init(s);
  const char* l2 = "\t-9\t0\t0\t1\t1";
  auto put = [&](const std::string& a, const std::string& b, const std::string& syn, long line) {
    add_rec(s, rec(a + "\t" + b + "\t" + syn + "\t1\t1\t0\t0", a + "\t" + b + l2, line), 3);
  };
  put("P", "P", "0.2", 1);
  put("P", "Q", "0.7", 3);
  put("P", "R", "0.2", 5);
  put("Q", "Q", "0.7", 7);
  put("Q", "R", "0.9", 9);
  put("R", "R", "0.7", 11);  // ties the last place: the earlier records keep it
  ASSERT_EQ(s.top.size(), 3u);
  EXPECT_EQ(s.top[0].line, 9);
  EXPECT_EQ(s.top[1].line, 3);
  EXPECT_EQ(s.top[2].line, 7);
  EXPECT_EQ(s.syn.size(), 6u);

  rec_sum none;
  sum_init(none);
  add_rec(none, rec("P\tQ\t0.5\t1\t1\t0\t0", "P\tQ\t-9\t0\t0\t1\t1"), 0);
  EXPECT_TRUE(none.top.empty());
  EXPECT_EQ(none.syn.size(), 1u);
}

TEST_F(Report, ReadsRecordFilesPlainOrGzip) {
  const std::string text =
      "P\tQ\t0.5\t0\t1\t1\t0\nP\tQ\t-9\t0\t0\t1\t1\n"
      "Q\tP\t0.5\t0\t1\t1\t0\nQ\tP\t-9\t0\t0\t1\t1\n";
  run::spit(dir + "/r.tsv", text);
  run::spit_gz(dir + "/r.tsv.gz", text);
  run::spit(dir + "/empty.tsv", "");
  for (const char* f : {"/r.tsv", "/r.tsv.gz"}) {
    rec_sum s = read_records((dir + f).c_str(), 20);
    EXPECT_EQ(s.n_rec, 2);
    EXPECT_EQ(s.n_dup, 1);
    ASSERT_EQ(s.top.size(), 1u);
    EXPECT_EQ(s.top[0].line, 1);
  }
  EXPECT_EQ(read_records((dir + "/empty.tsv").c_str(), 20).n_rec, 0);
  EXPECT_THROW(read_records((dir + "/missing.tsv").c_str(), 20), syn_error);
}

TEST_F(Report, SampleNamesComeFromTheHeader) {
  EXPECT_EQ(read_names((dir + "/t.tsv").c_str(), 4), (std::vector<std::string>{"A1", "A2", "B1", "B2"}));
  run::spit(dir + "/h.tsv", "id\tx\t\r\nlabel\t1\t0\t1\t0\n");
  EXPECT_EQ(read_names((dir + "/h.tsv").c_str(), 4),
            (std::vector<std::string>{"x", "sample 1", "sample 2", "sample 3"}));
  run::spit(dir + "/c.tsv", "id\tx\ty\r\nlabel\t1\t0\r\n");
  EXPECT_EQ(read_names((dir + "/c.tsv").c_str(), 2), (std::vector<std::string>{"x", "y"}));
  run::spit_gz(dir + "/g.tsv.gz", "id\tg1\tg2\nlabel\t1\t0\n");
  EXPECT_EQ(read_names((dir + "/g.tsv.gz").c_str(), 2), (std::vector<std::string>{"g1", "g2"}));
}

TEST(ReportSvg, EscapesMarkupAndBrokenText) {
  EXPECT_EQ(esc("a<b>&\"c'"), "a&lt;b&gt;&amp;&quot;c&#39;");
  EXPECT_EQ(esc("caf\xC3\xA9 \xE2\x86\x92"), "caf\xC3\xA9 \xE2\x86\x92");  // valid UTF-8 passes
  const std::string bad = "\xEF\xBF\xBD";
  EXPECT_EQ(esc(std::string("x\0y\r", 4)), "x" + bad + "y" + bad);
  EXPECT_EQ(esc("a\nb"), "a\nb");  // the line breaks of hover text
  EXPECT_EQ(esc("\xC3"), bad);                  // cut sequence
  EXPECT_EQ(esc("\xC0\xAF"), bad + bad);        // overlong
  EXPECT_EQ(esc("\xED\xA0\x80"), bad + bad + bad);  // surrogate
  EXPECT_EQ(esc("\xFF<"), bad + "&lt;");
  EXPECT_EQ(num(-0.0), "0");
  EXPECT_EQ(num(0.25), "0.25");
}

TEST(ReportSvg, ScatterDrawsEverySampleWithItsHoverText) {
  std::vector<double> x = {0, 0.1, 1, 1.1, 5}, y = {0, 0.1, 1, 1.1, 5};
  std::vector<int> lab = {1, 0, 0, 1, 0}, fin = {1, 1, 0, 1, 0}, cid = {0, 0, 1, 1, 2};
  std::vector<std::string> names = {"s<0>", "s1", "s2", "s3", "s4"};
  scat_in s;
  s.x = &x;
  s.y = &y;
  s.lab = &lab;
  s.fin = &fin;
  s.cid = &cid;
  s.names = &names;
  s.n = 5;
  s.x_lab = "g&1";
  s.y_lab = "g2";
  std::string svg = svg_scatter(s);
  EXPECT_EQ(count_of(svg, "<svg "), 1);
  EXPECT_EQ(count_of(svg, "class=\"fig scatter\""), 1);
  // five samples and the three legend dots; one flipped sample and its legend get rings
  EXPECT_EQ(count_of(svg, "<circle class=\"l"), 5 + 3);
  EXPECT_EQ(count_of(svg, "<circle class=\"ring\""), 1 + 1);
  // two clusters of two samples get hulls; the lone sample does not (plus the legend's)
  EXPECT_EQ(count_of(svg, "<polygon"), 2 + 1);
  EXPECT_TRUE(has(svg, "<title>s&lt;0&gt;\nlabel 1\njoint cluster 0 (2 samples)\ng&amp;1: 0\ng2: 0</title>"));
  EXPECT_TRUE(has(svg, "<title>s1\nlabel 0, flipped to 1 by the search\njoint cluster 0"));
  EXPECT_FALSE(has(svg, "s<0>"));
  // the flipped sample is drawn after the others, on top
  EXPECT_GT(svg.find("<title>s1\n"), svg.find("<title>s4\n"));
}

TEST(ReportSvg, HistogramSplitsAtTheBound) {
  hist_in h;
  h.v = {0.5, 0.96, 0.981, 0.985};
  h.has_split = true;
  h.split = CAND_BOUND;
  h.x_lab = "score";
  h.y_lab = "probes";
  h.hi_lab = "above";
  h.marks.emplace_back(CAND_BOUND, "bound");
  std::string svg = svg_hist(h);
  EXPECT_EQ(count_of(svg, "class=\"bar2\""), 1 + 1);  // the bars above the bound share a bin; plus the legend
  EXPECT_EQ(count_of(svg, "class=\"mark\""), 1);
  hist_in e;
  EXPECT_TRUE(has(svg_hist(e), "no values"));
}

#ifdef PAIR_REPORT_BIN
namespace {

const std::string bin = PAIR_REPORT_BIN;

// What a folder holds, sorted bytewise: no temporary page may stay behind.
std::vector<std::string> files(const std::string& d) {
  std::vector<std::string> v = run::listing(d);
  std::sort(v.begin(), v.end());
  return v;
}

}  // namespace

TEST_F(Report, ProgramWritesASelfContainedPage) {
  run::spit(dir + "/rec.tsv", records4);
  run::spit(dir + "/ranked.tsv", ranked4);
  const std::string out = dir + "/out.html";
  run::result r = run::prog(bin, {dir + "/t.tsv", dir + "/ranked.tsv", dir + "/rec.tsv", out}, dir + "/run");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "");
  std::string page = run::slurp(out);
  EXPECT_EQ(count_of(page, "class=\"fig scatter\""), 3);  // three distinct pairs
  EXPECT_EQ(count_of(page, "class=\"fig hist\""), 2);
  EXPECT_FALSE(has(page, "<script"));
  EXPECT_FALSE(has(page, "src="));
  EXPECT_FALSE(has(page, "url("));
  EXPECT_FALSE(has(page, "<link"));
  // the only address is the SVG namespace name, which is never fetched
  EXPECT_EQ(count_of(page, "http"), count_of(page, "xmlns=\"http://www.w3.org/2000/svg\""));
  EXPECT_TRUE(has(page, "<td class=\"probe\">A1</td><td class=\"n\">0</td>"));  // sample 0, flipped once
  EXPECT_EQ(page.substr(page.size() - 8), "</html>\n");
  EXPECT_EQ(files(dir), (std::vector<std::string>{"out.html", "ranked.tsv", "rec.tsv", "t.tsv"}));
  // without a search null the headline is marked untested; the footer says how the page was made
  EXPECT_TRUE(has(page, "best final synergy (bits), not tested against chance"));
  EXPECT_TRUE(has(page, "<b>Caution:</b> no search null was given"));
  EXPECT_TRUE(has(page, "<code>pair_report " + dir + "/t.tsv "));
  // with one: the best (0.998527) beside its p_search, one of two searches reaching it: (1 + 1) / (1 + 2)
  run::spit(dir + "/null.tsv", "1\t3\t0.1\t0.999\n2\t3\t0.1\t0.4\n");
  r = run::prog(bin, {"--search-null", dir + "/null.tsv", dir + "/t.tsv", dir + "/ranked.tsv", dir + "/rec.tsv", out},
                dir + "/run");
  EXPECT_EQ(r.status, 0) << r.err;
  page = run::slurp(out);
  EXPECT_TRUE(has(page, "best final synergy (bits), p_search 0.6667 over 2 shuffled-label searches"));
  EXPECT_FALSE(has(page, "Caution:"));
  std::remove((dir + "/null.tsv").c_str());

  r = run::prog(bin, {"--top", "1", dir + "/t.tsv", dir + "/ranked.tsv", dir + "/rec.tsv", out}, dir + "/run");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(count_of(run::slurp(out), "class=\"fig scatter\""), 1);
  r = run::prog(bin, {"--top=0", dir + "/t.tsv", dir + "/ranked.tsv", dir + "/rec.tsv", out}, dir + "/run");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(count_of(run::slurp(out), "class=\"fig scatter\""), 0);
}

TEST_F(Report, ProgramErrorLeavesNoPageBehind) {
  run::spit(dir + "/ranked.tsv", ranked4);
  std::string bad = records4;
  bad.replace(bad.find("Q\tQ\t-9"), 6, "Q\tQ\t-8");  // line 6
  run::spit(dir + "/rec.tsv", bad);
  const std::string out = dir + "/out.html";
  run::result r = run::prog(bin, {dir + "/t.tsv", dir + "/ranked.tsv", dir + "/rec.tsv", out}, dir + "/run");
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(run::lines(r.err), 1);
  EXPECT_TRUE(has(r.err, dir + "/rec.tsv:6: expected the partition line")) << r.err;
  EXPECT_FALSE(run::exists(out));

  // an older page stays as it was
  run::spit(out, "old page");
  r = run::prog(bin, {dir + "/t.tsv", dir + "/ranked.tsv", dir + "/rec.tsv", out}, dir + "/run");
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(run::slurp(out), "old page");

  // a page that cannot be written: message, no temporary file left
  run::spit(dir + "/rec.tsv", records4);
  r = run::prog(bin, {dir + "/t.tsv", dir + "/ranked.tsv", dir + "/rec.tsv", dir + "/no/such/dir/out.html"}, dir + "/run");
  EXPECT_EQ(r.status, 2);
  EXPECT_TRUE(has(r.err, "no/such/dir/out.html: cannot write")) << r.err;
  run::sh("mkdir " + run::q(dir + "/sub.html"), dir + "/run");
  r = run::prog(bin, {dir + "/t.tsv", dir + "/ranked.tsv", dir + "/rec.tsv", dir + "/sub.html"}, dir + "/run");
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(run::lines(r.err), 1) << r.err;
  EXPECT_EQ(files(dir), (std::vector<std::string>{"out.html", "ranked.tsv", "rec.tsv", "sub.html", "t.tsv"}));

  // bad table and ranked list name their file and line too
  run::spit(dir + "/ranked.tsv", "P\t0\t0.5\n");
  r = run::prog(bin, {dir + "/t.tsv", dir + "/ranked.tsv", dir + "/rec.tsv", out}, dir + "/run");
  EXPECT_EQ(r.status, 2);
  EXPECT_TRUE(has(r.err, dir + "/ranked.tsv:1: ")) << r.err;
  run::spit(dir + "/t2.tsv", "id\ta\nlabel\t3\nP\t1\n");
  r = run::prog(bin, {dir + "/t2.tsv", dir + "/ranked.tsv", dir + "/rec.tsv", out}, dir + "/run");
  EXPECT_EQ(r.status, 2);
  EXPECT_TRUE(has(r.err, dir + "/t2.tsv:2: ")) << r.err;
  EXPECT_EQ(run::slurp(out), "old page");
}

TEST_F(Report, ProgramArguments) {
  run::spit(dir + "/rec.tsv", records4);
  run::spit(dir + "/ranked.tsv", ranked4);
  const std::string t = dir + "/t.tsv", rk = dir + "/ranked.tsv", rc = dir + "/rec.tsv";
  run::result r = run::prog(bin, {"--help"}, dir + "/run");
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(has(r.out, "usage: pair_report")) << r.out;
  EXPECT_TRUE(has(r.out, "ends with 0"));
  EXPECT_EQ(r.err, "");
  r = run::prog(bin, {"--version"}, dir + "/run");
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(has(r.out, "pair_report ")) << r.out;

  const std::vector<std::vector<std::string>> bad = {
      {},
      {t, rk, rc},
      {t, rk, rc, dir + "/o.html", "extra"},
      {"--top", t, rk, rc, dir + "/o.html"},
      {"--top", "-1", t, rk, rc, dir + "/o.html"},
      {"--top=", t, rk, rc, dir + "/o.html"},
      {"--top", "2x", t, rk, rc, dir + "/o.html"},
      {"--top", "1001", t, rk, rc, dir + "/o.html"},
      {"--frobnicate", t, rk, rc, dir + "/o.html"},
      {t, rk, rc, "--top"},
      {"--q", "0", t, rk, rc, dir + "/o.html"},
      {"--q=1.5", t, rk, rc, dir + "/o.html"},
      {"--q", "0.05x", t, rk, rc, dir + "/o.html"},
      {"--signif=", t, rk, rc, dir + "/o.html"},
      {"--edges", dir + "/e.tsv", t, rk, rc, dir + "/o.html"},        // edges need q
      {"--tsv", dir + "/o.html", t, rk, rc, dir + "/o.html"},         // two outputs in one file
      {t, rk, rc, dir + "/o.html", "--annot"},
  };
  for (const auto& args : bad) {
    r = run::prog(bin, args, dir + "/run");
    EXPECT_EQ(r.status, 2) << args.size();
    EXPECT_TRUE(has(r.err, "usage: pair_report")) << r.err;
    EXPECT_EQ(r.out, "");
  }
  // an output that is an input, also through a link, is refused before anything is read
  ASSERT_EQ(symlink(rc.c_str(), (dir + "/ln.html").c_str()), 0);
  for (const std::string& out : {rc, t, dir + "/ln.html"}) {
    r = run::prog(bin, {"--tsv", out, t, rk, rc, dir + "/o.html"}, dir + "/run");
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(has(r.err, "output '" + out + "' is the input")) << r.err;
    r = run::prog(bin, {t, rk, rc, out}, dir + "/run");
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(has(r.err, "output '" + out + "' is the input")) << r.err;
  }
  // options may follow the arguments
  r = run::prog(bin, {t, rk, rc, dir + "/o2.html", "--top", "1"}, dir + "/run");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(run::slurp(rc), records4);
  EXPECT_EQ(run::slurp(t), table4);
  EXPECT_FALSE(run::exists(dir + "/o.html"));
}
#endif

#if defined(PAIR_REPORT_BIN) && defined(PROBE_RANK_BIN) && defined(PAIR_SEARCH_BIN)
TEST(ReportPipeline, FullSearchGivesOnePlotPerDistinctPair) {
  const std::string d = run::fresh_dir("report_pipeline");
  // labels 1,1,0,0,1,1,0,0; a, b and d each split the samples into two halves of
  // mixed labels (candidates), c into pure halves (not a candidate)
  run::spit(d + "/t.tsv",
            "id\ts0\ts1\ts2\ts3\ts4\ts5\ts6\ts7\n"
            "label\t1\t1\t0\t0\t1\t1\t0\t0\n"
            "a\t0\t0\t0\t0\t1\t1\t1\t1\n"
            "b\t0\t1\t0\t1\t0\t1\t0\t1\n"
            "c\t0\t0\t1\t1\t0\t0\t1\t1\n"
            "d\t0\t1\t1\t0\t0\t1\t1\t0\n");
  run::result r = run::prog(PROBE_RANK_BIN, {d + "/t.tsv", d + "/ranked.tsv"}, d + "/run");
  ASSERT_EQ(r.status, 1) << r.err;
  r = run::prog(PAIR_SEARCH_BIN, {"--count-candidates", d + "/ranked.tsv"}, d + "/run");
  ASSERT_EQ(r.status, 0) << r.err;
  const int c = std::stoi(r.out);
  ASSERT_EQ(c, 3);
  r = run::prog(PAIR_SEARCH_BIN, {d + "/t.tsv", d + "/ranked.tsv", "0", std::to_string(c), d + "/rec.tsv"}, d + "/run");
  ASSERT_EQ(r.status, 1) << r.err;
  r = run::prog(PAIR_REPORT_BIN, {"--top", "100", d + "/t.tsv", d + "/ranked.tsv", d + "/rec.tsv", d + "/o.html"},
                d + "/run");
  ASSERT_EQ(r.status, 0) << r.err;
  // every ordered pair has a record; a pair and its mirror are plotted once
  EXPECT_EQ(run::lines(run::slurp(d + "/rec.tsv")), 2L * c * c);
  EXPECT_EQ(count_of(run::slurp(d + "/o.html"), "class=\"fig scatter\""), c * (c + 1) / 2);
}
#endif
