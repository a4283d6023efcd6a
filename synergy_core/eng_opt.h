// eng_opt.h: the engines' options, each rule and each default stated once.
//
// The command line (cli/), the R and Python glue and the workflow check the
// options through these functions and read the defaults from eng_defaults, so
// a rule or a default changes here and nowhere else. The functions take plain
// values (a caller reads its own text or numbers first, whole numbers
// saturated at INT_MAX) and return "" or the one-line fault, naming the
// option as the caller shows it: pre + name + post ("--hits" on the command
// line, "hits:" in R).
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "signif.h"

constexpr int MAX_THREADS = 1024;           // largest thread count; 0 means every core
constexpr int SIG_HITS_MAX = 1000000;       // --hits from 1 to this
constexpr int SIG_PART_MIN = 2;             // --particles from this...
constexpr int SIG_PART_MAX = 100000;        // ...to this
extern const char* const SIG_TAIL_WORD[2];  // --tail: "none", "split" (sig_opt::tail false, true)

// The candidate bound, 0 to 1 bits: "<what> '<x>' is not from 0 to 1 (bits)".
std::string bound_check(double x, const std::string& what);

// A thread count t (0 = every core): "thread count '<t>' is not a number from
// 0 to MAX_THREADS" unless a whole number in that range.
std::string threads_check(double t);

// The candidate positions [start, end) of a search over count candidates,
// named `of` (the ranked list): "range S..E reaches outside ...".
std::string range_check(long start, long end, long count, const std::string& of);

// The tail mode word: sets tail and returns "", or the fault.
std::string tail_word(const std::string& w, bool& tail, const std::string& pre = "--",
                      const std::string& post = "");

// The options of sig_run given by a user (cap, hits, part, bound; n_thr after
// 0 was made the core count): "" or the first fault.
std::string sig_check(const sig_opt& o, const std::string& pre = "--", const std::string& post = "");

// Every default of the engines' options as name and value text, in the order
// of pair_signif's --defaults ("perm" is the cap with the tail, at most
// perm_work / samples; "perm_none" the one without it).
std::vector<std::pair<std::string, std::string>> eng_defaults();
