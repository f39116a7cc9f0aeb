#pragma once

#include <exception>
#include <memory>
#include <optional>
#include <string>

namespace vistrel {

// The handle of one background job of the application model. Cancelling only marks it: every
// step of the job looks at the mark before it touches the model, so a cancelled job never
// assigns anything. Created, cancelled and checked on the main thread only.
class Job {
 public:
  void cancel() { cancelled_ = true; }
  bool isCancelled() const { return cancelled_; }

 private:
  bool cancelled_ = false;
};

using JobHandle = std::shared_ptr<Job>;

// What a background job produced: its value, or the text of the error that stopped it, so that
// a failure never reads as an empty result.
template <typename T>
struct JobResult {
  std::optional<T> value;
  std::string error;
};

// Runs `work`, turning what it raises into the result's error.
template <typename Work>
auto attempt(Work&& work) -> JobResult<decltype(work())> {
  try {
    return {work(), {}};
  } catch (const std::exception& error) {
    return {std::nullopt, error.what()};
  } catch (...) {
    return {std::nullopt, "an unknown error"};
  }
}

inline void cancel(JobHandle& job) {
  if (job) {
    job->cancel();
    job.reset();
  }
}

}  // namespace vistrel
