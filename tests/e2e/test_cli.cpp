// Command lines of probe_rank and pair_search: help, version, option forms,
// usage errors, and the progress display that only a terminal sees.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "run_prog.h"

namespace {

const std::string rank_bin = PROBE_RANK_BIN;
const std::string pair_bin = PAIR_SEARCH_BIN;

const char* const table =
    "id\ts0\ts1\ts2\ts3\n"
    "label\t1\t0\t0\t1\n"
    "a\t0\t0\t1\t1\n"
    "b\t0\t1\t0\t1\n";

struct cli : ::testing::Test {
  std::string d;
  void SetUp() override {
    d = run::fresh_dir(std::string("cli_") + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    run::spit(d + "/t.tsv", table);
    run::spit(d + "/l.tsv", "a\t0\t1\t2\nb\t1\t1\t2\n");
  }
  run::result rank(const std::vector<std::string>& a) { return run::prog(rank_bin, a, d + "/run"); }
  run::result pair(const std::vector<std::string>& a) { return run::prog(pair_bin, a, d + "/run"); }
};

// A usage error: status 2, nothing on stdout, a reason and the usage line on stderr.
void expect_usage(const run::result& r, const std::string& reason) {
  EXPECT_EQ(r.status, 2) << reason;
  EXPECT_EQ(r.out, "") << reason;
  EXPECT_NE(r.err.find(reason), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("usage: "), std::string::npos) << r.err;
}

}  // namespace

TEST_F(cli, HelpListsEveryOption) {
  for (const char* h : {"-h", "--help"}) {
    run::result r = rank({h});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    for (const char* o : {"-t, --threads N", "-q, --quiet", "-h, --help", "--version", "EXPR OUT", "Exit status"})
      EXPECT_NE(r.out.find(o), std::string::npos) << "probe_rank " << h << " lacks " << o;
    r = pair({h});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    for (const char* o : {"-t, --threads N", "-q, --quiet", "--count-candidates R", "-h, --help", "--version",
                          "EXPR RANKED START END RECORDS", "Exit status"})
      EXPECT_NE(r.out.find(o), std::string::npos) << "pair_search " << h << " lacks " << o;
  }
  // help wins wherever it stands among the options, and nothing runs
  run::result r = rank({"-q", "--help", d + "/t.tsv", d + "/r.tsv"});
  EXPECT_EQ(r.status, 0);
  EXPECT_FALSE(run::exists(d + "/r.tsv"));
}

TEST_F(cli, Version) {
  run::result r = rank({"--version"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "probe_rank 1.0.0\n");
  r = pair({"--version"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "pair_search 1.0.0\n");
}

TEST_F(cli, UsageErrors) {
  expect_usage(rank({}), "missing arguments");
  expect_usage(rank({d + "/t.tsv"}), "missing arguments");
  expect_usage(rank({d + "/t.tsv", d + "/r.tsv", "extra"}), "too many arguments");
  expect_usage(rank({"-x", d + "/t.tsv", d + "/r.tsv"}), "unknown option '-x'");
  expect_usage(rank({"--thread", "2", d + "/t.tsv", d + "/r.tsv"}), "unknown option '--thread'");
  expect_usage(rank({d + "/t.tsv", d + "/r.tsv", "-q=1"}), "unknown option '-='");
  expect_usage(rank({"--quiet=yes", d + "/t.tsv", d + "/r.tsv"}), "option --quiet takes no value");
  expect_usage(rank({"--shuffle-labels", "1.5", d + "/t.tsv", d + "/r.tsv"}), "--shuffle-labels '1.5'");
  expect_usage(rank({"--shuffle-labels", "18446744073709551616", d + "/t.tsv", d + "/r.tsv"}),
               "--shuffle-labels '18446744073709551616'");
  EXPECT_FALSE(run::exists(d + "/r.tsv"));

  expect_usage(pair({}), "missing arguments");
  expect_usage(pair({d + "/t.tsv", d + "/l.tsv", "0", "1"}), "missing arguments");
  expect_usage(pair({d + "/t.tsv", d + "/l.tsv", "0", "1", d + "/rec.tsv", "x"}), "too many arguments");
  expect_usage(pair({"--bogus", d + "/t.tsv", d + "/l.tsv", "0", "1", d + "/rec.tsv"}), "unknown option '--bogus'");
  expect_usage(pair({"--count-candidates"}), "needs a value R");
  expect_usage(pair({"--bound", "x", "--count-candidates", d + "/l.tsv"}), "--bound 'x' is not a number");
  expect_usage(pair({"--count-candidates", d + "/l.tsv", "more"}), "takes no further arguments");
  EXPECT_FALSE(run::exists(d + "/rec.tsv"));
}

TEST_F(cli, ThreadOptionForms) {
  std::string first;
  for (std::vector<std::string> t : {std::vector<std::string>{"-t", "2"}, {"-t2"}, {"--threads", "3"},
                                     {"--threads=8"}, {"-t", "0"}, {"-q", "-t", "1"}, {"--quiet"}}) {
    std::vector<std::string> a = t;
    a.push_back(d + "/t.tsv");
    a.push_back(d + "/r.tsv");
    run::result r = rank(a);
    EXPECT_EQ(r.status, 1) << t[0] << " " << r.err;
    std::string got = run::slurp(d + "/r.tsv");
    if (first.empty()) first = got;
    EXPECT_EQ(got, first) << t[0];

    a = t;
    for (const char* x : {"t.tsv", "l.tsv"}) a.push_back(d + "/" + x);
    a.push_back("0");
    a.push_back("2");
    a.push_back(d + "/rec.tsv");
    r = pair(a);
    EXPECT_EQ(r.status, 1) << t[0] << " " << r.err;
    EXPECT_EQ(r.out, "0\t0\n0\t1\n1\t0\n1\t1\n") << t[0];
  }
  for (const char* bad : {"-1", "x", "", "2x", "1025", "99999999999"}) {
    expect_usage(rank({"-t", bad, d + "/t.tsv", d + "/r.tsv"}), std::string("thread count '") + bad + "'");
    expect_usage(pair({"--threads", bad, d + "/t.tsv", d + "/l.tsv", "0", "1", d + "/rec2.tsv"}),
                 std::string("thread count '") + bad + "'");
  }
  expect_usage(rank({"-t"}), "needs a value N");
  EXPECT_FALSE(run::exists(d + "/rec2.tsv"));
}

// Options may stand before, between or after the arguments; "--" ends them.
TEST_F(cli, OptionsAnywhere) {
  run::result r = rank({d + "/t.tsv", "-t", "2", d + "/r.tsv", "-q"});
  EXPECT_EQ(r.status, 1) << r.err;
  std::string want = run::slurp(d + "/r.tsv");
  EXPECT_EQ(rank({"-qt2", d + "/t.tsv", d + "/r2.tsv"}).status, 1);
  EXPECT_EQ(run::slurp(d + "/r2.tsv"), want);
  r = pair({d + "/t.tsv", d + "/l.tsv", "-t2", "0", "2", d + "/rec.tsv", "--quiet"});
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_EQ(r.out, "0\t0\n0\t1\n1\t0\n1\t1\n");
  r = pair({d + "/l.tsv", "--count-candidates"});
  EXPECT_EQ(r.status, 2);  // the option takes the next word as its value, here none
}

TEST_F(cli, DoubleDashEndsOptions) {
  // a table whose name starts with a dash
  run::spit(d + "/-t.tsv", table);
  run::result r = run::sh("cd " + run::q(d) + " && " + run::q(rank_bin) + " -- -t.tsv r.tsv", d + "/run");
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_TRUE(run::exists(d + "/r.tsv"));
}

TEST_F(cli, CountCandidates) {
  run::spit(d + "/l3.tsv", "a\t0\t0.99\t2\nb\t1\t0.98\t2\nc\t2\t0.5\t2\nd\t3\t0.99\t2\n");
  run::result r = pair({"--count-candidates", d + "/l3.tsv"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "2\n");
  EXPECT_EQ(r.err, "");
  r = pair({"--count-candidates=" + d + "/l3.tsv"});
  EXPECT_EQ(r.out, "2\n");
  r = pair({"--count-candidates", d + "/missing.tsv"});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find(d + "/missing.tsv: cannot open"), std::string::npos) << r.err;
}

TEST_F(cli, ProgressOnlyOnATerminal) {
  // files and pipes: stderr stays empty (every other test checks it too)
  run::result r = rank({d + "/t.tsv", d + "/r.tsv"});
  EXPECT_EQ(r.err, "");
  // a terminal: run under script(1), which gives the program a pseudo-terminal
  if (run::sh("command -v script", d + "/run").status != 0) GTEST_SKIP() << "script(1) not installed";
  auto on_tty = [&](const std::string& cmd) {
    return run::sh("script -qec " + run::q(cmd) + " /dev/null", d + "/run");
  };
  std::string rk = run::q(rank_bin) + " " + run::q(d + "/t.tsv") + " " + run::q(d + "/r.tsv");
  std::string ps = run::q(pair_bin) + " " + run::q(d + "/t.tsv") + " " + run::q(d + "/l.tsv") + " 0 2 " +
                   run::q(d + "/rec.tsv");
  // stdout goes to a file, so only the display reaches the terminal
  r = on_tty(rk + " 2>&1");
  EXPECT_NE(r.out.find("2/2 probes scored"), std::string::npos) << r.out;
  // the last redraw is whole: nothing of an earlier, longer line (its time
  // left) stays after it
  std::string last = r.out.substr(r.out.rfind('\r', r.out.rfind("probes scored")) + 1);
  EXPECT_EQ(last.find("left"), std::string::npos) << last;
  r = on_tty(ps + " > " + run::q(d + "/prog.txt"));
  EXPECT_NE(r.out.find("4/4 pairs"), std::string::npos) << r.out;
  EXPECT_EQ(run::slurp(d + "/prog.txt"), "0\t0\n0\t1\n1\t0\n1\t1\n");
  // -q silences it
  r = on_tty(run::q(rank_bin) + " -q " + run::q(d + "/t.tsv") + " " + run::q(d + "/r.tsv"));
  EXPECT_EQ(r.out.find("probes scored"), std::string::npos) << r.out;
  std::remove((d + "/rec.tsv").c_str());
  r = on_tty(run::q(pair_bin) + " -q " + run::q(d + "/t.tsv") + " " + run::q(d + "/l.tsv") + " 0 2 " +
             run::q(d + "/rec.tsv") + " > /dev/null");
  EXPECT_EQ(r.out.find("pairs"), std::string::npos) << r.out;
}

// The note on a table that does not look like log-scale expression: for the
// example made linear or z-scored, not for it on the log2, natural-log or log10
// scale; -q silences it, and the list is what it would be without the note.
TEST_F(cli, ScaleNote) {
  const std::string src = run::slurp(std::string(SYN_SOURCE_DIR) + "/examples/all_bcr_abl_500.tsv");
  struct scale {
    const char* name;
    double (*f)(double x, double mean, double sd);
    bool note;
  };
  const std::vector<scale> scales = {
      {"log2", [](double x, double, double) { return x; }, false},
      {"ln", [](double x, double, double) { return x * std::log(2.0); }, false},
      {"log10", [](double x, double, double) { return x * std::log10(2.0); }, false},
      {"linear", [](double x, double, double) { return std::pow(2.0, x); }, true},
      {"z", [](double x, double m, double s) { return (x - m) / s; }, true},
  };
  for (const scale& sc : scales) {
    std::istringstream in(src);
    std::string out, line;
    for (int n = 0; std::getline(in, line); ++n) {
      if (n < 2 || line.empty()) {
        out += line + "\n";
        continue;
      }
      std::vector<double> v;
      std::istringstream f(line.substr(line.find('\t') + 1));
      for (std::string x; std::getline(f, x, '\t');) v.push_back(std::stod(x));
      double m = 0, ss = 0;
      for (double x : v) m += x / v.size();
      for (double x : v) ss += (x - m) * (x - m);
      out += line.substr(0, line.find('\t'));
      for (double x : v) out += "\t" + std::to_string(sc.f(x, m, std::sqrt(ss / (v.size() - 1))));
      out += "\n";
    }
    run::spit(d + "/s.tsv", out);
    run::result r = rank({d + "/s.tsv", d + "/r.tsv"});
    EXPECT_EQ(r.status, 1) << sc.name << r.err;
    EXPECT_EQ(r.err.find("not log-scale expression") != std::string::npos, sc.note)
        << sc.name << ": " << r.err;
    const std::string list = run::slurp(d + "/r.tsv");
    r = rank({"-q", d + "/s.tsv", d + "/r.tsv"});
    EXPECT_EQ(r.err, "") << sc.name;
    EXPECT_EQ(run::slurp(d + "/r.tsv"), list) << sc.name;
  }
}
