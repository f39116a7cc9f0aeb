#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace vistrel {

// How many threads a piece of work that parallelises well should use: two, or one on a
// single-core machine. The machine has other work, so nothing takes every core.
inline std::size_t workThreads() {
  return std::thread::hardware_concurrency() > 1 ? 2 : 1;
}

// Runs work(worker, index) for every index below `count` on up to `workers` threads at once, the
// calling thread among them; `worker` (below `workers`) tells which thread runs it, and indices
// are handed out in order. Returns when all have run. The first exception a call throws stops the
// handing out and is rethrown once every thread has stopped. When no further thread can be
// started, the threads already running do all the work.
template <typename Work>
void forEachInParallel(std::size_t count, std::size_t workers, Work&& work) {
  std::atomic<std::size_t> next{0};
  std::mutex failureMutex;
  std::exception_ptr failure;
  const auto run = [&](std::size_t worker) {
    for (std::size_t index = next++; index < count; index = next++) {
      try {
        work(worker, index);
      } catch (...) {
        const std::lock_guard lock(failureMutex);
        if (!failure) {
          failure = std::current_exception();
        }
        next = count;
      }
    }
  };
  {
    const std::size_t helpers =
        count == 0 ? 0 : std::min(std::max<std::size_t>(workers, 1), count) - 1;
    std::vector<std::jthread> threads;
    threads.reserve(helpers);
    for (std::size_t worker = 1; worker <= helpers; ++worker) {
      try {
        threads.emplace_back(run, worker);
      } catch (const std::system_error&) {
        break;
      }
    }
    run(0);
  }
  if (failure) {
    std::rethrow_exception(failure);
  }
}

}  // namespace vistrel
