#pragma once

// Owning handles for the GLib/GIO objects the key stores use. Included only by .cpp files that
// already link GLib.

#include <gio/gio.h>

#include <memory>

namespace vistrel {

template <auto release>
struct GLibRelease {
  template <typename T>
  void operator()(T* p) const {
    release(p);
  }
};

using GCharPtr = std::unique_ptr<gchar, GLibRelease<g_free>>;
using GHashTablePtr = std::unique_ptr<GHashTable, GLibRelease<g_hash_table_unref>>;
using GVariantPtr = std::unique_ptr<GVariant, GLibRelease<g_variant_unref>>;
using GMainContextPtr = std::unique_ptr<GMainContext, GLibRelease<g_main_context_unref>>;
using GSourcePtr = std::unique_ptr<GSource, GLibRelease<g_source_unref>>;

template <typename T>
using GObjectPtr = std::unique_ptr<T, GLibRelease<g_object_unref>>;

inline void releaseObjectList(GList* list) {
  g_list_free_full(list, g_object_unref);
}
using GObjectListPtr = std::unique_ptr<GList, GLibRelease<releaseObjectList>>;

// Collects a GError from a call that takes GError**:  call(..., error.out()); then take().
class GErrorSlot {
 public:
  GErrorSlot() = default;
  GErrorSlot(const GErrorSlot&) = delete;
  GErrorSlot& operator=(const GErrorSlot&) = delete;
  ~GErrorSlot() {
    if (error_ != nullptr)
      g_error_free(error_);
  }

  GError** out() { return &error_; }
  const GError* get() const { return error_; }
  explicit operator bool() const { return error_ != nullptr; }

 private:
  GError* error_ = nullptr;
};

// Makes a private main context the thread's default for the lifetime of the guard, so that
// asynchronous GIO calls started here complete here and nowhere else.
class ThreadDefaultContext {
 public:
  ThreadDefaultContext() : context_(g_main_context_new()) {
    g_main_context_push_thread_default(context_.get());
  }
  ThreadDefaultContext(const ThreadDefaultContext&) = delete;
  ThreadDefaultContext& operator=(const ThreadDefaultContext&) = delete;
  ~ThreadDefaultContext() { g_main_context_pop_thread_default(context_.get()); }

  GMainContext* get() const { return context_.get(); }

 private:
  GMainContextPtr context_;
};

}  // namespace vistrel
