// A singly linked stack of nodes whose top pointer changes only by
// compare-and-swap, so any number of threads can push and detach at once
// without a lock.
//
// No swap ever depends on a node's next pointer: a push compares the top it
// linked below its own node, and a detach swaps the top to null. A node that
// was taken off and put back meanwhile therefore cannot corrupt the stack, and
// next pointers are only read by the thread that detached the chain.
//
// The node type provides `T* next() const` and `void set_next(T*)`.
#pragma once

#include <atomic>

template <class T>
class TAtomicStack {
 public:
  // [control] Made and destroyed with its owner.
  TAtomicStack() = default;
  TAtomicStack(const TAtomicStack&) = delete;
  TAtomicStack& operator=(const TAtomicStack&) = delete;

  // ---- any thread ----------------------------------------------------------

  // [any]
  void push_atomic(T* item) {
    T* head = mHead.load(std::memory_order_relaxed);
    do {
      item->set_next(head);
    } while (!compare_and_swap(head, item));
  }

  // [any] Links a whole chain (first node on top) onto the stack with one swap.
  void push_multiple_atomic(T* chain) {
    T* last = chain;
    while (T* next = last->next()) last = next;
    T* head = mHead.load(std::memory_order_relaxed);
    do {
      last->set_next(head);
    } while (!compare_and_swap(head, chain));
  }

  // [any] Detaches the whole stack; the caller owns the returned chain (top first).
  T* pop_all() {
    T* head = mHead.load(std::memory_order_relaxed);
    do {
      if (head == nullptr) return nullptr;
    } while (!compare_and_swap(head, nullptr));
    return head;
  }

  // [any] Takes the top node by detaching everything and putting the rest
  // back, so that no swap reads a next pointer of a node others may still
  // take.
  T* pop_atomic() {
    T* head = pop_all();
    if (head == nullptr) return nullptr;
    if (T* rest = head->next()) push_multiple_atomic(rest);
    head->set_next(nullptr);
    return head;
  }

  // ---- only for a stack that one thread owns ---------------------------------
  // In this framework the owner is the render thread, which walks the
  // render-observer list (TThreadSafeList).

  // [render]
  void push_NA(T* item) {
    item->set_next(mHead.load(std::memory_order_relaxed));
    mHead.store(item, std::memory_order_relaxed);
  }

  // [render]
  T* pop_NA() {
    T* head = mHead.load(std::memory_order_relaxed);
    if (head != nullptr) {
      mHead.store(head->next(), std::memory_order_relaxed);
      head->set_next(nullptr);
    }
    return head;
  }

  // [render]
  T* head_NA() const { return mHead.load(std::memory_order_relaxed); }
  void set_head_NA(T* head) { mHead.store(head, std::memory_order_relaxed); }

 private:
  // Full barrier: what a thread wrote into a node before pushing it is seen by
  // the thread that detaches it. On failure `expected` holds the current top.
  bool compare_and_swap(T*& expected, T* desired) {
    return mHead.compare_exchange_weak(expected, desired, std::memory_order_seq_cst,
                                       std::memory_order_seq_cst);
  }

  std::atomic<T*> mHead{nullptr};
};
