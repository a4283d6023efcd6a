// Labels from a sample sheet (--pheno): every output byte for byte that of
// the same table with a 0/1 label line, and bad sheets stopped with one line.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "run_prog.h"

namespace {

const std::string example = std::string(SYN_SOURCE_DIR) + "/examples/all_bcr_abl_500.tsv";

std::vector<std::string> split(const std::string& s, char c) {
  std::vector<std::string> v;
  std::stringstream in(s);
  for (std::string x; std::getline(in, x, c);) v.push_back(x);
  return v;
}

// The example without its label line (one column more, "extra", a copy of
// the first sample's values, when `extra`), and a sheet of its samples in
// another order: mol.biol BCR/ABL for label 1, NEG for 0, ALL1/AF4 for extra.
struct sheet_case {
  std::string table, sheet;
};
sheet_case make_case(const std::string& d, bool extra) {
  std::vector<std::string> lines = split(run::slurp(example), '\n');
  std::vector<std::string> head = split(lines[0], '\t'), lab = split(lines[1], '\t');
  std::string t, s = "sample\tage\tmol.biol\n";
  for (size_t k = lab.size() - 1; k >= 1; --k)
    s += head[k] + "\t40\t" + (lab[k] == "1" ? "BCR/ABL\n" : "NEG\n");
  if (extra) s += "extra\t50\tALL1/AF4\n";
  for (size_t n = 0; n < lines.size(); ++n) {
    if (n == 1) continue;
    std::vector<std::string> f = split(lines[n], '\t');
    if (f.empty()) continue;
    t += lines[n] + (extra ? "\t" + (n == 0 ? std::string("extra") : f[1]) : "") + "\n";
  }
  sheet_case c{d + (extra ? "/x.tsv" : "/t.tsv"), d + (extra ? "/xs.tsv" : "/s.tsv")};
  run::spit(c.table, t);
  run::spit(c.sheet, s);
  return c;
}

}  // namespace

TEST(sheet, SameOutputsAsALabelLine) {
  const std::string d = run::fresh_dir("sheet_same");
  const sheet_case plain = make_case(d, false), extra = make_case(d, true);
  // the label line, the sheet with and without --control, and a sample of a third class left out
  struct way {
    const char* tag;
    std::string table;
    std::vector<std::string> opts;
  };
  const std::vector<std::string> sh = {"--pheno", plain.sheet, "--column", "mol.biol", "--case", "BCR/ABL"};
  std::vector<std::string> ctl = sh, drop = {"--pheno", extra.sheet, "--column", "mol.biol",    "--case",
                                             "BCR/ABL", "--control", "NEG",      "--drop-other"};
  ctl.insert(ctl.end(), {"--control", "NEG"});
  const std::vector<way> ways = {
      {"l", example, {}}, {"a", plain.table, sh}, {"b", plain.table, ctl}, {"c", extra.table, drop}};
  for (const way& w : ways) {
    const std::string p = d + "/" + w.tag;
    auto run = [&](const std::string& bin, std::vector<std::string> a) {
      a.insert(a.end(), w.opts.begin(), w.opts.end());
      return run::prog(bin, a, p + ".run");
    };
    EXPECT_EQ(run(PROBE_RANK_BIN, {"-q", w.table, p + ".ranked"}).status, 1) << w.tag;
    EXPECT_EQ(run(PAIR_SEARCH_BIN, {"-q", w.table, p + ".ranked", "0", "5", p + ".rec"}).status, 1) << w.tag;
    EXPECT_EQ(
        run(PAIR_SIGNIF_BIN, {"-q", "--perm", "2000", w.table, p + ".ranked", p + ".rec", p + ".sig"}).status,
        0)
        << w.tag;
    EXPECT_EQ(
        run(PAIR_REPORT_BIN, {"-q", "--tsv", p + ".pairs", w.table, p + ".ranked", p + ".rec", p + ".html"})
            .status,
        0)
        << w.tag;
    if (w.tag[0] == 'l') continue;
    for (const char* f : {".ranked", ".rec", ".sig", ".pairs"})
      EXPECT_EQ(run::table(run::slurp(d + "/l" + f)), run::table(run::slurp(p + f))) << w.tag << f;
    // the page names the two classes
    EXPECT_NE(run::slurp(p + ".html").find("37 BCR/ABL, 42 NEG"), std::string::npos) << w.tag;
  }
  EXPECT_NE(run::slurp(d + "/l.html").find("37 with label 1, 42 with label 0"), std::string::npos);
  EXPECT_GT(run::lines(run::slurp(d + "/l.rec")), 0);
}

TEST(sheet, BadSheetsStopWithOneLine) {
  const std::string d = run::fresh_dir("sheet_bad");
  run::spit(d + "/t.tsv", "probe\tA\tB\tC\tD\ng1\t1\t2\t3\t4\ng2\t4\t3\t2\t1\n");
  struct bad {
    const char* what;
    std::string sheet;
    std::vector<std::string> extra;  // further options
    const char* reason;
  };
  const std::string head = "sample\tgroup\n";
  const std::vector<bad> cases = {
      {"sample missing",
       head + "A\tx\nB\ty\nC\tx\n",
       {},
       "t.tsv:1: sample 'D' (field 5) is not in the sample sheet"},
      {"unknown value",
       head + "A\tx\nB\ty\nC\tz\nD\ty\n",
       {"--control", "y"},
       "s.tsv:4: sample 'C': group is 'z'"},
      {"empty value", head + "A\tx\nB\t\nC\tx\nD\ty\n", {}, "s.tsv:3: sample 'B': group is ''"},
      {"duplicate",
       head + "A\tx\nB\ty\nA\tx\nC\tx\nD\ty\n",
       {},
       "s.tsv:4: sample 'A' is listed again (first on line 2)"},
      {"column missing", "sample\tgrp\nA\tx\n", {}, "s.tsv:1: no column 'group' in the header"},
      {"short line", head + "A\tx\nB\n", {}, "s.tsv:3: 1 fields, but column 'group' is field 2"},
  };
  for (const bad& b : cases) {
    run::spit(d + "/s.tsv", b.sheet);
    std::vector<std::string> a = {"--pheno", d + "/s.tsv", "--column", "group", "--case", "x"};
    a.insert(a.end(), b.extra.begin(), b.extra.end());
    a.insert(a.end(), {d + "/t.tsv", d + "/r.tsv"});
    run::result r = run::prog(PROBE_RANK_BIN, a, d + "/run");
    EXPECT_EQ(r.status, 2) << b.what;
    EXPECT_NE(r.err.find(b.reason), std::string::npos) << b.what << ": " << r.err;
    EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << b.what << ": not one line";
    EXPECT_FALSE(run::exists(d + "/r.tsv")) << b.what;
  }
  // the options go together: usage errors
  for (const auto& a :
       std::vector<std::vector<std::string>>{{"--case", "x"}, {"--pheno", d + "/s.tsv", "--case", "x"}}) {
    std::vector<std::string> args = a;
    args.insert(args.end(), {d + "/t.tsv", d + "/r.tsv"});
    run::result r = run::prog(PROBE_RANK_BIN, args, d + "/run");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("need"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("usage: probe_rank"), std::string::npos) << r.err;
  }
}
