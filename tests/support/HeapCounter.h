// Counts heap use in a test program: every operator new and, outside
// sanitizer builds (whose runtimes own the C heap), every malloc-family call
// while gCounting is on. It replaces the global allocation functions, so
// include it in exactly one source file of a test program.
#pragma once

#include <pthread.h>

#include <atomic>
#include <cstdlib>
#include <new>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define QELVO_SANITIZER_HEAP 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define QELVO_SANITIZER_HEAP 1
#endif
#endif

namespace {
std::atomic<bool> gCounting{false};
std::atomic<long> gNews{0};
std::atomic<long> gMallocs{0};
// When set, only this thread's calls count (others, a file writer say, may
// allocate meanwhile).
std::atomic<pthread_t> gCountedThread{};
std::atomic<bool> gOneThread{false};

bool Counted() {
  return gCounting.load(std::memory_order_relaxed) &&
         (!gOneThread.load(std::memory_order_relaxed) || pthread_equal(pthread_self(), gCountedThread.load()));
}

void CountNew() {
  if (Counted()) gNews.fetch_add(1, std::memory_order_relaxed);
}

// Counts only the calling thread's allocations from now on.
[[maybe_unused]] void CountOnlyThisThread() {
  gCountedThread.store(pthread_self());
  gOneThread.store(true);
}
}  // namespace

// ---- operator new, every form ----------------------------------------------------------
__attribute__((noinline)) void* operator new(std::size_t size) {
  CountNew();
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
__attribute__((noinline)) void* operator new[](std::size_t size) { return operator new(size); }
__attribute__((noinline)) void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  CountNew();
  return std::malloc(size == 0 ? 1 : size);
}
__attribute__((noinline)) void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  return operator new(size, std::nothrow);
}
__attribute__((noinline)) void* operator new(std::size_t size, std::align_val_t align) {
  CountNew();
  const std::size_t a = static_cast<std::size_t>(align);
  if (void* p = std::aligned_alloc(a, (size + a - 1) / a * a)) return p;
  throw std::bad_alloc();
}
__attribute__((noinline)) void* operator new[](std::size_t size, std::align_val_t align) {
  return operator new(size, align);
}
__attribute__((noinline)) void operator delete(void* p) noexcept { std::free(p); }
__attribute__((noinline)) void operator delete[](void* p) noexcept { std::free(p); }
__attribute__((noinline)) void operator delete(void* p, std::size_t) noexcept { std::free(p); }
__attribute__((noinline)) void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
__attribute__((noinline)) void operator delete(void* p, std::align_val_t) noexcept { std::free(p); }
__attribute__((noinline)) void operator delete[](void* p, std::align_val_t) noexcept { std::free(p); }
__attribute__((noinline)) void operator delete(void* p, std::size_t, std::align_val_t) noexcept {
  std::free(p);
}
__attribute__((noinline)) void operator delete[](void* p, std::size_t, std::align_val_t) noexcept {
  std::free(p);
}

// ---- the C heap, by interposition (sanitizers own it in their builds) ------------------------
#ifndef QELVO_SANITIZER_HEAP
extern "C" {
void* __libc_malloc(size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void* __libc_memalign(size_t, size_t);
void __libc_free(void*);

static void CountMalloc() {
  if (Counted()) gMallocs.fetch_add(1, std::memory_order_relaxed);
}

void* malloc(size_t size) {
  CountMalloc();
  return __libc_malloc(size);
}
void* calloc(size_t n, size_t size) {
  CountMalloc();
  return __libc_calloc(n, size);
}
void* realloc(void* p, size_t size) {
  CountMalloc();
  return __libc_realloc(p, size);
}
void* memalign(size_t align, size_t size) {
  CountMalloc();
  return __libc_memalign(align, size);
}
void* aligned_alloc(size_t align, size_t size) {
  CountMalloc();
  return __libc_memalign(align, size);
}
int posix_memalign(void** out, size_t align, size_t size) {
  CountMalloc();
  void* p = __libc_memalign(align, size);
  if (p == nullptr) return 12;  // ENOMEM
  *out = p;
  return 0;
}
void free(void* p) { __libc_free(p); }
}
constexpr bool kCountsMalloc = true;
#else
constexpr bool kCountsMalloc = false;
#endif

