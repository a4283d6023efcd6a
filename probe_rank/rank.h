// rank.h: scoring and writing of the ranked probe list.
//
// Ranked probe list (its format: io/ranked.h): highest score first (equal
// scores keep file order, no-partition probes last with score -10 and 1
// cluster).
//
// Call after load_exp. The list is written whole by out_file (io/files.h).
#pragma once

#include <functional>
#include <string>
#include <vector>

// One line of the list.
struct rank_row {
  int p = 0;             // probe number
  double score = 0.0;    // single-probe score, or NO_PART
  int n_cl = 1;          // clusters of the probe's partition; 1 when it has none
};

// Largest cluster number in s_cid, starting from 0: the cluster count of the
// partition last read back, minus 1.
int max_cid();

// Score every probe on n_thr threads and return the rows in ranked order.
// tick(k) is called on the calling thread with the number of probes scored so
// far, in probe order (for a progress display); it may be empty.
std::vector<rank_row> rank_probes(int n_thr, const std::function<void(long)>& tick);

// The list's text for rows, in the given order, named by the loaded table
// (ranked_line).
std::string rank_text(const std::vector<rank_row>& rows);

// The whole command line of probe_rank, and of "synergy rank" (front: exit
// status 0 after a complete run, where probe_rank ends with 1). name is what
// help and messages call it. Returns the exit status.
int rank_cmd(int argc, char** argv, const char* name, bool front);
