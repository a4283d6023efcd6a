// sheet.h: labels from a sample sheet instead of the table's label line.
//
// A sample sheet is tab-separated text (plain or gzip): a header line naming
// the columns, then one line per sample, its name first. With a sheet, the
// expression table has no label line: line 1 names the samples (after the
// caption field), and every later line is a probe row. Each sample of the
// table must be in the sheet; its value in column `column` gives label 1
// when it is `cas`, label 0 when it is `control` (or, without a control, any
// other value but an empty one or NA); any other value is an error, or the
// sample is left out of the table with `drop`. The loaded table is then the
// same as one with those 0/1 labels on a label line (the left-out samples'
// columns removed), and so is every result.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

// Where the labels come from; set before load_exp (empty sheet: the label line).
struct pheno_src {
  std::string sheet, column, cas, control;
  bool drop = false;  // leave out the samples of other values instead of stopping
};
extern pheno_src pheno;

// What the two classes are called in reports: "label 0" and "label 1", or with
// a sheet the control value (the one value of the label-0 samples, else "not
// CASE") and the case value. Set by read_exp.
extern std::string cls_name[2];

// With a sheet, the field of the table's header line (0-based) of each loaded
// sample; empty with a label line. Set by read_exp.
extern std::vector<int> samp_field;

// "N with label K", or with a sheet "N <class name>": a count of samples of class k.
std::string cls_count(long n, int k);

// Why the settings in pheno do not make sense together, or "".
std::string pheno_usage();

struct sheet_row {
  int lab = -1;       // 1, 0, or -1: another value
  int64_t line = 0;   // line in the sheet
  std::string value;  // as written
};
struct sheet_tab {
  std::unordered_map<std::string, sheet_row> samp;  // by sample name
  std::set<std::string> zero_vals;                  // values that gave label 0
};

// Read pheno.sheet. Throws syn_error "SHEET:LINE: reason" for a missing
// column, a short line or a sample listed twice.
sheet_tab read_sheet();

// The labels of the samples named on the table's header line `line` (the
// fields after the first), appended to phe; returns the fields kept, one per
// sample. Throws syn_error for a sample named twice, one not in the sheet, or
// one with another value (unless pheno.drop).
std::vector<int> header_labels(const std::string& table, const std::string& line, const sheet_tab& t);

// Set cls_name from the sheet.
void sheet_names(const sheet_tab& t);
