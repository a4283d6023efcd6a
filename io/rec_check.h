// rec_check.h: do pair records belong to the table, the ranked list and the
// bound they are read with? Records of another table with the same probe
// names, of another list or bound, or of a shuffled-label run all parse, and
// would give plausible but wrong numbers. Checked here, for pair_signif,
// pair_report and the R package alike:
//
//  - every recorded probe's name is unique in the table (pairs are keyed by
//    name; a name on two rows would merge two probes);
//  - both probes of every record are candidates of the list at the bound;
//  - the partition line of every distinct pair (its first record) is the
//    pair's joint partition in this table: where the caller makes the joint
//    partitions anyway (pair_signif's sig_run), every one, compared as they
//    are made (check_joint); else the first ALL_PARTS distinct pairs and one
//    in SPARSE of the rest (chosen by a hash of their place), made here, and
//    any the caller names (check_part: the pairs a page draws). A run on
//    another table differs in most pairs;
//  - REPLAY records, the same ones whatever the thread count (chosen by a
//    hash of their position in the file), are searched again and must give
//    the record's final labels and synergy: this catches a shuffled-label run
//    read with the real labels, and the reverse.
//
// Each failure throws syn_error "RECORDS:LINE: what does not match".
// Call after load_exp (and shuffle_phe for a shuffled-label run).
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "fast.h"
#include "ranked.h"
#include "records.h"

constexpr int REPLAY = 64;          // records searched again
constexpr size_t ALL_PARTS = 4096;  // distinct pairs whose partitions are all checked (own partitions)
constexpr uint64_t SPARSE = 64;     // and one in this many after them

class rec_check {
 public:
  // rk: the ranked list read against the loaded table at `bound`, from
  // `list` (its name for messages). n_thr threads for the partitions. With
  // own_parts false the caller gives every distinct pair's joint partition,
  // in first-record order, to check_joint.
  rec_check(const rl_info& rk, std::string list, double bound, int n_thr = 1, bool own_parts = true);
  // One record read from `where`, in file order; may check a batch of
  // earlier ones.
  void add(const pair_rec& r, const std::string& where);
  // After the last record: the rest of the partitions and the replays.
  void finish();
  // The partition line of record r checked now.
  void check_part(const pair_rec& r);
  // The joint partition of distinct pair i (first-record order); throws
  // naming its record when the partition line differs. Thread-safe.
  void check_joint(size_t i, const part& pj) const;

 private:
  struct pend {
    int pa, pb;
    int64_t line;
    std::vector<int> cid;
  };
  struct sum {
    uint64_t h;  // of the partition line
    int64_t line;
    int pa, pb;
  };
  struct pick {
    uint64_t key;
    pair_rec r;
  };
  void check_batch();
  const part& sp(int p);
  std::string pair_txt(const pair_rec& r) const;
  std::string list_, where_;
  double bound_;
  int n_thr_;
  std::vector<int> cand_at;            // by probe: line of the list when a candidate, else 0
  std::unordered_map<int, int> dup_;   // probe -> another table row of the same name
  std::unordered_set<uint64_t> seen_;  // distinct pairs taken
  bool own_;
  std::vector<pend> batch_;
  std::vector<sum> sums_;    // without own_: by distinct pair
  std::vector<pick> picks_;  // the replay sample, kept as a heap by key
  std::vector<part> sp_;     // single partitions by probe, n_cl -1 until made
  std::vector<work> ws_;
  long n_ = 0;  // records seen
};
