#pragma once

#include <memory>

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

inline void cancel(JobHandle& job) {
  if (job) {
    job->cancel();
    job.reset();
  }
}

}  // namespace vistrel
