// par.h: the ordered parallel loop that every program's long work runs on.
//
// Jobs run out of order on worker threads; results are emitted in index order
// on the calling thread, so output bytes never depend on the thread count.
#pragma once

#include <functional>

// Run job(i, tid) for every i in [0, n) on n_thr worker threads (tid in
// [0, n_thr)) and call emit(i) on the calling thread in increasing i, each after
// its job has finished. No job starts more than `window` items ahead of the
// next emit, so callers keep results in a ring of `window` slots (slot
// i % window). An exception from a job or from emit stops the run and is
// rethrown here. n_thr 1 runs everything on the calling thread.
void par_ordered(long n, int n_thr, long window, const std::function<void(long, int)>& job,
                 const std::function<void(long)>& emit);
