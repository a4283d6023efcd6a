// par.h: the core's two parallel loops, on which all long work runs.
//
// par_ordered: jobs run out of order on worker threads; results are emitted
// in index order on the calling thread, so output bytes never depend on the
// thread count. par_for: items whose results depend on their index alone,
// with no order of emission (the significance engine's steps).
#pragma once

#include <algorithm>
#include <atomic>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

// Run job(i, tid) for every i in [0, n) on n_thr worker threads (tid in
// [0, n_thr)) and call emit(i) on the calling thread in increasing i, each after
// its job has finished. No job starts more than `window` items ahead of the
// next emit, so callers keep results in a ring of `window` slots (slot
// i % window). An exception from a job or from emit stops the run and is
// rethrown here. n_thr 1 runs everything on the calling thread.
void par_ordered(long n, int n_thr, long window, const std::function<void(long, int)>& job,
                 const std::function<void(long)>& emit);

// Run f(i, tid) for i in [0, n) on n_thr threads (the caller is tid 0), items
// handed out in blocks; each item's result must depend on i alone. The first
// exception stops the run and is rethrown here.
template <class F>
void par_for(long n, int n_thr, long blk, F&& f) {
  if (n <= 0) return;
  const int t_n = static_cast<int>(std::max(1L, std::min<long>(n_thr, (n + blk - 1) / blk)));
  std::atomic<long> next{0};
  std::atomic<bool> stop{false};
  std::exception_ptr err;
  std::mutex mu;
  auto body = [&](int tid) {
    try {
      for (;;) {
        if (stop.load(std::memory_order_relaxed)) return;
        const long b = next.fetch_add(blk);
        if (b >= n) return;
        const long e = std::min(n, b + blk);
        for (long i = b; i < e; ++i) f(i, tid);
      }
    } catch (...) {
      std::lock_guard<std::mutex> g(mu);
      if (!err) err = std::current_exception();
      stop = true;
    }
  };
  std::vector<std::thread> th;
  th.reserve(t_n - 1);
  for (int t = 1; t < t_n; ++t) th.emplace_back(body, t);
  body(0);
  for (auto& t : th) t.join();
  if (err) std::rethrow_exception(err);
}
