#include "VistrelKit/ocr/SerialOpenMP.h"

#include <dlfcn.h>

#include <atomic>
#include <cstdint>
#include <vector>

namespace vistrel {

namespace {

std::atomic<bool> inlineRegions{true};

using Body = void (*)(void*);

// The libgomp definition this file stands in front of; null if libgomp is not loaded.
template <typename Function>
Function libgomp(const char* name) {
  return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

// Worksharing `sections` constructs open on this thread, innermost last: the sections of an
// inline `parallel sections` region are handed out here, any other construct's by libgomp.
struct SectionsScope {
  bool inlineRegion;
  unsigned next;
  unsigned count;
};
thread_local std::vector<SectionsScope> sectionsScopes;

bool inInlineSections() {
  return !sectionsScopes.empty() && sectionsScopes.back().inlineRegion;
}

void leaveLibgompSections() {
  if (!sectionsScopes.empty() && !sectionsScopes.back().inlineRegion) {
    sectionsScopes.pop_back();
  }
}

}  // namespace

bool serialOpenMPRegions() {
  return inlineRegions.load(std::memory_order_relaxed);
}

void setSerialOpenMPRegions(bool value) {
  inlineRegions.store(value, std::memory_order_relaxed);
}

}  // namespace vistrel

// The libgomp ABI as GCC emits calls to it (libgomp_g.h).
extern "C" {

__attribute__((visibility("default"))) void GOMP_parallel(vistrel::Body body, void* data,
                                                          unsigned threads, unsigned flags) {
  using Real = void (*)(vistrel::Body, void*, unsigned, unsigned);
  static const Real real = vistrel::libgomp<Real>("GOMP_parallel");
  if (vistrel::serialOpenMPRegions() || real == nullptr) {
    body(data);
    return;
  }
  real(body, data, threads, flags);
}

__attribute__((visibility("default"))) void GOMP_parallel_sections(vistrel::Body body, void* data,
                                                                   unsigned threads, unsigned count,
                                                                   unsigned flags) {
  using Real = void (*)(vistrel::Body, void*, unsigned, unsigned, unsigned);
  static const Real real = vistrel::libgomp<Real>("GOMP_parallel_sections");
  if (vistrel::serialOpenMPRegions() || real == nullptr) {
    vistrel::sectionsScopes.push_back({true, 1, count});
    body(data);
    vistrel::sectionsScopes.pop_back();
    return;
  }
  real(body, data, threads, count, flags);
}

__attribute__((visibility("default"))) unsigned GOMP_sections_start(unsigned count) {
  using Real = unsigned (*)(unsigned);
  static const Real real = vistrel::libgomp<Real>("GOMP_sections_start");
  vistrel::sectionsScopes.push_back({false, 0, 0});
  return real(count);
}

__attribute__((visibility("default"))) unsigned GOMP_sections2_start(unsigned count,
                                                                     std::uintptr_t* reductions,
                                                                     void** memory) {
  using Real = unsigned (*)(unsigned, std::uintptr_t*, void**);
  static const Real real = vistrel::libgomp<Real>("GOMP_sections2_start");
  vistrel::sectionsScopes.push_back({false, 0, 0});
  return real(count, reductions, memory);
}

__attribute__((visibility("default"))) unsigned GOMP_sections_next() {
  if (vistrel::inInlineSections()) {
    vistrel::SectionsScope& scope = vistrel::sectionsScopes.back();
    return scope.next <= scope.count ? scope.next++ : 0;
  }
  using Real = unsigned (*)();
  static const Real real = vistrel::libgomp<Real>("GOMP_sections_next");
  return real();
}

// Inline sections end with their region; libgomp's constructs are ended by libgomp.
__attribute__((visibility("default"))) void GOMP_sections_end() {
  if (vistrel::inInlineSections()) {
    return;
  }
  using Real = void (*)();
  static const Real real = vistrel::libgomp<Real>("GOMP_sections_end");
  vistrel::leaveLibgompSections();
  real();
}

__attribute__((visibility("default"))) void GOMP_sections_end_nowait() {
  if (vistrel::inInlineSections()) {
    return;
  }
  using Real = void (*)();
  static const Real real = vistrel::libgomp<Real>("GOMP_sections_end_nowait");
  vistrel::leaveLibgompSections();
  real();
}

__attribute__((visibility("default"))) bool GOMP_sections_end_cancel() {
  if (vistrel::inInlineSections()) {
    return false;
  }
  using Real = bool (*)();
  static const Real real = vistrel::libgomp<Real>("GOMP_sections_end_cancel");
  vistrel::leaveLibgompSections();
  return real();
}

}  // extern "C"
