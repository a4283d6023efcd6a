// The file layer (io/): every reader's rejections, each named by file and
// line, and each writer against its reader (the bytes read back are the bytes
// written; columns found by name; provenance lines skipped).
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "io.h"
#include "report_fixture.h"
#include "run_prog.h"
#include "synergy.h"

namespace {

const char* const head10 = "first\tsecond\tbase\tfinal\tflips\tp\tq\tperms\tadmissible\thits\n";
const char* const head11 = "first\tsecond\tbase\tfinal\tflips\tp\tq\tp_search\tperms\tadmissible\thits\n";
const std::string head_src =
    "first\tsecond\tbase\tfinal\tflips\tp\tq\tperms\tadmissible\thits\tp_source\tp_log2err\n";

bool has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

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

std::string where = "rec.tsv";

// The message of the syn_error that parsing l1/l2 throws, or "" if none.
std::string rec_err(const std::string& l1, const std::string* l2) {
  pair_rec r;
  return err([&] { parse_rec(l1, l2, where, 7, make_idx(probe), r); });
}

pair_rec rec(const std::string& l1, const std::string& l2, long line = 1) {
  pair_rec r;
  parse_rec(l1, &l2, where, line, make_idx(probe), r);
  return r;
}

// The four-sample table of the report's tests (P, Q, R) loaded.
class io : public ::testing::Test {
 protected:
  void SetUp() override {
    dir =
        run::fresh_dir(std::string("io_") + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    run::spit(dir + "/t.tsv", fixture::table4);
    load_exp((dir + "/t.tsv").c_str());
  }
  std::string file(const std::string& name, const std::string& text) {
    run::spit(dir + "/" + name, text);
    return dir + "/" + name;
  }
  std::string dir;
};

}  // namespace

// ---- pair record file

TEST_F(io, ParsesAWellFormedRecord) {
  pair_rec r = rec("Q\tP\t0.25\t1\t0\t0\t1", "Q\tP\t-9\t0\t1\t0\t2", 5);
  EXPECT_EQ(r.line, 5);
  EXPECT_EQ(r.a, "Q");
  EXPECT_EQ(r.b, "P");
  EXPECT_EQ(r.pa, 1);
  EXPECT_EQ(r.pb, 0);
  EXPECT_EQ(r.syn, 0.25);
  EXPECT_EQ(r.syn_txt, "0.25");
  EXPECT_EQ(r.lab, (std::vector<int>{1, 0, 0, 1}));
  EXPECT_EQ(r.cid, (std::vector<int>{0, 1, 0, 2}));
  EXPECT_EQ(r.n_cl, 3);
  // the default stream form of small and negative synergies reads back
  EXPECT_EQ(rec("P\tP\t-1.5e-05\t1\t1\t0\t0", "P\tP\t-9\t0\t0\t1\t1").syn, -1.5e-05);
}

TEST_F(io, RejectsEachMalformedRecordNamingFileAndLine) {
  const std::string l2 = "P\tQ\t-9\t0\t0\t1\t1";
  struct bad {
    std::string l1, l2, line, says;
  };
  const std::vector<bad> cases = {
      {"X\tQ\t0.5\t1\t1\t0\t0", l2, ":7:", "probe 'X' is not in the table"},
      {"P\tX\t0.5\t1\t1\t0\t0", l2, ":7:", "probe 'X' is not in the table"},
      {"P\tQ\t0.5\t1\t1\t0", l2, ":7:", "record has 6 fields, expected 7"},
      {"P\tQ\t0.5\t1\t1\t0\t0\t1", l2, ":7:", "record has 8 fields, expected 7"},
      {"P\tQ\t0.5\t1\t1\t0\t0", "P\tQ\t-9\t0\t0\t1", ":8:", "record has 6 fields, expected 7"},
      {"P\tQ\t\t1\t1\t0\t0", l2, ":7:", "synergy '' is not a number"},
      {"P\tQ\t0.5x\t1\t1\t0\t0", l2, ":7:", "synergy '0.5x' is not a number"},
      {"P\tQ\tnan\t1\t1\t0\t0", l2, ":7:", "is not a number"},
      {"P\tQ\tinf\t1\t1\t0\t0", l2, ":7:", "is not a number"},
      {"P\tQ\t0.5\t1\t2\t0\t0", l2, ":7:", "label of sample 1 is '2', expected 0 or 1"},
      {"P\tQ\t0.5\t1\t1\t\t0", l2, ":7:", "label of sample 2 is ''"},
      {"P\tQ\t0.5\t1\t1\t0\t1.0", l2, ":7:", "label of sample 3 is '1.0'"},
      {"P\tQ\t0.5\t1\t1\t0\t0\r", l2, ":7:", "'0\\x0d'"},
      {"P\tQ\t-9\t0\t0\t1\t1", l2, ":7:", "a partition line (\"-9\" in field 3) where a record's first line"},
      {"P\tQ\t0.5\t1\t1\t0\t0", "P\tQ\t0.5\t1\t1\t0\t0",
       ":8:", "expected the partition line of the record begun on line 7"},
      {"P\tQ\t0.5\t1\t1\t0\t0", "P\tQ", ":8:", "expected the partition line"},
      {"P\tQ\t0.5\t1\t1\t0\t0", "Q\tP\t-9\t0\t0\t1\t1", ":8:", "partition line names the pair 'Q', 'P'"},
      {"P\tQ\t0.5\t1\t1\t0\t0", "P\tQ\t-9\t0\t0\t1\tx", ":8:", "cluster number of sample 3 is 'x'"},
      {"P\tQ\t0.5\t1\t1\t0\t0", "P\tQ\t-9\t0\t-1\t1\t1", ":8:", "cluster number of sample 1 is '-1'"},
      {"P\tQ\t0.5\t1\t1\t0\t0", "P\tQ\t-9\t0\t0\t1\t4", ":8:", "expected 0 to 3"},
  };
  for (const bad& b : cases) {
    std::string m = rec_err(b.l1, &b.l2);
    EXPECT_TRUE(has(m, "rec.tsv" + b.line)) << b.l1 << " | " << b.l2 << " -> " << m;
    EXPECT_TRUE(has(m, b.says)) << b.l1 << " | " << b.l2 << " -> " << m;
    EXPECT_FALSE(has(m, "\n")) << m;
  }
  std::string m = rec_err("P\tQ\t0.5\t1\t1\t0\t0", nullptr);
  EXPECT_TRUE(has(m, "rec.tsv:7: file ends inside a record")) << m;
  EXPECT_EQ(rec_err("P\tQ\t0.5\t1\t1\t0\t0", &l2), "");
}

TEST_F(io, RecordsFromAnotherTableAreRejectedByFieldCount) {
  // a record of a five-sample table against this four-sample one
  const std::string path = dir + "/rec.tsv";
  run::spit(path, "P\tQ\t0.5\t1\t1\t0\t0\t1\nP\tQ\t-9\t0\t0\t1\t1\t2\n");
  try {
    load_records(path.c_str());
    FAIL() << "accepted";
  } catch (const syn_error& e) {
    EXPECT_EQ(std::string(e.what()),
              path + ":1: record has 8 fields, expected 7 (two probe names, the synergy, 4 samples)");
  }
}

TEST_F(io, FileWithAnOddLineCountEndsInsideARecord) {
  const std::string path = dir + "/rec.tsv";
  run::spit(path, "P\tQ\t0.5\t1\t1\t0\t0\nP\tQ\t-9\t0\t0\t1\t1\nQ\tR\t0.5\t1\t1\t0\t0\n");
  try {
    load_records(path.c_str());
    FAIL() << "accepted";
  } catch (const syn_error& e) {
    EXPECT_TRUE(has(e.what(), path + ":3: file ends inside a record")) << e.what();
  }
}

TEST_F(io, RecordFileCutInsideItsLastLineIsRejected) {
  // a killed run's last number may be cut ("1" of "12"): reading it would be wrong
  const std::string path = dir + "/rec.tsv";
  run::spit(path, "P\tQ\t0.5\t1\t1\t0\t0\nP\tQ\t-9\t0\t0\t1\t1");
  try {
    load_records(path.c_str());
    FAIL() << "accepted";
  } catch (const syn_error& e) {
    EXPECT_TRUE(has(e.what(), path + ":2: file ends inside a record line")) << e.what();
  }
}

// ---- ranked probe list

TEST_F(io, ReadsTheRankedListAndCountsCandidates) {
  run::spit(dir + "/r.tsv", "Q\t1\t0.99\t2\nR\t2\t0.97175\t1\nP\t0\t0.98\t2\n");
  rl_info rk = read_ranked((dir + "/r.tsv").c_str());
  ASSERT_EQ(rk.rows.size(), 3u);
  EXPECT_EQ(rk.n_cand, 1);  // the bound itself stops the list, later lines never count
  EXPECT_EQ(rk.pos, (std::vector<int>{2, 0, 1}));
  EXPECT_EQ(rk.n_nopart, 0);
  run::spit(dir + "/n.tsv", "P\t0\t0.98\t2\nR\t2\t-10\t1\n");
  rk = read_ranked((dir + "/n.tsv").c_str());
  EXPECT_EQ(rk.n_cand, 1);
  EXPECT_EQ(rk.n_nopart, 1);
  EXPECT_EQ(rk.pos[1], -1);
}

TEST_F(io, RejectsRankedLinesThatCannotBeParsed) {
  struct bad {
    std::string text, says;
  };
  const std::vector<bad> cases = {
      {"P\t0\t0.99\n", ":1: ranked list line has 3 fields, expected 4"},
      {"P\t0\t0.99\t2\n\n", ":2: ranked list line has 1 fields"},
      {"P\t3\t0.99\t2\n", ":1: probe number '3' is not a probe of the table (0 to 2)"},
      {"P\t-1\t0.99\t2\n", ":1: probe number '-1'"},
      {"P\t1\t0.99\t2\n", ":1: probe 1 is named 'P' here but 'Q' in the table"},
      {"P\t0\tabc\t2\n", ":1: score 'abc' is not a number"},
      {"P\t0\t0.99\ttwo\n", ":1: cluster count 'two' is not a whole number"},
      {"P\t0\t0.99\t2\nQ\t1\t0.9\t2\nP\t0\t0.9\t2\n", ":3: probe 'P' is listed twice (also on line 1)"},
      {"P\t0\t0.99\t2\nQ\t1\t0.9", ":2: list ends inside a line (cut short?)"},  // a killed writer
  };
  for (const bad& b : cases) {
    run::spit(dir + "/bad.tsv", b.text);
    try {
      read_ranked((dir + "/bad.tsv").c_str());
      ADD_FAILURE() << "accepted: " << b.text;
    } catch (const syn_error& e) {
      EXPECT_TRUE(has(e.what(), dir + "/bad.tsv" + b.says)) << e.what();
    }
  }
}

// ---- significance table

TEST_F(io, SignifReaderRejectsEachBadLineNamingFileAndLine) {
  const std::string ok = "P\tQ\t0.1\t0.5\t2\t0.01\t0.03\t100\t90\t0\n";
  const std::vector<std::pair<std::string, std::string>> bad = {
      {"", ": empty file"},
      {"first\tsecond\tbase\n" + ok, ":1: expected the header"},
      {std::string(head10) + "P\tQ\t0.1\n", ":2: line has 3 fields, expected 10"},
      {std::string(head10) + "P\tZ\t0.1\t0.5\t2\t0.01\t0.03\t100\t90\t0\n",
       ":2: probe 'Z' is not in the table"},
      {std::string(head10) + "P\tQ\tx\t0.5\t2\t0.01\t0.03\t100\t90\t0\n", ":2: base 'x' is not a number"},
      {std::string(head10) + "P\tQ\t0.1\t0.5\t2\t1.5\t0.03\t100\t90\t0\n",
       ":2: p '1.5' is not a number from 0 to 1"},
      {std::string(head10) + "P\tQ\t0.1\t0.5\t2\t0.01\tnan\t100\t90\t0\n", ":2: q 'nan' is not"},
      {std::string(head10) + "P\tQ\t0.1\t0.5\t-2\t0.01\t0.03\t100\t90\t0\n",
       ":2: flips '-2' is not a whole number"},
      {std::string(head10) + "P\tQ\t0.1\t0.5\t2\t0.01\t0.03\t100\t101\t0\n", ":2: counts out of order"},
      {std::string(head10) + ok + "Q\tP\t0.1\t0.5\t2\t0.01\t0.03\t100\t90\t0\n",
       ":3: pair 'Q', 'P' is listed twice (also on line 2)"},
      {std::string(head11) + "P\tQ\t0.1\t0.5\t2\t0.01\t0.03\t2\t100\t90\t0\n", ":2: p_search '2' is not"},
      {head_src + "P\tQ\t0.1\t0.5\t2\t0.01\t0.03\t100\t90\t0\n", ":2: line has 10 fields, expected 12"},
      {head_src + "P\tQ\t0.1\t0.5\t2\t0.01\t0.03\t100\t90\t0\tmc\t0.3\n", ":2: p_source 'mc' is not perm"},
      {head_src + "P\tQ\t0.1\t0.5\t2\t0.01\t0.03\t100\t90\t0\ttail\t-1\n", ":2: p_log2err '-1' is not"},
  };
  for (const auto& b : bad) {
    std::string path = file("s.tsv", b.first);
    std::string e = err([&] { read_signif(path.c_str(), make_idx(probe)); });
    EXPECT_TRUE(has(e, path + b.second)) << e << "\nwanted: " << b.second;
  }
  sig_tab t = read_signif(file("s.tsv", std::string(head10) + ok).c_str(), make_idx(probe));
  ASSERT_EQ(t.rows.size(), 1u);
  EXPECT_FALSE(t.has_ps);
  EXPECT_EQ(t.rows[0].p_txt, "0.01");
  EXPECT_EQ(t.rows[0].adm, 90);
  EXPECT_EQ(t.at.at(pair_key(1, 0)), 0u);
  EXPECT_TRUE(read_signif(file("s.tsv", "# made by hand\n" + std::string(head11) +
                                            "P\tQ\t0.1\t0.5\t2\t0.01\t0.03\t0.2\t100\t90\t0\n")
                              .c_str(),
                          make_idx(probe))
                  .has_ps);
  t = read_signif(file("s.tsv", head_src + "P\tQ\t0.1\t0.5\t2\t0.01\t0.03\t100\t90\t0\ttail\t0.35\n").c_str(),
                  make_idx(probe));
  EXPECT_TRUE(t.has_src && !t.has_ps);
  EXPECT_EQ(t.rows[0].src, "tail");
  EXPECT_EQ(t.rows[0].l2err_txt, "0.35");
}

// ---- search-null file

TEST_F(io, NullReader) {
  null_tab n = read_null(file("n.tsv",
                              "seed\tcandidates\tbest_base\tbest_final\n1\t5\t0.2\t0.7\n2\t0\tNA\tNA\n"
                              "18446744073709551615\t3\t0.1\t0.6\r\n")
                             .c_str());
  EXPECT_EQ(n.n, 3);
  EXPECT_EQ(n.n_na, 1);
  EXPECT_EQ(n.best_fin, (std::vector<double>{0.7, 0.6}));
  const std::vector<std::pair<std::string, std::string>> bad_null = {
      {"1\t5\t0.2\n", ":1: line has 3 fields"},
      {"x\t5\t0.2\t0.3\n", ":1: seed 'x'"},
      // no search, or one search counted twice: p_search would be 1, or too small
      {"", ": no search line"},
      {"seed\tcandidates\tbest_base\tbest_final\n", ": no search line"},
      {"7\t5\t0.2\t0.3\n8\t5\tNA\tNA\n007\t5\t0.2\t0.3\n", ":3: seed '007' is also on line 1"},
      {"1\t5\tNA\t0.3\n", ":1: best synergies 'NA', '0.3' are not two numbers"},
      {"seed\tcandidates\tbest_base\tbest_final\n1\t-1\t1\t1\n", ":2: candidate count '-1'"}};
  for (const auto& b : bad_null) {
    std::string path = file("n.tsv", b.first);
    EXPECT_TRUE(has(err([&] { read_null(path.c_str()); }), path + b.second)) << b.second;
  }
}

// ---- writers against their readers

TEST_F(io, WritersGiveBackWhatTheReadersRead) {
  const std::string ranked = "Q\t1\t0.99\t2\nR\t2\t0.971751\t2\nP\t0\t-10\t1\n";
  EXPECT_EQ(write_ranked(read_ranked(file("r.tsv", ranked).c_str()).rows), ranked);
  EXPECT_EQ(write_records(load_records(file("rec.tsv", fixture::records4).c_str())), fixture::records4);
  EXPECT_EQ(null_text(7, 3, true, 0.2, 0.971751) + null_text(8, 0, false, 0, 0),
            "7\t3\t0.2\t0.971751\n8\t0\tNA\tNA\n");
  // the six-digit score text on which candidacy is decided
  EXPECT_EQ(score_text(0.9717501), "0.97175");
  EXPECT_EQ(score_text(-1.5e-05), "-1.5e-05");

  sig_row r;
  r.a = "P", r.b = "Q", r.base = 0.1234567, r.fin_txt = "0.998527", r.flips = 2, r.p = 1.0 / 3, r.q = 0.5;
  r.ps = 0.25, r.perms = 100, r.adm = 90, r.hits = 3, r.src = "tail", r.l2err = 0.123456;
  sig_row m = r;
  m.a = "R", m.b = "P", m.fin_txt.clear(), m.fin = 0.377075, m.src = "perm";
  const prov pv = {"pair_signif 1.0.0", "pair_signif --seed 9 'a b.tsv'", {{"seed", "9"}}};
  for (int k = 0; k < 4; ++k) {
    const bool with_null = k & 1, with_src = k & 2;
    const std::string text = write_signif({r, m}, with_null, with_src, pv);
    const std::string body = text.substr(text.find("first"));
    EXPECT_EQ(text.substr(0, text.size() - body.size()),
              "# pair_signif 1.0.0\n# command: pair_signif --seed 9 'a b.tsv'\n# seed: 9\n");
    EXPECT_EQ(body.substr(0, body.find('\n') + 1), sig_head(with_null, with_src));
    const sig_tab t = read_signif(file("s.tsv", text).c_str());  // without a table: names as they are
    EXPECT_EQ(t.has_ps, with_null);
    EXPECT_EQ(t.has_src, with_src);
    EXPECT_EQ(write_signif(t.rows, with_null, with_src, pv), text) << k;
    EXPECT_EQ(t.rows[0].base_txt + " " + t.rows[0].p_txt + " " + t.rows[1].fin_txt,
              "0.123457 0.333333 0.377075");
  }
  // --tail none: the table of earlier versions after the comment lines
  EXPECT_EQ(sig_head(false, false), head10);
  EXPECT_EQ(sig_head(true, false), head11);
  EXPECT_EQ(sig_head(false, true), head_src);
  // columns are found by name, whatever their order
  const sig_tab t = read_signif(file("s.tsv",
                                     "hits\tadmissible\tperms\tq\tp\tflips\tfinal\tbase\tsecond\tfirst\n"
                                     "3\t90\t100\t0.5\t0.25\t2\t0.9\t0.1\tQ\tP\n")
                                    .c_str(),
                                make_idx(probe));
  ASSERT_EQ(t.rows.size(), 1u);
  EXPECT_EQ(t.rows[0].a + t.rows[0].b + t.rows[0].p_txt + t.rows[0].fin_txt, "PQ0.250.9");
  EXPECT_EQ(t.at.at(pair_key(0, 1)), 0u);
  // writers refuse what would not read back
  struct bad {
    std::function<void()> f;
    std::string says;
  };
  sig_row tab = r;
  tab.b = "Q\tX";
  pair_rec cut = load_records(file("rec.tsv", fixture::records4).c_str())[0];
  cut.cid.pop_back();
  for (const bad& b : std::vector<bad>{
           {[&] { write_signif({tab}, false, false); }, "signif: row 1: probe 'Q\\x09X'"},
           {[&] {
              write_signif({m, r}, false, true);
            },
            ""},
           {[&] {
              write_ranked({{"a\nb", 0, 0.5, 2}});
            },
            "ranked: row 1: probe 'a\\x0ab'"},
           {[&] { write_records({cut}); }, "records: record 1: 4 labels and 3 cluster numbers"},
       })
    EXPECT_TRUE(b.says.empty() ? err(b.f).empty() : has(err(b.f), b.says)) << err(b.f);
  m.src = "mc";
  EXPECT_TRUE(
      has(err([&] { write_signif({m}, false, true); }), "row 1: p_source 'mc' is not perm, tail or floor"));
}
