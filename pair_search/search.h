// search.h: candidate list, label-flip search over candidate pairs, pair records.
//
// The pair record file is written by io/ (records.h: the record's text;
// files.h: rec_out appends each record in a single write, so a run that is
// killed leaves only whole records behind).
//
// Call after load_exp.
#pragma once

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "files.h"
#include "synergy.h"

// Candidate list: the probe numbers of the leading lines of a ranked probe
// list whose score is above `bound`, read by the shared reader (ranked.h),
// which checks the whole list. n_lim 0 or more: against the loaded table
// (names and probe numbers checked); below 0: without a table. Throws
// syn_error.
std::vector<int> read_cand(const std::string& ranked, int n_lim, double bound = CAND_BOUND);

// Text of one pair record for probes a, b of the loaded table (record_text).
std::string pair_record(int a, int b, double best, const int* lab, const int* cid);

// Greedy label-flip search of one ordered pair over the shared working state,
// step by step with call_two_syn; appends the pair's record to `out` and
// returns 1, or returns -1 and leaves `out` untouched (not even created) when
// the pair has no partition. Throws syn_error when the record cannot be written.
int optimize(int a, int b, int sel, const char* out);

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
