// Ordered parallel loop: jobs run out of order on n_thr threads (the calling
// thread is one of them), and the calling thread emits results strictly in
// index order, so output bytes never depend on the number of threads.
#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>

#include "par.h"

namespace {

struct slot {
  bool done = false;
  std::exception_ptr err;
};

}  // namespace

void par_ordered(long n, int n_thr, long window, const std::function<void(long, int)>& job,
                 const std::function<void(long)>& emit) {
  if (n <= 0) return;
  if (window < 1) window = 1;
  if (n_thr <= 1) {
    for (long i = 0; i < n; ++i) {
      job(i, 0);
      emit(i);
    }
    return;
  }

  std::mutex mx;
  std::condition_variable cv_work, cv_done;
  std::vector<slot> ring(static_cast<size_t>(window));
  long next_job = 0, next_emit = 0;
  bool stop = false, caller_waits = false;

  // Index i may only start once i - window has been emitted: its ring slot is
  // free then, and memory stays bounded however far the range reaches.
  auto may_start = [&] { return next_job < n && next_job < next_emit + window; };
  // Runs job i with the lock released; a failure is kept in the slot and
  // surfaces in index order, after every earlier result has been emitted, so
  // even a failing run writes the same bytes for every thread count.
  auto run = [&](std::unique_lock<std::mutex>& lk, long i, int tid) {
    lk.unlock();
    std::exception_ptr err;
    try {
      job(i, tid);
    } catch (...) {
      err = std::current_exception();
    }
    lk.lock();
    slot& s = ring[static_cast<size_t>(i % window)];
    s.done = true;
    s.err = err;
  };

  auto helper = [&](int tid) {
    std::unique_lock<std::mutex> lk(mx);
    for (;;) {
      cv_work.wait(lk, [&] { return stop || next_job >= n || may_start(); });
      if (stop || next_job >= n) return;
      long i = next_job++;
      run(lk, i, tid);
      if (i == next_emit && caller_waits) cv_done.notify_one();
    }
  };

  std::vector<std::thread> pool;
  std::exception_ptr fail;
  std::unique_lock<std::mutex> lk(mx);
  try {
    pool.reserve(static_cast<size_t>(n_thr - 1));
    for (int t = 1; t < n_thr; ++t) pool.emplace_back(helper, t);
    while (next_emit < n) {
      slot& s = ring[static_cast<size_t>(next_emit % window)];
      if (s.done) {
        if (s.err) {
          fail = s.err;
          break;
        }
        lk.unlock();
        emit(next_emit);
        lk.lock();
        s.done = false;
        ++next_emit;
        cv_work.notify_all();
      } else if (may_start()) {
        // the calling thread works too instead of idling between emits
        run(lk, next_job++, 0);
      } else {
        caller_waits = true;
        cv_done.wait(lk, [&] { return s.done; });
        caller_waits = false;
      }
    }
  } catch (...) {
    if (!lk.owns_lock()) lk.lock();
    fail = std::current_exception();
  }
  stop = true;
  lk.unlock();
  cv_work.notify_all();
  for (std::thread& t : pool) t.join();
  if (fail) std::rethrow_exception(fail);
}
