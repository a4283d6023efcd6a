// Expression file reader: field and line rules, gzip input, and the input check.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "gen.h"
#include "line_src.h"
#include "synergy.h"

namespace {

std::string tmp_path(const std::string& name) { return std::string(SYN_BINARY_DIR) + "/reader_" + name; }


// Write text to a scratch file and read it into the core; returns the path.
std::string load(const std::string& name, const std::string& text) {
  std::string path = tmp_path(name);
  gen::write_file(path, text);
  reset_exp();
  read_exp(path.c_str());
  return path;
}

// check_exp's message for text, or "" when it accepts the table.
std::string check_msg(const std::string& name, const std::string& text) {
  std::string path = load(name, text);
  try {
    check_exp(path.c_str());
  } catch (const syn_error& e) {
    return e.what();
  }
  return "";
}

using dvec = std::vector<double>;
using ivec = std::vector<int>;

// ---- label line -----------------------------------------------------------------

TEST(ReaderLabels, OneLabelPerFieldAfterCaption) {
  load("lab1.tsv", "h\nlab\t1\t0\t1\n");
  EXPECT_EQ(n_samp, 3);
  EXPECT_EQ(phe, (ivec{1, 0, 1}));
  EXPECT_EQ(n_prob, 0);
}

// read_exp's message for text, or "" when it reads the table.
std::string read_msg(const std::string& name, const std::string& text) {
  try {
    load(name, text);
  } catch (const syn_error& e) {
    return e.what();
  }
  return "";
}

// A label is 0 or 1 in full: what atoi would have read as 0 or as its
// leading digits is an error naming line 2, the sample and the field.
TEST(ReaderLabels, OnlyZeroOrOneInFull) {
  load("lab3.tsv", "h\nlab\t 1\t0 \t1\r\n");  // blanks and the final carriage return are allowed
  EXPECT_EQ(phe, (ivec{1, 0, 1}));
  struct bad {
    const char* field;
    const char* says;
  } cases[] = {
      {"1.7", "'1.7', expected 0 or 1"}, {"", "is empty"},        {"+1", "'+1'"},     {"x1", "'x1'"},
      {"01", "'01'"},                    {"TRUE", "'TRUE'"},      {"case", "'case'"}, {"yes", "'yes'"},
      {"1a", "'1a'"},                    {"2", "'2'"},            {"-1", "'-1'"},     {"1 0", "tab-separated?"},
  };
  for (const bad& c : cases) {
    std::string msg = read_msg("labx.tsv", std::string("h\nlab\t0\t") + c.field + "\t1\ng0\t1\t2\t3\n");
    EXPECT_NE(msg.find(tmp_path("labx.tsv") + ":2: label of sample 1 (field 3)"), std::string::npos) << msg;
    EXPECT_NE(msg.find(c.says), std::string::npos) << c.field << ": " << msg;
  }
  // a tab at the end of the line would add a phantom sample
  std::string msg = read_msg("lab2.tsv", "h\nlab\t1\t0\t1\t\n");
  EXPECT_NE(msg.find("label of sample 3 (field 5) is empty"), std::string::npos) << msg;
  EXPECT_NE(msg.find("a tab at the end of the line?"), std::string::npos) << msg;
}

TEST(ReaderLabels, EmptyOrTablessLabelLineGivesNoSamples) {
  load("lab4.tsv", "h\n\ng0\t1\n");
  EXPECT_EQ(n_samp, 0);
  EXPECT_EQ(n_prob, 1);
  load("lab5.tsv", "h\nlabels 1 0 1\ng0\t1\n");
  EXPECT_EQ(n_samp, 0);
}

TEST(ReaderLabels, HeaderContentIsIgnored) {
  load("hdr1.tsv", "\nlab\t0\t1\ng0\t1\t2\n");
  EXPECT_EQ(n_samp, 2);
  load("hdr2.tsv", "a\tb\tc\td\te\tf\tg\nlab\t0\t1\ng0\t1\t2\n");
  EXPECT_EQ(n_samp, 2);
  EXPECT_EQ(expr, (std::vector<dvec>{{1, 2}}));
}

// ---- probe rows -------------------------------------------------------------------

TEST(ReaderRows, NamesAndValuesInOrder) {
  load("row1.tsv", "h\nlab\t0\t1\t0\nprobe one\t0.5\t-1.25\t3e-2\ng2\t +0.5\t5e-1 \t0x1p-1\n");
  ASSERT_EQ(n_prob, 2);
  EXPECT_EQ(probe, (std::vector<std::string>{"probe one", "g2"}));
  EXPECT_EQ(expr[0], (dvec{0.5, -1.25, 0.03}));
  EXPECT_EQ(expr[1], (dvec{0.5, 0.5, 0.5}));  // spellings of one number, blanks around allowed
}

// A value among the first n_samp of a row is a number in full; what atof
// would have read as 0 or as its leading digits is an error naming the
// line, the probe, the sample and the field.
TEST(ReaderRows, ValuesAreNumbersInFull) {
  struct bad {
    const char* field;
    const char* says;
  } cases[] = {
      {"NA", "'NA' is not a number"}, {"abc", "'abc' is not a number"}, {"4,5", "decimal comma?"},
      {"4.5%", "'4.5%'"},             {"5.0x", "'5.0x'"},               {"", "is empty"},
      {" ", "is empty"},              {"1 2", "'1 2'"},                 {"\x0b" "1", "not a number"},
  };
  for (const bad& c : cases) {
    std::string msg = read_msg("val.tsv", std::string("h\nlab\t0\t1\t0\ng0\t1\t2\t3\ng1\t1\t") + c.field + "\t3\n");
    EXPECT_NE(msg.find(tmp_path("val.tsv") + ":4: probe 'g1', sample 1 (field 3): value "), std::string::npos)
        << msg;
    EXPECT_NE(msg.find(c.says), std::string::npos) << c.field << ": " << msg;
    EXPECT_EQ(msg.find('\n'), std::string::npos) << msg;
  }
  // an annotation column after the names is not one more sample
  std::string msg = read_msg("annot.tsv", "h\nlab\t0\t1\ng0\tkinase\t1\t2\n");
  EXPECT_NE(msg.find(":3: probe 'g0', sample 0 (field 2): value 'kinase' is not a number"), std::string::npos)
      << msg;
  // the last field may end with the line's carriage return, no other field may
  EXPECT_EQ(read_msg("cr.tsv", "h\nlab\t0\t1\ng0\t1\t2\r\n"), "");
  EXPECT_NE(read_msg("cr2.tsv", "h\nlab\t0\t1\t1\ng0\t1\t2\r\t3\n").find("sample 1"), std::string::npos);
  // fields beyond the samples are never read, so never judged
  EXPECT_EQ(read_msg("extra.tsv", "h\nlab\t0\t1\ng0\t1\t2\tNA\tx\n"), "");
}

// Numbers take a faster reading than strtod where they can: every field must
// give strtod's double, bit for bit, and strtod's verdict.
TEST(ReaderRows, NumbersReadAsStrtodReadsThem) {
  std::vector<std::string> fields = {"0",      "-0",       "1",          "-1.5",    ".5",     "5.",       "1e5",
                                     "1E-5",   "+3",       "0x1p3",      "inf",     "-nan",   "1e400",    "-1e400",
                                     "1e-320", "4.9e-324", "2.5e-324",   "1e-400",  "1.7976931348623157e308",
                                     "-",      ".",        "1e",         "1e+",     "00012.50", "9007199254740993",
                                     "0.1000000000000000055511151231257827", "1,5", "--1", "1.2.3"};
  std::mt19937_64 rng(7);
  for (int k = 0; k < 3000; ++k) {
    // random decimals: long mantissas, exponents across the whole range
    std::string f = rng() % 3 ? "" : "-";
    int digits = 1 + static_cast<int>(rng() % 25);
    for (int d = 0; d < digits; ++d) f += static_cast<char>('0' + rng() % 10);
    if (rng() % 2) f.insert(1 + rng() % f.size(), ".");
    if (rng() % 2) f += "e" + std::to_string(static_cast<int>(rng() % 700) - 350);
    fields.push_back(f);
  }
  for (const std::string& f : fields) {
    double v = -7.0;
    num_kind r = num_field(f, false, v);
    char* end = nullptr;
    double w = std::strtod(f.c_str(), &end);
    bool whole = !f.empty() && end == f.c_str() + f.size();
    EXPECT_EQ(r == num_kind::ok, whole) << f;
    if (r == num_kind::ok && whole) {
      uint64_t a, b;
      std::memcpy(&a, &v, 8);
      std::memcpy(&b, &w, 8);
      EXPECT_EQ(a, b) << f;
    }
  }
}

TEST(ReaderRows, TrailingTabAddsAValueZeroAndExtraValuesAreKept) {
  load("row2.tsv", "h\nlab\t0\t1\ng0\t1\t2\t\ng1\t1\t2\t3\t4\n");
  EXPECT_EQ(expr[0], (dvec{1, 2, 0}));
  EXPECT_EQ(expr[1], (dvec{1, 2, 3, 4}));
}

TEST(ReaderRows, ShortLinesAreSkippedAndNumbersStayConsecutive) {
  load("row3.tsv", "h\nlab\t0\t1\n\ng0\t1\t2\nx\n\n \ng1\t3\t4\n\t\ng2\t5\t6\n");
  ASSERT_EQ(n_prob, 3);
  EXPECT_EQ(probe, (std::vector<std::string>{"g0", "g1", "g2"}));
  EXPECT_EQ(expr[2], (dvec{5, 6}));
  EXPECT_EQ(p_line, (std::vector<int64_t>{4, 8, 10}));  // file lines, for messages
}

TEST(ReaderRows, TablessRowIsAProbeWithoutValues) {
  load("row4.tsv", "h\nlab\ng0\nab\n");
  ASSERT_EQ(n_prob, 2);
  EXPECT_EQ(probe[0], "g0");
  EXPECT_TRUE(expr[0].empty());
  EXPECT_EQ(probe[1], "ab");
}

TEST(ReaderRows, LastLineWithoutNewline) {
  load("row5.tsv", "h\nlab\t1\t0\ng0\t1\t2\ng1\t3\t4");
  ASSERT_EQ(n_prob, 2);
  EXPECT_EQ(expr[1], (dvec{3, 4}));
}

TEST(ReaderRows, CrlfReadsTheSameNumbers) {
  load("crlf_lf.tsv", "h\tx\nlab\t1\t0\t1\ng0\t0.5\t1\t2.25\n\ng1\t3\t4\t5\n");
  std::vector<std::vector<double>> e = expr;
  ivec l = phe;
  load("crlf_crlf.tsv", "h\tx\r\nlab\t1\t0\t1\r\ng0\t0.5\t1\t2.25\r\n\r\ng1\t3\t4\t5\r\n");
  EXPECT_EQ(phe, l);
  EXPECT_EQ(expr, e);
  EXPECT_EQ(n_prob, 2);  // the lone carriage return is a short line
  // the carriage return is not stripped: it ends the last field
  load("crlf_name.tsv", "h\r\nlab\r\nab\r\n");
  ASSERT_EQ(n_prob, 1);
  EXPECT_EQ(probe[0], "ab\r");
}

TEST(ReaderRows, GzipReadsLikePlain) {
  std::mt19937_64 rng(77);
  gen::opts o;
  o.min_samp = 5;
  o.min_prob = 3;
  gen::table t = gen::make(rng, o);
  load("gz_plain.tsv", t.text);
  auto p0 = probe;
  auto l0 = phe;
  auto e0 = expr;
  std::string gz = tmp_path("gz.tsv.gz");
  gzFile f = gzopen(gz.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  ASSERT_EQ(gzwrite(f, t.text.data(), static_cast<unsigned>(t.text.size())), static_cast<int>(t.text.size()));
  ASSERT_EQ(gzclose(f), Z_OK);
  reset_exp();
  read_exp(gz.c_str());
  EXPECT_EQ(probe, p0);
  EXPECT_EQ(phe, l0);
  EXPECT_EQ(expr, e0);
  check_exp(gz.c_str());
}

TEST(ReaderRows, TruncatedGzipIsAnErrorNotAShortTable) {
  std::string text = "h\nlab\t0\t1\n";
  for (int p = 0; p < 2000; ++p) text += "g" + std::to_string(p) + "\t" + std::to_string(p) + "\t0.5\n";
  std::string gz = tmp_path("cut.tsv.gz");
  gzFile f = gzopen(gz.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  gzwrite(f, text.data(), static_cast<unsigned>(text.size()));
  gzclose(f);
  std::string bytes;
  {
    std::ifstream in(gz, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  gen::write_file(gz, bytes.substr(0, bytes.size() / 2));
  reset_exp();
  try {
    read_exp(gz.c_str());
    FAIL() << "a truncated gzip file was read as " << n_prob << " probes";
  } catch (const syn_error& e) {
    EXPECT_NE(std::string(e.what()).find(gz), std::string::npos) << e.what();
  }
}

TEST(ReaderRows, MissingFileThrowsNamingIt) {
  std::string path = tmp_path("does_not_exist.tsv");
  std::remove(path.c_str());
  reset_exp();
  try {
    read_exp(path.c_str());
    FAIL() << "no error for a missing file";
  } catch (const syn_error& e) {
    EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
  }
}

// ---- input check ----------------------------------------------------------------------

// The message names the file and the line, and the probe where there is one.
void expect_names(const std::string& msg, const std::string& file, int line, const std::string& what) {
  EXPECT_NE(msg.find(tmp_path(file) + ":" + std::to_string(line) + ":"), std::string::npos) << msg;
  EXPECT_NE(msg.find(what), std::string::npos) << msg;
  EXPECT_EQ(msg.find('\n'), std::string::npos) << "one line: " << msg;
}

TEST(Check, AcceptsValidTables) {
  EXPECT_EQ(check_msg("ok1.tsv", "h\nlab\t0\t1\ng0\t1\t2\t3\n"), "");
  EXPECT_EQ(check_msg("ok2.tsv", "h\nlab\t0\t1\n"), "");                 // no probes
  EXPECT_EQ(check_msg("ok3.tsv", "h\nlab\t1\t0\ng0\t 1\t2 \n"), "");     // blanks around values
  EXPECT_EQ(check_msg("ok4.tsv", "h\nlab\t1\t0\ng0\t0\t6999999.99\n"), "");
  EXPECT_EQ(check_msg("ok5.tsv", "h\r\nlab\t1\t0\r\ng0\t1\t2\r\n"), "");
}

TEST(Check, EmptyFile) {
  std::string msg = check_msg("empty.tsv", "");
  EXPECT_NE(msg.find(tmp_path("empty.tsv")), std::string::npos) << msg;
  EXPECT_NE(msg.find("empty"), std::string::npos) << msg;
}

// Fewer than 2 samples: nothing can be clustered. A table separated by commas
// or blanks has none.
TEST(Check, AtLeastTwoSamples) {
  for (const char* t : {"h\nlab\n", "h\nlab\t1\ng0\t1\n", "h,a,b\nlab,1,0\ng0,1,2\n", "h a b\nlab 1 0\ng0 1 2\n"}) {
    std::string msg = check_msg("few.tsv", t);
    expect_names(msg, "few.tsv", 2, "a table needs at least 2 (is it tab-separated?)");
  }
}

TEST(Check, FileEndingWithinHeaderLine) {
  expect_names(check_msg("hdronly.tsv", "only a header"), "hdronly.tsv", 1, "label");
}

TEST(Check, LabelOtherThanZeroOrOne) {
  // the reader stops at such a label; check_exp holds the rule for state set otherwise
  expect_names(read_msg("lab2.tsv", "h\nlab\t0\t2\t1\ng0\t1\t2\t3\n"), "lab2.tsv", 2, "sample 1");
  expect_names(read_msg("labm.tsv", "h\nlab\t-1\t0\ng0\t1\t2\n"), "labm.tsv", 2, "sample 0");
  load("lab3.tsv", "h\nlab\t0\t1\ng0\t1\t2\n");
  phe[1] = 2;
  try {
    check_exp(tmp_path("lab3.tsv").c_str());
    ADD_FAILURE() << "label 2 accepted";
  } catch (const syn_error& e) {
    expect_names(e.what(), "lab3.tsv", 2, "sample 1");
  }
}

TEST(Check, ShortRowNamesLineAndProbe) {
  std::string msg = check_msg("short.tsv", "h\nlab\t0\t1\t0\ng0\t1\t2\t3\n\nshort one\t1\t2\n");
  expect_names(msg, "short.tsv", 5, "'short one'");
  // a tabless row has no values at all
  expect_names(check_msg("short2.tsv", "h\nlab\t0\t1\ng0\t1\t2\nab\n"), "short2.tsv", 4, "'ab'");
}

TEST(Check, ValuesThatAreNotFinite) {
  expect_names(check_msg("nan.tsv", "h\nlab\t0\t1\ng0\t1\t2\ng1\t1\tnan\n"), "nan.tsv", 4, "'g1'");
  expect_names(check_msg("inf.tsv", "h\nlab\t0\t1\ng0\tinf\t2\n"), "inf.tsv", 3, "'g0'");
  expect_names(check_msg("minf.tsv", "h\nlab\t0\t1\ng0\t1\t-INF\n"), "minf.tsv", 3, "'g0'");
  expect_names(check_msg("ovf.tsv", "h\nlab\t0\t1\ng0\t1e999\t1\n"), "ovf.tsv", 3, "'g0'");
}

TEST(Check, ValueSpanTooWideForTheClustering) {
  std::string msg = check_msg("wide.tsv", "h\nlab\t0\t1\t1\ng0\t1\t2\t3\ng1\t-3500000\t0\t3500000\n");
  expect_names(msg, "wide.tsv", 4, "'g1'");
  EXPECT_NE(msg.find("log"), std::string::npos) << msg;  // suggests log-transforming
  expect_names(check_msg("wide2.tsv", "h\nlab\t0\t1\ng0\t0\t7e6\n"), "wide2.tsv", 3, "'g0'");
  // values beyond n_samp are never read and do not count
  EXPECT_EQ(check_msg("wide3.tsv", "h\nlab\t0\t1\ng0\t0\t1\t9e9\tnan\n"), "");
}

}  // namespace
