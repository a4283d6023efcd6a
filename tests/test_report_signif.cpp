// pair_report with significance, search null and gene names: the gene-name
// reader (the others: test_io.cpp), page order by q, records and table that
// disagree, the exports, the per-sample flip test and the cluster hues.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <sstream>
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

const char* const head10 = "first\tsecond\tbase\tfinal\tflips\tp\tq\tperms\tadmissible\thits\n";
const char* const head11 = "first\tsecond\tbase\tfinal\tflips\tp\tq\tp_search\tperms\tadmissible\thits\n";
// (Q,Q) and (R,P) tie on q; (Q,Q) has the higher base synergy and comes first.
const std::string signif4 = std::string(head11) +
                            "P\tQ\t0.1\t0.998527\t2\t0.01\t0.03\t0.2\t100\t90\t0\n"
                            "Q\tQ\t0.2\t0\t0\t0.02\t0.06\t0.5\t100\t100\t1\n"
                            "R\tP\t0.125\t0.377075\t1\t0.04\t0.06\t0.9\t100\t80\t3\n";

class ReportSig : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = run::fresh_dir(std::string("repsig_") + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    reset_exp();
    o.expr = dir + "/t.tsv";
    o.ranked = dir + "/ranked.tsv";
    o.records = dir + "/rec.tsv";
    o.out = dir + "/page.html";
    run::spit(o.expr, table4);
    run::spit(o.ranked, ranked4);
    run::spit(o.records, records4);
    load_exp(o.expr.c_str());
  }
  // The message of the syn_error `f` throws, or "".
  template <class F>
  std::string err(F f) {
    try {
      f();
    } catch (const syn_error& e) {
      return e.what();
    }
    return "";
  }
  std::string file(const std::string& name, const std::string& text) {
    run::spit(dir + "/" + name, text);
    return dir + "/" + name;
  }
  std::string page(const rep_data& d) {
    page_in in;
    in.names = d.names;
    in.rk = &d.rk;
    in.rs = &d.rs;
    in.d = &d;
    in.expr_path = o.expr;
    in.top_n = o.top_n;
    in.q = o.q;
    std::ostringstream os;
    write_page(os, in);
    return os.str();
  }
  std::string dir;
  rep_opt o;
};

bool has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

}  // namespace

TEST_F(ReportSig, AnnotationReader) {
  // header and other arrays' probes skipped, NA and empty symbols leave the ID,
  // a probe of two genes shows both, R's quotes dropped
  annot a = read_annot(file("a.tsv", "probe\tsymbol\tdescription\nP\t\"GENEP\"\t\"a gene\"\nZ\tNOPE\n"
                                     "Q\tNA\tnothing\nR\tRA\r\nR\tRB\tsecond\nR\tRA\n\n").c_str(), make_idx(probe));
  EXPECT_EQ(disp(&a, 0, "P"), "GENEP (P)");
  EXPECT_EQ(a.desc[0], "a gene");
  EXPECT_EQ(disp(&a, 1, "Q"), "Q");
  EXPECT_EQ(disp(&a, 2, "R"), "RA/RB (R)");
  EXPECT_EQ(a.desc[2], "second");
  EXPECT_EQ(disp(nullptr, 0, "P"), "P");
  std::string path = file("a.tsv", "P\tS\td\textra\n");
  EXPECT_TRUE(has(err([&] { read_annot(path.c_str(), make_idx(probe)); }), path + ":1: line has 4 fields, expected 2 or 3"));
}

TEST_F(ReportSig, PagesOrderByQThenBaseAndRecordsMustMatchTheTable) {
  o.signif = file("s.tsv", signif4);
  o.top_n = 2;
  rep_data d;
  load_report(o, d);
  ASSERT_EQ(d.all.size(), 3u);
  EXPECT_EQ(d.all[0].a + d.all[0].b + d.all[1].a + d.all[1].b + d.all[2].a + d.all[2].b, "PQQQRP");
  ASSERT_EQ(d.rs.top.size(), 2u);
  EXPECT_EQ(d.rs.top[0].a + d.rs.top[0].b + d.rs.top[1].a + d.rs.top[1].b, "PQQQ");
  EXPECT_EQ(d.rs.n_dup, 1);

  // without a table: by final synergy, as before
  rep_opt plain = o;
  plain.signif.clear();
  rep_data p;
  load_report(plain, p);
  EXPECT_EQ(p.all[0].syn_txt + " " + p.all[1].syn_txt + " " + p.all[2].syn_txt, "0.998527 0.377075 0");
  EXPECT_EQ(p.all[0].fl, (std::vector<int>{0, 2}));

  const std::string rows = "P\tQ\t0.1\t0.998527\t2\t0.01\t0.03\t100\t90\t0\nQ\tQ\t0.2\t0\t0\t0.02\t0.06\t100\t100\t1\n";
  const std::vector<std::pair<std::string, std::string>> bad = {
      {std::string(head10) + rows, "rec.tsv:7: pair 'R', 'P' has no line in"},
      {std::string(head10) + rows + "R\tP\t0.1\t0.2\t1\t0.04\t0.06\t100\t80\t3\n", "s.tsv:4: final synergy '0.2' of 'R', 'P' differs from '0.377075'"},
      {std::string(head10) + rows + "R\tP\t0.1\t0.377075\t1\t0.04\t0.06\t100\t80\t3\nR\tR\t0\t0.1\t0\t1\t1\t100\t80\t3\n",
       "s.tsv:5: pair 'R', 'R' has no record in"},
  };
  for (const auto& b : bad) {
    o.signif = file("s.tsv", b.first);
    rep_data x;
    std::string e = err([&] { load_report(o, x); });
    EXPECT_TRUE(has(e, b.second)) << e;
  }
}

TEST_F(ReportSig, ExportsHoldThePageNumbersAndQuoteQuotes) {
  o.signif = file("s.tsv", signif4);
  o.annot = file("a.tsv", "P\tSYM\"P\nQ\tSQ\n");
  rep_data d;
  load_report(o, d);
  std::ostringstream t, e;
  write_tsv(t, d, 0.05);
  write_edges(e, d, 0.05);
  EXPECT_EQ(t.str(),
            "rank\tfirst\tsecond\tfirst_probe\tsecond_probe\tbase\tfinal\tp\tq\tp_search\tpass\tjoint_clusters\tflipped\t"
            "flipped_samples\tfirst_score\tsecond_score\n"
            "1\t\"SYM\"\"P (P)\"\tSQ (Q)\tP\tQ\t0.1\t0.998527\t0.01\t0.03\t0.2\t1\t4\t2\tA1,B1\t0.975\t0.99\n"
            "2\tSQ (Q)\tSQ (Q)\tQ\tQ\t0.2\t0\t0.02\t0.06\t0.5\t0\t2\t0\t\t0.99\t0.99\n"
            "3\tR\t\"SYM\"\"P (P)\"\tR\tP\t0.125\t0.377075\t0.04\t0.06\t0.9\t0\t3\t1\tB2\t0.98\t0.975\n");
  EXPECT_EQ(e.str(), "source\ttarget\tbase\tfinal\tq\n\"SYM\"\"P (P)\"\tSQ (Q)\t0.1\t0.998527\t0.03\n");
  // a looser threshold lets the ties through
  std::ostringstream e2;
  write_edges(e2, d, 0.07);
  const std::string all = e2.str();
  EXPECT_EQ(std::count(all.begin(), all.end(), '\n'), 4);
}

TEST_F(ReportSig, PageWithAndWithoutSignificance) {
  rep_data d;
  load_report(o, d);
  std::string pg = page(d);
  EXPECT_TRUE(has(pg, "No significance was computed"));
  EXPECT_TRUE(has(pg, "<code>pair_signif "));
  // the command shown is one the shell takes as it is
  page_in in;
  in.expr_path = "my table.tsv";
  in.ranked_path = "r$HOME.tsv";
  in.rec_path = "it's.tsv";
  in.bound = 0.9;
  in.names = d.names;
  in.rk = &d.rk;
  in.rs = &d.rs;
  in.d = &d;
  std::ostringstream os;
  write_page(os, in);
  EXPECT_TRUE(has(os.str(), "<code>pair_signif --bound 0.9 &#39;my table.tsv&#39; &#39;r$HOME.tsv&#39; &#39;it&#39;\\&#39;&#39;s.tsv&#39; signif.tsv</code>")) << os.str().substr(os.str().find("<code>pair_signif"), 140);
  EXPECT_FALSE(has(pg, "class=\"fig volcano\""));
  EXPECT_TRUE(has(pg, "<details><summary>2 samples</summary>"));

  o.signif = file("s.tsv", signif4);
  o.null = file("n.tsv", "1\t3\t0.1\t0.4\n2\t3\t0.2\t0.999\n3\t0\tNA\tNA\n");
  o.annot = file("a.tsv", "P\tGP\n");
  rep_data s;
  load_report(o, s);
  pg = page(s);
  EXPECT_FALSE(has(pg, "No significance was computed"));
  EXPECT_TRUE(has(pg, "<b>1</b><span>of 3 distinct pairs pass: q below 0.05"));
  EXPECT_TRUE(has(pg, "class=\"fig volcano\""));
  EXPECT_TRUE(has(pg, "<tr class=\"pass\">"));
  EXPECT_TRUE(has(pg, "real search: 0.998527"));
  EXPECT_TRUE(has(pg, "1 of them recorded no pair"));
  EXPECT_TRUE(has(pg, "1 reached the real search"));  // 0.999 >= 0.998527, 0.4 not
  EXPECT_TRUE(has(pg, ">GP (P)</text>"));              // a pair plot's axis
  EXPECT_TRUE(has(pg, "<th>p_search</th>"));
  EXPECT_FALSE(has(pg, "<th>p from</th>"));

  // the tail's table: where each p comes from, in the table, the pair and the volcano's caption
  std::string tl = signif4;
  tl.replace(tl.find("hits\n"), 5, "hits\tp_source\tp_log2err\n");
  tl.replace(tl.find("\t0\n"), 3, "\t0\ttail\t0.5\n");
  tl.replace(tl.find("\t1\n"), 3, "\t1\tperm\t1.2\n");
  tl.replace(tl.find("\t3\n"), 3, "\t3\tfloor\t0.3\n");
  o.signif = file("s.tsv", tl);
  rep_data u;
  load_report(o, u);
  pg = page(u);
  EXPECT_TRUE(has(pg, "<th>p from</th>"));
  EXPECT_TRUE(has(pg, "<td>tail, \u00d7/\u00f7 1.41</td>"));
  EXPECT_TRUE(has(pg, "<dd>floor (at most)</dd>"));
  EXPECT_TRUE(
      has(pg,
          "label shufflings for 1 pair, from the tail estimate (multilevel splitting) for 1, each within "
          "a factor of at most 1.41 (one standard deviation); 1 reached"));
}

TEST(ReportStats, BinomialUpperTailMatchesTheDirectSum) {
  for (long n : {1L, 10L, 57L, 300L})
    for (double r : {0.02, 0.3, 0.5, 0.9}) {
      // direct sum of the pmf, term by term from the recurrence
      std::vector<double> pmf(n + 1);
      pmf[0] = std::pow(1 - r, static_cast<double>(n));
      for (long k = 1; k <= n; ++k) pmf[k] = pmf[k - 1] * (n - k + 1) / k * r / (1 - r);
      double tail = 0;
      for (long c = n; c >= 0; --c) {
        tail += pmf[c];
        if (pmf[0] == 0 && c == 0) continue;  // underflow of the recurrence's start
        EXPECT_NEAR(binom_upper(c, n, r), std::min(1.0, tail), 1e-9 + 1e-7 * tail) << n << " " << r << " " << c;
      }
    }
  EXPECT_EQ(binom_upper(0, 100, 0.1), 1.0);
  EXPECT_EQ(binom_upper(101, 100, 0.1), 0.0);
  // a sample flipped in 400 of 222000 pairs at a rate of 0.1% is far above chance
  EXPECT_LT(222000.0 * binom_upper(400, 222000, 0.001), 1e-20);
  EXPECT_GT(binom_upper(230, 222000, 0.001), 0.1);
}

TEST(ReportSvg, NeighbouringClustersGetDifferentHues) {
  // a row of 20 clusters 10 px apart: any two within 7 places differ
  std::vector<std::vector<std::pair<double, double>>> pts;
  for (int k = 0; k < 20; ++k) pts.push_back({{10.0 * k, 0.0}, {10.0 * k + 1, 1.0}});
  std::vector<int> h = hue_pick(pts);
  for (int a = 0; a < 20; ++a)
    for (int b = a + 1; b < 20 && b < a + N_HUE; ++b) EXPECT_NE(h[a], h[b]) << a << " " << b;
  for (int x : h) EXPECT_TRUE(x >= 0 && x < N_HUE);
  EXPECT_EQ(hue_pick({}).size(), 0u);
}

TEST(ReportStats, FlipMarkNeedsBothAFoldAndASmallTail) {
  struct one_case {
    long pairs;
    std::vector<long> flips;
    std::vector<char> hot;
  };
  const std::vector<one_case> cases = {
      // sample 0 in half the pairs against an average of 10%: marked
      {100, {50, 5, 5, 5, 5, 5, 5, 5, 5, 5}, {1, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
      // a small excess over many pairs: a tiny tail, but not twice the rate
      {200000, {52000, 48000, 48000, 48000}, {0, 0, 0, 0}},
      // eight times the rate, but from two pairs of ten: the tail is not small
      {10, {2, 0, 0, 0, 0, 0, 0, 0}, {0, 0, 0, 0, 0, 0, 0, 0}},
      {0, {0, 0}, {0, 0}},
  };
  for (const one_case& c : cases) {
    rec_sum s;
    s.syn.assign(c.pairs, 0.5);
    s.n_flip = c.flips;
    flip_test t = test_flips(s);
    EXPECT_EQ(t.hot, c.hot) << c.pairs;
    EXPECT_EQ(t.n_hot, std::count(c.hot.begin(), c.hot.end(), 1)) << c.pairs;
  }
  rec_sum s;
  s.syn.assign(200000, 0.5);
  s.n_flip = {52000, 48000, 48000, 48000};
  EXPECT_LT(test_flips(s).padj[0], 1e-10);  // "significant", yet not marked
}

TEST_F(ReportSig, RunWritesAllOutputsOrNone) {
  o.signif = file("s.tsv", signif4);
  o.tsv = dir + "/pairs.tsv";
  o.edges = dir + "/edges.tsv";
  run::spit(o.out, "old page");
  o.annot = file("a.tsv", "P\tS\td\tx\n");  // one field too many: nothing is written
  EXPECT_TRUE(has(err([&] { run_report(o); }), "a.tsv:1:"));
  EXPECT_EQ(run::slurp(o.out), "old page");
  EXPECT_FALSE(run::exists(o.tsv) || run::exists(o.edges));
  EXPECT_EQ(run::listing(dir).size(), 6u);  // the inputs and the old page, no temporary file
  // an export that fails after the page is complete: still nothing replaced
  o.annot = file("a.tsv", "P\tS\n");
  o.tsv = "/dev/full";
  EXPECT_TRUE(has(err([&] { run_report(o); }), "/dev/full: write failed")) << err([&] { run_report(o); });
  EXPECT_EQ(run::slurp(o.out), "old page");
  EXPECT_FALSE(run::exists(o.edges));
  EXPECT_EQ(run::listing(dir).size(), 6u);
  o.tsv = dir + "/pairs.tsv";
  std::vector<std::string> notes = run_report(o);
  EXPECT_TRUE(notes.empty());
  EXPECT_TRUE(has(run::slurp(o.out), "S (P)"));
  EXPECT_TRUE(has(run::slurp(o.edges), "S (P)\tQ\t0.1\t0.998527\t0.03\n"));
  o.q = 0.001;
  notes = run_report(o);
  ASSERT_EQ(notes.size(), 1u);
  EXPECT_TRUE(has(notes[0], "no pair has q below 0.001"));
  EXPECT_EQ(run::table(run::slurp(o.edges)), "source\ttarget\tbase\tfinal\tq\n");
}
