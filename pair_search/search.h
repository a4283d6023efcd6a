// search.h: candidate list, label-flip search over candidate pairs, pair records.
//
// Pair record: two lines of n_samp + 3 tab-separated fields,
//   first name, second name, best synergy, final label of each sample
//   first name, second name, "-9", joint cluster number of each sample
// appended to the record file in a single write, so a run that is killed
// leaves only whole records behind.
//
// Call after load_exp.
#pragma once

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "synergy.h"

// Candidate list: the probe numbers of the leading lines of a ranked probe
// list whose score is above `bound`, read by the shared reader (inputs.h),
// which checks the whole list. n_lim 0 or more: against the loaded table
// (names and probe numbers checked); below 0: without a table. Throws
// syn_error.
std::vector<int> read_cand(const std::string& ranked, int n_lim, double bound = CAND_BOUND);

// Text of one pair record for probes a, b.
std::string pair_record(int a, int b, double best, const int* lab, const int* cid);

// Greedy label-flip search of one ordered pair over the shared working state,
// step by step with call_two_syn; appends the pair's record to `out` and
// returns 1, or returns -1 and leaves `out` untouched (not even created) when
// the pair has no partition. Throws syn_error when the record cannot be written.
int optimize(int a, int b, int sel, const char* out);

// The pair record file of a run. The constructor checks, without creating the
// file, that records can be appended to `path`; the file is opened at the
// first record and stays open. A file that does not exist yet is created only
// with its first whole record: the record goes to a temporary file beside it
// that is then linked into place, so a failed write (a full disk) leaves no
// file at all. A symbolic link stays a link (one another user planted in a
// shared folder is refused, see may_follow in cli.h), and the file is opened
// without following a link put at its name since the check; a path naming an
// open descriptor (/dev/stdout, /dev/fd/N) is appended to through it. Throws
// syn_error.
class rec_out {
 public:
  explicit rec_out(std::string path);
  ~rec_out();
  rec_out(const rec_out&) = delete;
  rec_out& operator=(const rec_out&) = delete;
  // Append one whole record in a single write; a write that fails part way
  // is cut back off the file before the error is thrown.
  void append(const std::string& rec);
  // Records appended so far.
  long count() const { return n_; }

 private:
  void open_first(const std::string& rec);
  std::string path_, dest_;
  int fd_ = -1;
  long n_ = 0;
};

// Run the search for candidate positions i in [start, end) against every
// position j, on n_thr threads. For each pair, in (i, j) order whatever the
// thread count: its record (when it has a partition) goes to `rec`, then the
// line "i\tj\n" to `prog`, flushed, then tick(pairs done). Requires
// 0 <= start <= end <= cand.size(). Throws syn_error on a failed write.
// When both i and j lie in [start, end), the result of (j, i) is that of
// (i, j) with the names swapped; results are kept for their mirror in at most
// mirror_bytes (0: none kept), and what does not fit is computed again.
constexpr size_t MIRROR_BYTES = size_t{32} << 20;
void run_search(const std::vector<int>& cand, int start, int end, int n_thr, rec_out& rec,
                std::FILE* prog, const std::function<void(long)>& tick, size_t mirror_bytes = MIRROR_BYTES);

// The whole command line of pair_search, and of "synergy search" (front:
// exit status 0 after a complete run, where pair_search ends with 1). name is
// what help and messages call it. Returns the exit status.
int search_cmd(int argc, char** argv, const char* name, bool front);
