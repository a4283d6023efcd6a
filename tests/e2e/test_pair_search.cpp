// pair_search end to end: record file and progress lines against the literal
// oracle, byte for byte; the candidate list rules; ranges; errors; threads.
#include <gtest/gtest.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "gen.h"
#include "oracle/oracle.h"
#include "run_prog.h"
#include "search.h"
#include "fast.h"
#include "par.h"
#include "synergy.h"

namespace {

const std::string bin = PAIR_SEARCH_BIN;
const std::string rank_bin = PROBE_RANK_BIN;

void core_load(const std::string& path) { load_exp(path.c_str()); }

// A ranked list that makes the given probes candidates, in this order, with
// the names the table gives them (generated tables name probe p "g<p>").
std::string cand_list(const std::vector<int>& ps, const std::vector<std::string>& names = {}) {
  std::string s;
  for (int p : ps)
    s += (names.empty() ? "g" + std::to_string(p) : names[p]) + "\t" + std::to_string(p) + "\t1\t2\n";
  return s;
}

std::string cat(const std::string& a, const std::string& b) { return a + b; }

// Four samples; a splits {0,1}{2,3}, b splits {0,2}{1,3}; together every
// sample stands alone.
std::string four(const char* labels) {
  return std::string("id\ts0\ts1\ts2\ts3\nlabel\t") + labels + "\na\t0\t0\t1\t1\nb\t0\t1\t0\t1\n";
}

// 1 minus the pure-cluster floor, six digits
const char* const top6 = "0.998527";

// Run the search and compare records, progress and status with the oracle.
void expect_like_oracle(const std::string& d, const std::string& in, const std::string& ranked, int start, int end,
                        const std::string& thr, const std::string& what) {
  std::string rec = d + "/rec.tsv";
  std::remove(rec.c_str());
  run::result r =
      run::prog(bin, {"-q", "-t", thr, in, ranked, std::to_string(start), std::to_string(end), rec}, d + "/run");
  oracle::search_out want = oracle::pair_search(in, ranked, start, end);
  ASSERT_EQ(r.status, 1) << what << ": " << r.err;
  ASSERT_EQ(r.err, "") << what;
  ASSERT_EQ(r.out, want.progress) << what;
  ASSERT_EQ(run::slurp(rec), want.records) << what;
  // a run that appends no record leaves no file
  ASSERT_EQ(run::exists(rec), !want.records.empty()) << what;
}

}  // namespace

TEST(PairSearch, MatchesOracleOnGeneratedTables) {
  const std::string d = run::fresh_dir("pair_gen");
  const std::string in = d + "/t.tsv", ranked = d + "/ranked.tsv", all = d + "/all.tsv";
  const char* thr[] = {"1", "2", "3", "8"};
  int with_cand = 0;
  for (int t = 0; t < 400; ++t) {
    const uint64_t seed = 9000 + t;
    std::mt19937_64 rng(seed);
    gen::opts o;
    o.max_samp = t % 8 == 0 ? 40 : 16;
    o.max_prob = 6;
    if (t % 2) o.labels = gen::opts::lab_balanced;  // mixed clusters score above the bound
    gen::table tab = gen::make(rng, o);
    gen::write_file(in, tab.text);
    std::string what = "seed " + std::to_string(seed);
    // the list probe_rank writes, over the whole candidate range
    run::result r = run::prog(rank_bin, {in, ranked}, d + "/run");
    ASSERT_EQ(r.status, 1) << what << ": " << r.err;
    int n_cand = static_cast<int>(oracle::candidates(ranked).size());
    with_cand += n_cand > 0;
    expect_like_oracle(d, in, ranked, 0, n_cand, thr[t % 4], what + " ranked");
    // every probe a candidate, in a shuffled order, part range
    std::vector<int> ps;
    for (int p = 0; p < tab.n_prob; ++p) ps.push_back(p);
    std::shuffle(ps.begin(), ps.end(), rng);
    run::spit(all, cand_list(ps));
    int n = static_cast<int>(ps.size());
    int s = n ? static_cast<int>(rng() % n) : 0;
    expect_like_oracle(d, in, all, s, n, thr[(t + 1) % 4], what + " all");
  }
  // the generated tables must reach the search itself, not only empty lists
  EXPECT_GT(with_cand, 50);
}

TEST(PairSearch, WorkedExamples) {
  const std::string d = run::fresh_dir("pair_worked");
  struct ex {
    const char* labels;
    const char* final_labels;
  } cases[] = {{"1\t0\t0\t1", "1\t0\t0\t1"},   // no flip improves
               {"1\t1\t0\t0", "0\t1\t1\t0"}};  // flip sample 0, then sample 2
  for (const ex& e : cases) {
    run::spit(d + "/t.tsv", four(e.labels));
    std::string want = std::string("a\tb\t") + top6 + "\t" + e.final_labels + "\na\tb\t-9\t0\t1\t2\t3\n";
    // the step-by-step routine
    core_load(d + "/t.tsv");
    std::remove((d + "/lit.tsv").c_str());
    EXPECT_EQ(optimize(0, 1, 0, (d + "/lit.tsv").c_str()), 1);
    EXPECT_EQ(run::slurp(d + "/lit.tsv"), want) << e.labels;
    // the program: pair (a, b) is the second of four
    run::spit(d + "/ranked.tsv", "a\t0\t1\t2\nb\t1\t1\t2\n");
    run::result r = run::prog(bin, {d + "/t.tsv", d + "/ranked.tsv", "0", "2", d + "/rec.tsv"}, d + "/run");
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(r.out, "0\t0\n0\t1\n1\t0\n1\t1\n");
    std::string got = run::slurp(d + "/rec.tsv");
    EXPECT_NE(got.find(want), std::string::npos) << got;
    EXPECT_EQ(got, oracle::pair_search(d + "/t.tsv", d + "/ranked.tsv", 0, 2).records);
    std::remove((d + "/rec.tsv").c_str());
  }
}

TEST(PairSearch, CandidateBoundAndListReading) {
  const std::string d = run::fresh_dir("pair_bound");
  auto count = [&](const std::string& text, const std::vector<std::string>& opts = {}) {
    run::spit(d + "/l.tsv", text);
    std::vector<std::string> a = opts;
    a.push_back("--count-candidates");
    a.push_back(d + "/l.tsv");
    run::result r = run::prog(bin, a, d + "/run");
    EXPECT_EQ(r.status, 0) << r.err;
    if (opts.empty()) {
      EXPECT_EQ(oracle::candidates(d + "/l.tsv").size(), static_cast<size_t>(std::atoi(r.out.c_str())));
    }
    return r.out;
  };
  EXPECT_EQ(count("a\t0\t0.98\t2\nb\t1\t0.97175\t2\nc\t2\t0.99\t2\n"), "1\n");  // exactly the bound: not taken
  EXPECT_EQ(count("a\t0\t0.971751\t2\nb\t1\t0.97175\t2\n"), "1\n");
  EXPECT_EQ(count("a\t0\t0.97175\t2\n"), "0\n");
  EXPECT_EQ(count(""), "0\n");
  EXPECT_EQ(count("a\t0\t1\t2\nb\t1\t1\t2"), "2\n");  // a missing final newline changes nothing
  EXPECT_EQ(count("a\t0\t1\t2\r\nb\t1\t1\t2\r\n"), "2\n");
  EXPECT_EQ(count("a\t0\t-10\t1\n"), "0\n");
  // --bound moves the bound, in bits
  EXPECT_EQ(count("a\t0\t0.98\t2\nb\t1\t0.9\t2\nc\t2\t0.5\t2\n", {"--bound", "0.85"}), "2\n");
  EXPECT_EQ(count("a\t0\t0.98\t2\nb\t1\t0.9\t2\nc\t2\t0.5\t2\n", {"--bound=0"}), "3\n");
  EXPECT_EQ(count("a\t0\t0.98\t2\n", {"--bound", "1"}), "0\n");
  // a gzip-compressed list reads the same as the plain one
  const std::string plain = "g0\t0\t1\t2\ng1\t1\t0.99\t2\ng2\t2\t0.5\t2\n";
  {
    gzFile z = gzopen((d + "/l.tsv.gz").c_str(), "wb");
    ASSERT_NE(z, nullptr);
    gzwrite(z, plain.data(), static_cast<unsigned>(plain.size()));
    gzclose(z);
  }
  run::spit(d + "/p.tsv", plain);
  EXPECT_EQ(read_cand(d + "/l.tsv.gz", -1), read_cand(d + "/p.tsv", -1));
  EXPECT_EQ(read_cand(d + "/l.tsv.gz", -1), (std::vector<int>{0, 1}));

  // lines after the first low score are read and checked, but never candidates
  const std::string in = d + "/t.tsv";
  run::spit(in, four("1\t0\t0\t1") + "c\t0\t1\t1\t0\n");
  run::spit(d + "/l.tsv", "a\t0\t1\t2\nb\t1\t1\t2\nc\t2\t0.5\t2\n");
  run::result r = run::prog(bin, {in, d + "/l.tsv", "0", "2", d + "/rec.tsv"}, d + "/run");
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_EQ(r.out, "0\t0\n0\t1\n1\t0\n1\t1\n");
  run::spit(d + "/l.tsv", "a\t0\t1\t2\nb\t1\t0.5\t2\nc\t2\t1\t2\n");
  r = run::prog(bin, {"--count-candidates", d + "/l.tsv"}, d + "/run");
  EXPECT_EQ(r.out, "1\n");

  // three candidates, range 1..2
  run::spit(d + "/l3.tsv", "a\t0\t1\t2\nb\t1\t1\t2\nc\t2\t1\t2\n");
  r = run::prog(bin, {in, d + "/l3.tsv", "1", "2", d + "/rec3.tsv"}, d + "/run");
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_EQ(r.out, "1\t0\n1\t1\n1\t2\n");
  EXPECT_EQ(run::slurp(d + "/rec3.tsv"), oracle::pair_search(in, d + "/l3.tsv", 1, 2).records);
}

// One reader for the ranked list in every program: what the literal reading
// took as a score of 0 (and so as the end of the list) or as a number's
// leading digits is an error, the same in pair_search, --count-candidates
// and pair_report.
TEST(PairSearch, RankedListsAreReadWholeAndStrictly) {
  const std::string d = run::fresh_dir("pair_strict_list");
  const std::string in = d + "/t.tsv";
  run::spit(in, four("1\t0\t0\t1") + "c\t0\t1\t1\t0\n");
  struct bad {
    std::string list, says;
    bool table_only;  // caught only against the table (names, probe range)
  } cases[] = {
      {"a\t0\t1\t2\nb\t1\n", ":2: ranked list line has 2 fields, expected 4", false},
      {"a\t0\t1\t2\n\nc\t2\t1\t2\n", ":2: ranked list line has 1 fields", false},
      {"a\t0\t\t2\n", ":1: score '' is not a number", false},
      {"a\t0\tnan\t2\nb\t1\t1\t2\n", ":1: score 'nan' is not a number (NaN)", false},
      {"a\t1e2\t1\t2\n", ":1: probe number '1e2'", false},
      {"a\t12abc\t1\t2\n", ":1: probe number '12abc'", false},
      {"a\t 0\t1\t2\n", ":1: probe number ' 0'", false},
      {"a\t\t1\t2\n", ":1: probe number ''", false},
      {"a\t-1\t1\t2\n", ":1: probe number '-1'", false},
      {"a\t0\t1\t2\na\t0\t0.5\t2\n", ":2: probe 'a' is listed twice (also on line 1)", false},
      {"a\t0\t1\tx\n", ":1: cluster count 'x'", false},
      {"a\t0\t1x\t2\n", ":1: score '1x' is not a number", false},
      {"a\t3\t1\t2\n", ":1: probe number '3' is not a probe of the table (0 to 2)", true},
      {"b\t0\t1\t2\n", ":1: probe 0 is named 'b' here but 'a' in the table: list made from another table?", true},
  };
  const std::string rec = d + "/rec.tsv", page = d + "/p.html";
  run::spit(d + "/r.tsv", "");
  for (const bad& c : cases) {
    const std::string l = d + "/l.tsv";
    run::spit(l, c.list);
    run::result r = run::prog(bin, {in, l, "0", "1", rec}, d + "/run");
    EXPECT_EQ(r.status, 2) << c.list;
    EXPECT_NE(r.err.find(l + c.says), std::string::npos) << r.err;
    EXPECT_FALSE(run::exists(rec));
    r = run::prog(PAIR_REPORT_BIN, {in, l, d + "/r.tsv", page}, d + "/run");
    EXPECT_EQ(r.status, 2) << c.list;
    EXPECT_NE(r.err.find(l + c.says), std::string::npos) << r.err;
    EXPECT_FALSE(run::exists(page));
    r = run::prog(bin, {"--count-candidates", l}, d + "/run");
    EXPECT_EQ(r.status, c.table_only ? 0 : 2) << c.list << r.err;
  }
  // Windows line ends are accepted by every reader, in lists and records
  const std::string crlf = d + "/crlf.tsv";
  run::spit(crlf, "a\t0\t1\t2\r\nb\t1\t1\t2\r\nc\t2\t0.5\t2\r\n");
  std::remove(rec.c_str());
  run::result r = run::prog(bin, {"-q", in, crlf, "0", "2", rec}, d + "/run");
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_EQ(run::prog(bin, {"--count-candidates", crlf}, d + "/run").out, "2\n");
  std::string recs = run::slurp(rec), recs_crlf;
  ASSERT_FALSE(recs.empty());
  for (char ch : recs) recs_crlf += ch == '\n' ? std::string("\r\n") : std::string(1, ch);
  run::spit(d + "/rec_crlf.tsv", recs_crlf);
  r = run::prog(PAIR_REPORT_BIN, {in, crlf, d + "/rec_crlf.tsv", page}, d + "/run");
  EXPECT_EQ(r.status, 0) << r.err;
}

TEST(PairSearch, SplitRangesConcatenateToOneRun) {
  const std::string d = run::fresh_dir("pair_split");
  std::mt19937_64 rng(31337);
  gen::opts o;
  o.min_samp = 12;
  o.max_samp = 20;
  o.min_prob = 7;
  o.max_prob = 7;
  gen::table tab = gen::make(rng, o);
  const std::string in = d + "/t.tsv", ranked = d + "/l.tsv";
  run::spit(in, tab.text);
  run::spit(ranked, cand_list({0, 1, 2, 3, 4, 5, 6}));
  run::result whole = run::prog(bin, {in, ranked, "0", "7", d + "/whole.tsv"}, d + "/run");
  ASSERT_EQ(whole.status, 1) << whole.err;
  oracle::search_out want = oracle::pair_search(in, ranked, 0, 7);
  ASSERT_EQ(whole.out, want.progress);
  ASSERT_EQ(run::slurp(d + "/whole.tsv"), want.records);
  for (int k : {0, 1, 3, 6, 7}) {
    std::string a = d + "/a" + std::to_string(k), b = d + "/b" + std::to_string(k);
    run::result ra = run::prog(bin, {"-t", "2", in, ranked, "0", std::to_string(k), a}, d + "/run");
    run::result rb = run::prog(bin, {"-t", "3", in, ranked, std::to_string(k), "7", b}, d + "/run");
    ASSERT_EQ(ra.status, 1) << ra.err;
    ASSERT_EQ(rb.status, 1) << rb.err;
    EXPECT_EQ(cat(ra.out, rb.out), whole.out) << "split at " << k;
    EXPECT_EQ(cat(run::slurp(a), run::slurp(b)), run::slurp(d + "/whole.tsv")) << "split at " << k;
  }
  // appending to a file keeps what it held in front
  run::spit(d + "/acc.tsv", "kept\n");
  for (auto rg : {std::make_pair("0", "4"), std::make_pair("4", "7")})
    ASSERT_EQ(run::prog(bin, {in, ranked, rg.first, rg.second, d + "/acc.tsv"}, d + "/run").status, 1);
  EXPECT_EQ(run::slurp(d + "/acc.tsv"), "kept\n" + run::slurp(d + "/whole.tsv"));
}

TEST(PairSearch, PairsWithoutPartitionGetProgressButNoRecord) {
  const std::string d = run::fresh_dir("pair_nopart");
  const std::string in = d + "/t.tsv";
  // flat never splits, so no pair with it has a partition; (a, a) has one
  run::spit(in, "h\nl\t1\t0\t1\t0\nflat\t1\t1\t1\t1\na\t0\t0\t1\t1\n");
  run::spit(d + "/l.tsv", "flat\t0\t1\t1\n");
  run::result r = run::prog(bin, {in, d + "/l.tsv", "0", "1", d + "/rec.tsv"}, d + "/run");
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_EQ(r.out, "0\t0\n");
  EXPECT_FALSE(run::exists(d + "/rec.tsv"));  // no record: no file, and a note says why
  EXPECT_EQ(r.err, "pair_search: no pair of the range has a joint partition: no record written\n");
  run::spit(d + "/l2.tsv", "flat\t0\t1\t1\na\t1\t1\t2\n");
  r = run::prog(bin, {in, d + "/l2.tsv", "0", "2", d + "/rec.tsv"}, d + "/run");
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_EQ(r.out, "0\t0\n0\t1\n1\t0\n1\t1\n");
  std::string rec = run::slurp(d + "/rec.tsv");
  EXPECT_EQ(run::lines(rec), 2);  // only (a, a)
  EXPECT_EQ(rec.rfind("a\ta\t", 0), 0u) << rec;
  EXPECT_EQ(rec, oracle::pair_search(in, d + "/l2.tsv", 0, 2).records);
}

TEST(PairSearch, EmptyListsAndEmptyRanges) {
  const std::string d = run::fresh_dir("pair_empty");
  const std::string in = d + "/t.tsv", rec = d + "/rec.tsv";
  run::spit(in, four("1\t0\t0\t1"));
  run::spit(d + "/low.tsv", "a\t0\t0.5\t2\nb\t1\t1\t2\n");
  run::spit(d + "/two.tsv", "a\t0\t1\t2\nb\t1\t1\t2\n");
  run::spit(d + "/none.tsv", "h\nl\t1\t0\n");
  run::spit(d + "/empty.tsv", "");
  struct c {
    std::string table, list, start, end, note;  // note: what stderr says without -q
  } cases[] = {
      {in, d + "/low.tsv", "0", "0", "no candidates: no probe of " + d + "/low.tsv scores above the bound 0.97175"},
      {in, d + "/two.tsv", "1", "1", ""},  // empty range
      {in, d + "/two.tsv", "2", "0", "START 2 is above END 0: the range is empty"},
      {d + "/none.tsv", d + "/empty.tsv", "0", "0", "no candidates"},  // zero probes
  };
  for (const c& k : cases) {
    for (bool quiet : {false, true}) {
      std::vector<std::string> a = {k.table, k.list, k.start, k.end, rec};
      if (quiet) a.insert(a.begin(), "-q");
      run::result r = run::prog(bin, a, d + "/run");
      EXPECT_EQ(r.status, 1) << k.list << " " << k.start << " " << k.end << ": " << r.err;
      EXPECT_EQ(r.out, "");
      if (quiet || k.note.empty()) {
        EXPECT_EQ(r.err, "");
      } else {
        EXPECT_EQ(r.err.find("pair_search: " + k.note), 0u) << r.err;
      }
      EXPECT_FALSE(run::exists(rec));
    }
  }
}

// Why a search is empty, said once on stderr: labels all of one class, or a
// label entropy below the bound, so that no probe can be a candidate.
TEST(PairSearch, NotesSayWhyThereAreNoCandidates) {
  const std::string d = run::fresh_dir("pair_notes");
  const std::string in = d + "/t.tsv", ranked = d + "/r.tsv", rec = d + "/rec.tsv";
  struct c {
    const char* labels;
    std::string says;
  } cases[] = {
      {"1\t1\t1\t1\t1\t1", "all 6 samples are labelled 1: the labels carry no information"},
      {"1\t0\t0\t0\t0\t0", "the labels' entropy is only 0.65 bits (1 of 6 samples labelled 1), so no probe can score above the candidate bound 0.97175"},
  };
  for (const c& k : cases) {
    run::spit(in, std::string("id\ta\tb\tc\td\te\tf\nlabel\t") + k.labels +
                      "\ng0\t0\t0\t1\t1\t2\t2\ng1\t0\t1\t0\t1\t0\t1\n");
    run::result r = run::prog(rank_bin, {in, ranked}, d + "/run");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.find("probe_rank: " + k.says), 0u) << r.err;
    EXPECT_EQ(run::lines(r.err), 1) << r.err;
    r = run::prog(bin, {in, ranked, "0", "0", rec}, d + "/run");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");  // stdout carries only progress lines
    EXPECT_EQ(r.err.find("pair_search: " + k.says), 0u) << r.err;
    EXPECT_EQ(run::lines(r.err), 1) << r.err;
    EXPECT_EQ(run::prog(rank_bin, {"-q", in, ranked}, d + "/run").err, "");
    EXPECT_EQ(run::prog(bin, {in, ranked, "0", "0", rec, "-q"}, d + "/run").err, "");
  }
}

TEST(PairSearch, ErrorsStopBeforeTheFirstPairAndCreateNothing) {
  const std::string d = run::fresh_dir("pair_err");
  const std::string in = d + "/t.tsv", rec = d + "/rec.tsv", ok = d + "/two.tsv";
  run::spit(in, four("1\t0\t0\t1"));
  run::spit(ok, "a\t0\t1\t2\nb\t1\t1\t2\n");
  run::spit(d + "/far.tsv", "a\t0\t1\t2\nb\t2\t1\t2\n");
  run::spit(d + "/neg.tsv", "a\t-1\t1\t2\n");
  run::spit(d + "/low.tsv", "a\t0\t0.5\t2\n");
  ASSERT_EQ(symlink(in.c_str(), (d + "/link.tsv").c_str()), 0);
  ASSERT_EQ(link(in.c_str(), (d + "/hard.tsv").c_str()), 0);
  run::spit(d + "/bad.tsv", "h\nl\t1\t0\t2\t1\na\t0\t0\t1\t1\nb\t0\t1\t0\t1\n");
  struct c {
    std::vector<std::string> args;
    std::string says;  // part of the one-line message
  } cases[] = {
      {{in, d + "/missing.tsv", "0", "1", rec}, d + "/missing.tsv: cannot open"},
      {{in, d, "0", "1", rec}, d + ": read error"},
      {{in, ok, "x", "1", rec}, "START 'x'"},
      {{in, ok, "0", "1.5", rec}, "END '1.5'"},
      {{in, ok, "", "1", rec}, "START ''"},
      {{in, ok, "0", "2x", rec}, "END '2x'"},
      {{in, ok, "0", "99999999999", rec}, "END '99999999999'"},
      {{in, ok, "0", "3", rec}, "range 0..3"},
      {{in, ok, "-1", "1", rec}, "range -1..1"},
      {{in, d + "/low.tsv", "5", "10", rec}, "range 5..10 reaches outside the candidate positions 0..0"},
      {{in, d + "/far.tsv", "0", "2", rec}, d + "/far.tsv:2: probe number '2'"},
      {{in, d + "/neg.tsv", "0", "1", rec}, d + "/neg.tsv:1: probe number '-1'"},
      {{in, ok, "0", "1", in}, "output '" + in + "' is the input '" + in + "'"},
      {{in, ok, "0", "1", ok}, "output '" + ok + "' is the input '" + ok + "'"},
      {{in, ok, "0", "1", d + "/link.tsv"}, "output '" + d + "/link.tsv' is the input '" + in + "'"},
      {{in, ok, "0", "1", d + "/hard.tsv"}, "output '" + d + "/hard.tsv' is the input '" + in + "'"},
      {{in, ok, "0", "1", rec, "--bound", "2"}, "--bound '2' is not from 0 to 1"},
      {{in, ok, "0", "1", rec, "--shuffle-labels", "-1"}, "--shuffle-labels '-1'"},
      {{in, ok, "0", "1", d + "/no/dir/rec.tsv"}, d + "/no/dir/rec.tsv"},
      {{in, ok, "0", "1", d}, d + ": is a folder"},
      {{d + "/bad.tsv", ok, "0", "1", rec}, d + "/bad.tsv:2:"},
      {{d + "/missing.tsv", ok, "0", "1", rec}, d + "/missing.tsv: cannot open"},
  };
  for (const c& k : cases) {
    run::result r = run::prog(bin, k.args, d + "/run");
    EXPECT_EQ(r.status, 2) << k.says;
    EXPECT_EQ(r.out, "") << k.says;
    EXPECT_NE(r.err.find(k.says), std::string::npos) << r.err;
    EXPECT_EQ(r.err.compare(0, 13, "pair_search: "), 0) << r.err;
    EXPECT_FALSE(run::exists(rec)) << k.says;
  }
  EXPECT_EQ(run::slurp(in), four("1\t0\t0\t1"));  // inputs named as outputs are untouched
  // an existing record file is left exactly as it was
  run::spit(rec, "kept\n");
  run::result r = run::prog(bin, {in, ok, "0", "3", rec}, d + "/run");
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(run::slurp(rec), "kept\n");
}

TEST(PairSearch, FailedWriteLeavesWholeRecordsOnly) {
  const std::string d = run::fresh_dir("pair_wfail");
  // 40 samples on a coarse grid: every probe and pair splits, every pair has a record
  std::mt19937_64 rng(555);
  std::string tab = "h\nl";
  for (int s = 0; s < 40; ++s) tab += s % 2 ? "\t1" : "\t0";
  tab += "\n";
  for (int p = 0; p < 6; ++p) {
    tab += "g" + std::to_string(p);
    for (int s = 0; s < 40; ++s) tab += "\t" + std::to_string(rng() % 6 * 0.25);
    tab += "\n";
  }
  const std::string in = d + "/t.tsv", ranked = d + "/l.tsv";
  run::spit(in, tab);
  run::spit(ranked, cand_list({0, 1, 2, 3, 4, 5}));
  run::result whole = run::prog(bin, {in, ranked, "0", "6", d + "/whole.tsv"}, d + "/run");
  ASSERT_EQ(whole.status, 1) << whole.err;
  const std::string full = run::slurp(d + "/whole.tsv");
  ASSERT_GT(full.size(), 4096u);
  for (const char* thr : {"1", "3"}) {
    // a file size limit of 4 KiB stops the run inside some record
    std::string rec = d + "/rec" + thr;
    run::result r = run::sh("( trap '' XFSZ; ulimit -f 8; exec " + run::q(bin) + " -t " + thr + " " + run::q(in) +
                                " " + run::q(ranked) + " 0 6 " + run::q(rec) + " )",
                            d + "/run");
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(run::lines(r.err), 1) << r.err;
    EXPECT_NE(r.err.find(rec + ": write failed"), std::string::npos) << r.err;
    std::string got = run::slurp(rec);
    EXPECT_LE(got.size(), 4096u);
    EXPECT_GT(got.size(), 0u);
    // a prefix of the whole run, ending at a record boundary
    EXPECT_EQ(full.compare(0, got.size(), got), 0);
    EXPECT_EQ(run::lines(got) % 2, 0);
    EXPECT_EQ(got.back(), '\n');
    // progress stops at the last pair whose record (if any) reached the file
    EXPECT_EQ(whole.out.compare(0, r.out.size(), r.out), 0);
    EXPECT_LT(r.out.size(), whole.out.size());
  }
  run::result r = run::prog(bin, {in, ranked, "0", "6", "/dev/full"}, d + "/run");
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("/dev/full: write failed"), std::string::npos) << r.err;
}

TEST(PairSearch, ThreadCountsAndGzipGiveTheSameBytes) {
  const std::string d = run::fresh_dir("pair_thr");
  std::mt19937_64 rng(2024);
  gen::opts o;
  o.min_samp = 24;
  o.max_samp = 24;
  o.min_prob = 12;
  o.max_prob = 12;
  o.labels = gen::opts::lab_balanced;
  gen::table tab = gen::make(rng, o);
  const std::string in = d + "/t.tsv", ranked = d + "/l.tsv";
  run::spit(in, tab.text);
  run::spit_gz(d + "/t.gz", tab.text);
  std::vector<int> ps;
  for (int p = 0; p < 12; ++p) ps.push_back(p);
  run::spit(ranked, cand_list(ps));
  oracle::search_out want = oracle::pair_search(in, ranked, 2, 9);
  ASSERT_FALSE(want.records.empty());
  for (const char* t : {"1", "2", "3", "8", "0"}) {
    for (const std::string& table : {in, d + "/t.gz"}) {
      std::string rec = d + "/rec.tsv";
      std::remove(rec.c_str());
      run::result r = run::prog(bin, {"--threads=" + std::string(t), table, ranked, "2", "9", rec}, d + "/run");
      ASSERT_EQ(r.status, 1) << r.err;
      EXPECT_EQ(r.out, want.progress) << "threads " << t << " " << table;
      EXPECT_EQ(run::slurp(rec), want.records) << "threads " << t << " " << table;
    }
  }
}

TEST(PairSearch, MirrorResultsGiveTheSameBytes) {
  // a pair (j, i) may reuse the result of (i, j): with the cache off, partly
  // on (a budget of a few entries) and on, every range and thread count
  // writes the oracle's bytes; a flat probe has no partition with anyone
  const std::string d = run::fresh_dir("pair_mirror");
  std::mt19937_64 rng(4711);
  gen::table tab = gen::make(rng, gen::fixed(22, 9));
  std::string flat = "flat";
  for (int s = 0; s < tab.n_samp; ++s) flat += "\t1";
  const std::string in = d + "/t.tsv", ranked = d + "/l.tsv";
  run::spit(in, tab.text + flat + "\n");
  std::vector<std::string> names;
  for (int p = 0; p < tab.n_prob; ++p) names.push_back("g" + std::to_string(p));
  names.push_back("flat");
  std::vector<int> ps = {3, 9, 0, 7, 1, 8, 2, 6, 4, 5};
  run::spit(ranked, cand_list(ps, names));
  for (auto rg : {std::make_pair(0, 10), std::make_pair(2, 7), std::make_pair(5, 6)}) {
    oracle::search_out want = oracle::pair_search(in, ranked, rg.first, rg.second);
    ASSERT_FALSE(want.records.empty());
    core_load(in);
    std::vector<int> cand = read_cand(ranked, n_prob);
    ASSERT_EQ(cand.size(), ps.size());
    for (size_t budget : {size_t{0}, size_t{1000}, MIRROR_BYTES})
      for (int thr : {1, 2, 3, 8}) {
        const std::string rp = d + "/rec.tsv", pp = d + "/prog.txt";
        std::remove(rp.c_str());
        std::FILE* prog = std::fopen(pp.c_str(), "wb");
        ASSERT_NE(prog, nullptr);
        {
          rec_out rec(rp);
          run_search(cand, rg.first, rg.second, thr, rec, prog, {}, budget);
        }
        std::fclose(prog);
        std::string what = std::to_string(rg.first) + ".." + std::to_string(rg.second) + " budget " +
                           std::to_string(budget) + " threads " + std::to_string(thr);
        EXPECT_EQ(run::slurp(pp), want.progress) << what;
        EXPECT_EQ(run::slurp(rp), want.records) << what;
      }
  }
}

TEST(PairSearch, LiteralOptimizeMatchesOracleAndFastSearch) {
  // the step-by-step optimize, the oracle and the fast search write the same
  // record for every ordered pair, with either distance
  const std::string path = std::string(SYN_BINARY_DIR) + "/pair_lit.tsv";
  const std::string out = std::string(SYN_BINARY_DIR) + "/pair_lit_rec.tsv";
  work w;
  for (int t = 0; t < 30; ++t) {
    const uint64_t seed = 300 + t;
    std::mt19937_64 rng(seed);
    gen::opts o;
    o.max_samp = 14;
    o.max_prob = 4;
    gen::table tab = gen::make(rng, o);
    gen::write_file(path, tab.text);
    core_load(path);
    oracle::load(path);
    work_init(w);
    std::vector<part> sp(n_prob);
    for (int p = 0; p < n_prob; ++p) sin_part(p, w, sp[p]);
    for (int sel = 0; sel < 2; ++sel)
      for (int a = 0; a < n_prob; ++a)
        for (int b = 0; b < n_prob; ++b) {
          std::string want;
          int ro = oracle::optimize(a, b, sel, want);
          std::remove(out.c_str());
          ASSERT_EQ(optimize(a, b, sel, out.c_str()), ro) << "seed " << seed;
          ASSERT_EQ(run::slurp(out), want) << "seed " << seed << " pair " << a << "," << b << " sel " << sel;
          if (ro < 0) {
            ASSERT_FALSE(run::exists(out));
          }
          pair_res res;
          ASSERT_EQ(flip_search(a, b, sel, sp[a], sp[b], w, res), ro) << "seed " << seed;
          if (ro > 0) {
            ASSERT_EQ(pair_record(a, b, res.best, res.lab.data(), res.cid.data()), want) << "seed " << seed;
          }
        }
  }
}

// The ordered parallel loop under both programs.
TEST(ParOrdered, EmitsInOrderAndNeverRunsAheadOfTheWindow) {
  for (int nt : {1, 2, 3, 8})
    for (long window : {1L, 3L, 16L}) {
      const long n = 300;
      std::vector<std::atomic<int>> done(n);
      std::atomic<long> emitted{0};
      std::atomic<int> ahead{0};
      std::vector<long> order;
      par_ordered(
          n, nt, window,
          [&](long i, int tid) {
            if (i >= emitted.load() + window || tid < 0 || tid >= nt) ahead = 1;
            std::this_thread::sleep_for(std::chrono::microseconds((i * 7919) % 50));
            done[i] = 1;
          },
          [&](long i) {
            if (!done[i]) ahead = 2;
            order.push_back(i);
            emitted = i + 1;
          });
      ASSERT_EQ(ahead.load(), 0) << "threads " << nt << " window " << window;
      ASSERT_EQ(static_cast<long>(order.size()), n);
      for (long i = 0; i < n; ++i) ASSERT_EQ(order[i], i);
    }
  int calls = 0;
  par_ordered(0, 4, 8, [&](long, int) { ++calls; }, [&](long) { ++calls; });
  EXPECT_EQ(calls, 0);
}

TEST(ParOrdered, AFailedJobSurfacesAfterEveryEarlierItem) {
  for (int nt : {1, 2, 8}) {
    std::vector<long> order;
    try {
      par_ordered(
          1000, nt, 16,
          [&](long i, int) {
            if (i == 37 || i == 40) throw syn_error("job " + std::to_string(i));
          },
          [&](long i) { order.push_back(i); });
      ADD_FAILURE() << "no error";
    } catch (const syn_error& e) {
      EXPECT_STREQ(e.what(), "job 37");
    }
    ASSERT_EQ(order.size(), 37u) << "threads " << nt;
    for (long i = 0; i < 37; ++i) EXPECT_EQ(order[i], i);
  }
  // an error while emitting stops the workers too
  for (int nt : {1, 3}) {
    long last = -1;
    EXPECT_THROW(par_ordered(
                     100000, nt, 4, [](long, int) {},
                     [&](long i) {
                       last = i;
                       if (i == 10) throw syn_error("full");
                     }),
                 syn_error);
    EXPECT_EQ(last, 10);
  }
}

TEST(PairSearch, AKilledRunLeavesWholeRecords) {
  // killed at assorted moments, the record file is always a prefix of the
  // uninterrupted run's that ends at a record boundary
  const std::string d = run::fresh_dir("pair_kill");
  const std::string in = std::string(SYN_SOURCE_DIR) + "/examples/all_bcr_abl_500.tsv";
  std::vector<int> ps;
  for (int p = 0; p < 500; ++p) ps.push_back(p);
  oracle::load(in);
  run::spit(d + "/l.tsv", cand_list(ps, oracle::names()));
  run::result whole = run::prog(bin, {in, d + "/l.tsv", "0", "3", d + "/whole.tsv"}, d + "/run");
  ASSERT_EQ(whole.status, 1) << whole.err;
  const std::string full = run::slurp(d + "/whole.tsv");
  int cut_short = 0;
  for (int k = 0; k < 12; ++k) {
    std::string rec = d + "/rec" + std::to_string(k);
    char delay[16];
    std::snprintf(delay, sizeof delay, "0.%03d", 5 + 9 * k);
    run::result r = run::sh(run::q(bin) + " -t " + std::to_string(1 + k % 2) + " " + run::q(in) + " " +
                                run::q(d + "/l.tsv") + " 0 3 " + run::q(rec) + " > /dev/null & pid=$!; sleep " +
                                delay + "; kill -9 $pid 2>/dev/null; wait $pid; true",
                            d + "/run");
    std::string got = run::exists(rec) ? run::slurp(rec) : "";
    cut_short += got.size() < full.size();
    ASSERT_EQ(full.compare(0, got.size(), got), 0) << "kill " << k;
    ASSERT_EQ(run::lines(got) % 2, 0) << "kill " << k;
    if (!got.empty()) {
      ASSERT_EQ(got.back(), '\n') << "kill " << k;
    }
  }
  EXPECT_GT(cut_short, 0);  // some kills landed inside the run
}

// --shuffle-labels SEED gives exactly the run on a table whose label line was
// permuted by the same seeded shuffle (shuffle_phe), in both programs.
TEST(PairSearch, ShuffledLabelsEqualAPermutedTable) {
  const std::string d = run::fresh_dir("pair_shuffle");
  std::mt19937_64 rng(4242);
  gen::opts o = gen::fixed(20, 8);
  o.p_crlf = o.p_no_final_nl = 0;
  gen::table tab = gen::make(rng, o);
  const std::string in = d + "/t.tsv", perm = d + "/p.tsv";
  run::spit(in, tab.text);
  for (const char* seed : {"0", "7", "18446744073709551615"}) {
    core_load(in);
    shuffle_phe(std::stoull(seed));
    std::string text = tab.text, lab = "label";
    for (int s = 0; s < n_samp; ++s) lab += "\t" + std::to_string(phe[s]);
    size_t a = text.find('\n') + 1, b = text.find('\n', a);
    text.replace(a, b - a, lab);
    run::spit(perm, text);
    ASSERT_NE(text, tab.text);
    std::vector<std::string> shuf = {"--shuffle-labels", seed};
    auto with = [&](std::vector<std::string> x, bool sh) {
      if (sh) x.insert(x.end(), shuf.begin(), shuf.end());
      return x;
    };
    run::result r1 = run::prog(rank_bin, with({"-q", in, d + "/r1.tsv"}, true), d + "/run");
    run::result r2 = run::prog(rank_bin, with({"-q", perm, d + "/r2.tsv"}, false), d + "/run");
    ASSERT_EQ(r1.status, 1) << r1.err;
    ASSERT_EQ(r2.status, 1) << r2.err;
    ASSERT_EQ(run::slurp(d + "/r1.tsv"), run::slurp(d + "/r2.tsv")) << seed;
    int n = static_cast<int>(read_cand(d + "/r2.tsv", -1).size());
    std::remove((d + "/s1.tsv").c_str());
    std::remove((d + "/s2.tsv").c_str());
    r1 = run::prog(bin, with({"-q", in, d + "/r1.tsv", "0", std::to_string(n), d + "/s1.tsv"}, true), d + "/run");
    r2 = run::prog(bin, with({"-q", perm, d + "/r2.tsv", "0", std::to_string(n), d + "/s2.tsv"}, false), d + "/run");
    ASSERT_EQ(r1.status, 1) << r1.err;
    EXPECT_EQ(r1.out, r2.out) << seed;
    EXPECT_EQ(run::slurp(d + "/s1.tsv"), run::slurp(d + "/s2.tsv")) << seed;
    EXPECT_EQ(run::slurp(d + "/s2.tsv"), oracle::pair_search(perm, d + "/r2.tsv", 0, n).records) << seed;
  }
}
