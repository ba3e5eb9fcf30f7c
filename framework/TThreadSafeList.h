// A list that any thread may ask to change while one real-time thread walks
// it. Changes are deferred: add and remove requests are pushed onto a
// lock-free pending stack, and only the walking thread applies them, in
// `update`, to the list it walks. Nodes come from the C heap and are recycled
// through a free stack, so once the pool is warm neither posting nor applying
// requests allocates; they go back to the heap only when the list is
// destroyed.
//
// Threads:
//  - deferred_add, deferred_remove: any number of threads at once, never block.
//  - update, begin/end and iteration: the walking thread only; never block,
//    never allocate.
//  - destruction: when no other thread uses the list.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <iterator>
#include <new>
#include <type_traits>

#include "framework/TAtomicStack.h"

template <class T>
class TThreadSafeList {
  // Nodes are raw heap memory recycled by the real-time thread, which must not
  // run user copy or destruction code.
  static_assert(std::is_trivially_copyable_v<T> && std::is_trivially_destructible_v<T>);

 public:
  enum EventType : uint32_t { kAdd = 0, kRemove = 1 };

  // [any] A request or an entry.
  class Node {
   public:
    Node* next() const { return mNext; }
    void set_next(Node* next) { mNext = next; }

    Node* mNext;  // first, like every stack node
    uint32_t mEventType;
    T mObject;
  };

  using NodeStack = TAtomicStack<Node>;

  // Where new nodes come from; the memory must be releasable with std::free.
  // Replaceable so that an exhausted heap can be simulated.
  using AllocFunction = void* (*)(size_t);
  // [any]
  static void* DefaultAlloc(size_t bytes) { return std::malloc(bytes); }
  static inline AllocFunction sAllocNode = &DefaultAlloc;

  // [render] The walking thread's.
  class iterator {
   public:
    using iterator_category = std::forward_iterator_tag;
    using value_type = T;
    using difference_type = std::ptrdiff_t;
    using pointer = T*;
    using reference = T&;

    iterator() = default;
    explicit iterator(Node* node) : mNode(node) {}
    T& operator*() const { return mNode->mObject; }
    T* operator->() const { return &mNode->mObject; }
    iterator& operator++() {
      mNode = mNode->next();
      return *this;
    }
    iterator operator++(int) {
      iterator before = *this;
      ++*this;
      return before;
    }
    bool operator==(const iterator& other) const { return mNode == other.mNode; }

   private:
    Node* mNode = nullptr;
  };

  // [control] Made and destroyed with its owner, when no other thread uses it.
  TThreadSafeList() = default;
  TThreadSafeList(const TThreadSafeList&) = delete;
  TThreadSafeList& operator=(const TThreadSafeList&) = delete;

  // [control]
  ~TThreadSafeList() {
    free_all(mActiveList.head_NA());
    mActiveList.set_head_NA(nullptr);
    free_all(mPendingList.pop_all());
    free_all(mFreeList.pop_all());
  }

  // [any] Posts a request. False when no node could be had, in which case
  // nothing is posted and the list stays as it would have been without the
  // call.
  bool deferred_add(const T& obj) { return post(kAdd, obj); }
  bool deferred_remove(const T& obj) { return post(kRemove, obj); }

  // [render] Applies the pending requests in the order they were posted. An add of an
  // entry already present and a remove of an absent one change nothing.
  void update() {
    Node* requests = mPendingList.pop_all();
    if (requests == nullptr) return;

    // The pending stack holds the newest on top; reversing it yields the
    // oldest first.
    NodeStack oldestFirst;
    while (requests != nullptr) {
      Node* node = requests;
      requests = node->next();
      oldestFirst.push_NA(node);
    }

    while (Node* request = oldestFirst.pop_NA()) {
      if (request->mEventType == kAdd)
        apply_add(request);
      else
        apply_remove(request);
    }
  }

  // [render]
  iterator begin() { return iterator(mActiveList.head_NA()); }
  iterator end() { return iterator(); }

  // [control] Nodes waiting in the free stack. For diagnostics, when no
  // other thread uses the list.
  size_t free_count() const {
    size_t n = 0;
    for (Node* node = mFreeList.head_NA(); node != nullptr; node = node->next()) ++n;
    return n;
  }

 private:
  bool post(EventType type, const T& obj) {
    Node* node = AllocNode();
    if (node == nullptr) return false;
    node->mEventType = type;
    node->mObject = obj;
    mPendingList.push_atomic(node);
    return true;
  }

  void apply_add(Node* request) {
    Node* last = nullptr;
    for (Node* node = mActiveList.head_NA(); node != nullptr; node = node->next()) {
      if (node->mObject == request->mObject) {
        FreeNode(request);  // present at most once
        return;
      }
      last = node;
    }
    request->set_next(nullptr);
    if (last == nullptr)
      mActiveList.set_head_NA(request);
    else
      last->set_next(request);
  }

  void apply_remove(Node* request) {
    Node* prev = nullptr;
    for (Node* node = mActiveList.head_NA(); node != nullptr; prev = node, node = node->next()) {
      if (!(node->mObject == request->mObject)) continue;
      if (prev == nullptr)
        mActiveList.set_head_NA(node->next());
      else
        prev->set_next(node->next());
      FreeNode(node);
      break;
    }
    FreeNode(request);
  }

  Node* AllocNode() {
    if (Node* node = mFreeList.pop_atomic()) return node;
    void* memory = sAllocNode(sizeof(Node));
    if (memory == nullptr) return nullptr;
    return ::new (memory) Node{nullptr, kAdd, T{}};
  }

  void FreeNode(Node* node) { mFreeList.push_atomic(node); }

  static void free_all(Node* chain) {
    while (chain != nullptr) {
      Node* next = chain->next();
      std::free(chain);
      chain = next;
    }
  }

  NodeStack mActiveList;   // in effect, oldest on top; walking thread only
  NodeStack mPendingList;  // posted requests, newest on top
  NodeStack mFreeList;     // nodes ready for reuse
};
