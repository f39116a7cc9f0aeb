#include <dlfcn.h>
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "VistrelKit/ocr/SerialOpenMP.h"

// The libgomp entry points as compiled OpenMP code calls them.
extern "C" {
void GOMP_parallel(void (*body)(void*), void* data, unsigned threads, unsigned flags);
void GOMP_parallel_sections(void (*body)(void*), void* data, unsigned threads, unsigned count,
                            unsigned flags);
unsigned GOMP_sections_next();
void GOMP_sections_end_nowait();
}

namespace vistrel {
namespace {

struct Calls {
  std::atomic<int> count{0};
  std::thread::id thread;
  std::vector<unsigned> sections;
};

void countCall(void* data) {
  auto* calls = static_cast<Calls*>(data);
  calls->thread = std::this_thread::get_id();
  ++calls->count;
}

// What GCC emits for the body of `#pragma omp parallel sections` with three sections.
void takeSections(void* data) {
  auto* calls = static_cast<Calls*>(data);
  for (unsigned section = GOMP_sections_next(); section != 0; section = GOMP_sections_next()) {
    calls->sections.push_back(section);
  }
  GOMP_sections_end_nowait();
}

TEST(SerialOpenMPTest, LibrariesCallTheInlineRegions) {
  ASSERT_TRUE(serialOpenMPRegions());
  // What the dynamic linker hands Tesseract for these names is this executable's definition.
  EXPECT_EQ(dlsym(RTLD_DEFAULT, "GOMP_parallel"), reinterpret_cast<void*>(&GOMP_parallel));
  EXPECT_EQ(dlsym(RTLD_DEFAULT, "GOMP_parallel_sections"),
            reinterpret_cast<void*>(&GOMP_parallel_sections));
}

TEST(SerialOpenMPTest, ParallelRegionsRunOnceOnTheCallingThread) {
  Calls calls;
  GOMP_parallel(countCall, &calls, 4, 0);
  EXPECT_EQ(calls.count, 1);
  EXPECT_EQ(calls.thread, std::this_thread::get_id());
}

TEST(SerialOpenMPTest, EverySectionRunsOnceInOrder) {
  Calls calls;
  GOMP_parallel_sections(takeSections, &calls, 4, 3, 0);
  EXPECT_EQ(calls.sections, (std::vector<unsigned>{1, 2, 3}));
  // Nested regions keep their own sections.
  Calls inner;
  GOMP_parallel_sections(
      [](void* data) {
        auto* calls = static_cast<Calls*>(data);
        GOMP_parallel_sections(takeSections, calls, 2, 2, 0);
        calls->sections.push_back(GOMP_sections_next());
      },
      &inner, 2, 1, 0);
  EXPECT_EQ(inner.sections, (std::vector<unsigned>{1, 2, 1}));
}

TEST(SerialOpenMPTest, SwitchedOffTheRegionsGoToLibgomp) {
  if (dlsym(RTLD_NEXT, "GOMP_parallel") == nullptr) {
    GTEST_SKIP() << "libgomp is not loaded";
  }
  setSerialOpenMPRegions(false);
  Calls calls;
  GOMP_parallel(countCall, &calls, 2, 0);
  Calls sections;
  GOMP_parallel_sections(takeSections, &sections, 1, 3, 0);
  setSerialOpenMPRegions(true);
  EXPECT_EQ(calls.count, 2);  // a team of two threads
  EXPECT_EQ(sections.sections, (std::vector<unsigned>{1, 2, 3}));
}

}  // namespace
}  // namespace vistrel
