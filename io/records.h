// records.h: the pair record file (pair_search -> pair_report, pair_signif),
// its writer beside its reader. A pair record is two lines of n + 3
// tab-separated fields for a table of n samples:
//   first name, second name, final synergy (score text), final label of each sample
//   first name, second name, "-9", joint cluster number of each sample
// The bytes are fixed: no header, no comment lines. A run appends each record
// in one write (rec_out, files.h), so a killed run leaves whole records only.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

class line_src;

// One pair record (two lines of the pair record file).
struct pair_rec {
  int64_t line = 0;      // file line of the record's first line
  std::string a, b;      // probe names as written
  int pa = -1, pb = -1;  // their probe numbers (first table row of that name)
  double syn = 0.0;      // final synergy
  std::string syn_txt;   // final synergy as written
  std::vector<int> lab;  // final labels, one per sample
  std::vector<int> cid;  // joint cluster number of each sample
  int n_cl = 0;          // clusters in the joint partition
};

// First row of every probe name in names (by probe number): make_idx(probe)
// for the loaded table.
using name_idx = std::unordered_map<std::string, int>;
name_idx make_idx(const std::vector<std::string>& names);

// Parse the two lines of one record (l1 at file line `line` of `where`, final
// carriage returns already removed) against the loaded table: n_samp + 3
// fields each, known probe names, the same pair on both lines, a finite
// synergy, labels 0/1, "-9" in field 3 of line 2, cluster numbers 0 to
// n_samp - 1. `l2` null: the file ended after line 1.
void parse_rec(const std::string& l1, const std::string* l2, const std::string& where, int64_t line,
               const name_idx& idx, pair_rec& out);

// The records of a file (plain or gzip), one at a time, against the loaded
// table. A file whose last line has no newline was cut short (a killed run)
// and is rejected. With n_thr > 1, batches of records are parsed on that many
// threads ahead of the caller; the records, and the first error, are the same.
// With a rec_check, every record is also checked to belong to the table, list
// and bound (rec_check.h); the last checks run when the end is reached.
class rec_check;
class rec_reader {
 public:
  explicit rec_reader(const char* path, int n_thr = 1, rec_check* chk = nullptr);
  ~rec_reader();  // where line_src is whole
  rec_reader(const rec_reader&) = delete;
  rec_reader& operator=(const rec_reader&) = delete;
  // Next record; false at the end of the file.
  bool next(pair_rec& r);

 private:
  bool fill();
  std::unique_ptr<line_src> in_;
  std::string where_;
  name_idx idx_;
  int n_thr_ = 1;
  rec_check* chk_ = nullptr;
  std::vector<std::string> l1_, l2_, err_;  // one batch: its lines and parse errors
  std::vector<char> has2_;
  std::vector<int64_t> line_;
  std::vector<pair_rec> buf_;
  size_t at_ = 0, n_ = 0;
  bool done_ = false;
};

// Every record of a file (rec_reader with n_thr threads), in file order.
std::vector<pair_rec> load_records(const char* path, int n_thr = 1);

// ---- writer --------------------------------------------------------------------

// The record of the pair named a, b with final synergy syn, n final labels
// and n cluster numbers, appended to out.
void record_text(std::string& out, std::string_view a, std::string_view b, double syn, const int* lab,
                 const int* cid, int n);

// The records' text, each from a, b, syn, lab and cid (syn_txt, pa, pb,
// line and n_cl are not read). Throws syn_error naming the record when a name
// could not be read back the same (name_fault), or when lab and cid differ
// in length from each other or from the first record's.
std::string write_records(const std::vector<pair_rec>& recs);
