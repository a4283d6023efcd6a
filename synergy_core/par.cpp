// Ordered parallel loop: workers run jobs out of order, the calling thread
// emits results strictly in index order, so output bytes never depend on the
// number of threads.
#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>

#include "synergy.h"

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
  bool stop = false;

  auto worker = [&](int tid) {
    std::unique_lock<std::mutex> lk(mx);
    for (;;) {
      // Index i may only start once i - window has been emitted: its ring
      // slot is free and memory stays bounded however far the range reaches.
      cv_work.wait(lk, [&] { return stop || next_job >= n || next_job < next_emit + window; });
      if (stop || next_job >= n) return;
      long i = next_job++;
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
      if (i == next_emit) cv_done.notify_one();
    }
  };

  std::vector<std::thread> pool;
  std::exception_ptr fail;
  auto halt = [&] {
    {
      std::lock_guard<std::mutex> lk(mx);
      stop = true;
    }
    cv_work.notify_all();
    for (std::thread& t : pool) t.join();
    pool.clear();
  };

  try {
    pool.reserve(static_cast<size_t>(n_thr));
    for (int t = 0; t < n_thr; ++t) pool.emplace_back(worker, t);
    for (long e = 0; e < n; ++e) {
      slot* s = &ring[static_cast<size_t>(e % window)];
      {
        std::unique_lock<std::mutex> lk(mx);
        cv_done.wait(lk, [&] { return s->done; });
        // A failed job surfaces in index order, after every earlier result
        // has been emitted, so even a failing run writes the same bytes.
        if (s->err) {
          fail = s->err;
          break;
        }
      }
      emit(e);
      {
        std::lock_guard<std::mutex> lk(mx);
        s->done = false;
        ++next_emit;
      }
      cv_work.notify_all();
    }
  } catch (...) {
    fail = std::current_exception();
  }
  halt();
  if (fail) std::rethrow_exception(fail);
}
