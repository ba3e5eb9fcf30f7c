#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "framework/AURenderCallback.h"
#include "framework/TThreadSafeList.h"
#include "support/RenderNotifyStubs.h"

namespace {

using List = RenderCallbackList;

int gData[4];
const RenderCallback A{Notify1, &gData[0]};
const RenderCallback A2{Notify1, &gData[1]};  // same procedure, other user data
const RenderCallback B{Notify2, &gData[0]};   // same user data, other procedure
const RenderCallback C{Notify2, &gData[2]};

std::vector<RenderCallback> Contents(List& list) { return {list.begin(), list.end()}; }

// Counts heap allocations of list nodes and can make the heap run dry.
struct HeapHook {
  static inline int sAllocations = 0;
  static inline bool sExhausted = false;
  static void* Alloc(size_t n) {
    if (sExhausted) return nullptr;
    ++sAllocations;
    return std::malloc(n);
  }
  HeapHook() {
    sAllocations = 0;
    sExhausted = false;
    List::sAllocNode = &Alloc;
  }
  ~HeapHook() { List::sAllocNode = &List::DefaultAlloc; }
};

struct Op {
  enum Kind { kAdd, kRemove, kUpdate } kind;
  RenderCallback value{};
};
Op Add(RenderCallback v) { return {Op::kAdd, v}; }
Op Remove(RenderCallback v) { return {Op::kRemove, v}; }
const Op Update{Op::kUpdate};

TEST(ThreadSafeList, RequestsTakeEffectAtUpdateInPostingOrder) {
  struct Case {
    const char* name;
    std::vector<Op> ops;  // a final update follows
    std::vector<RenderCallback> expected;
  };
  const std::vector<Case> cases{
      {"nothing posted", {}, {}},
      {"same registration twice before a render", {Add(A), Add(A)}, {A}},
      {"same registration again later", {Add(A), Update, Add(A)}, {A}},
      {"other user data is another registration", {Add(A), Add(A2)}, {A, A2}},
      {"other procedure is another registration", {Add(B), Add(A)}, {B, A}},
      {"add, add, remove first", {Add(A), Add(B), Remove(A)}, {B}},
      {"add then remove before a render", {Add(A), Remove(A)}, {}},
      {"remove then add goes to the end", {Add(A), Add(B), Update, Remove(A), Add(A)}, {B, A}},
      {"remove of absent", {Add(A), Update, Remove(C)}, {A}},
      {"remove on empty", {Remove(A)}, {}},
      {"remove needs both words equal", {Add(A), Update, Remove(A2), Remove(B)}, {A}},
      {"remove middle", {Add(A), Add(B), Add(C), Update, Remove(B)}, {A, C}},
      {"remove last", {Add(A), Add(B), Add(C), Update, Remove(C)}, {A, B}},
      {"remove all, add again", {Add(A), Add(B), Update, Remove(B), Remove(A), Update, Add(C)}, {C}},
      {"one removal per remove request",
       {Add(A), Update, Remove(A), Remove(A), Add(A), Add(B)},
       {A, B}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    List list;
    for (const Op& op : c.ops) {
      switch (op.kind) {
        case Op::kAdd: EXPECT_TRUE(list.deferred_add(op.value)); break;
        case Op::kRemove: EXPECT_TRUE(list.deferred_remove(op.value)); break;
        case Op::kUpdate: list.update(); break;
      }
    }
    list.update();
    EXPECT_EQ(Contents(list), c.expected);
  }
}

TEST(ThreadSafeList, PostsWaitForTheNextUpdate) {
  List list;
  list.deferred_add(A);
  EXPECT_EQ(Contents(list), std::vector<RenderCallback>{});
  list.update();
  list.deferred_remove(A);
  list.deferred_add(B);
  EXPECT_EQ(Contents(list), std::vector<RenderCallback>{A});
  list.update();
  EXPECT_EQ(Contents(list), std::vector<RenderCallback>{B});
}

TEST(ThreadSafeList, NodesAreRecycledInsteadOfAllocated) {
  HeapHook heap;
  List list;
  list.deferred_add(A);
  list.deferred_add(B);
  list.update();
  list.deferred_remove(A);
  list.deferred_add(B);  // duplicate: its node goes straight back
  list.update();
  EXPECT_EQ(heap.sAllocations, 4);
  EXPECT_EQ(list.free_count(), 3u) << "A's node, the remove request and the duplicate add";

  // Steady churn runs on the pool alone.
  for (int i = 0; i < 1000; ++i) {
    list.deferred_add(C);
    list.deferred_remove(C);
    list.update();
    list.deferred_add(A);
    list.update();
    list.deferred_remove(A);
    list.update();
  }
  EXPECT_EQ(heap.sAllocations, 4);
  EXPECT_EQ(list.free_count(), 3u);
  EXPECT_EQ(Contents(list), std::vector<RenderCallback>{B});
}

TEST(ThreadSafeList, ExhaustedHeapDropsThePostAndSaysSo) {
  HeapHook heap;
  List list;
  list.deferred_add(A);
  list.update();

  heap.sExhausted = true;
  EXPECT_FALSE(list.deferred_add(B));
  EXPECT_FALSE(list.deferred_remove(A));
  list.update();
  EXPECT_EQ(Contents(list), std::vector<RenderCallback>{A}) << "failed posts change nothing";

  // Pooled nodes still serve while the heap is dry.
  heap.sExhausted = false;
  list.deferred_add(B);
  list.deferred_remove(B);
  list.update();
  heap.sExhausted = true;
  EXPECT_TRUE(list.deferred_add(C));
  EXPECT_TRUE(list.deferred_add(B));
  EXPECT_FALSE(list.deferred_add(A2)) << "pool of two is used up";
  list.update();
  EXPECT_EQ(Contents(list), (std::vector<RenderCallback>{A, C, B}));
}

TEST(ThreadSafeList, DestructionReleasesActivePendingAndPooledNodes) {
  // The leak checker of the sanitizer build catches a node left behind.
  List list;
  list.deferred_add(A);
  list.deferred_add(B);
  list.update();
  list.deferred_remove(A);
  list.update();
  list.deferred_add(C);
  list.deferred_add(A2);
  EXPECT_EQ(Contents(list), std::vector<RenderCallback>{B});
}

TEST(AtomicStack, PopAtomicTakesTheTopAndKeepsTheRest) {
  struct N {
    N* mNext = nullptr;
    int id;
    N* next() const { return mNext; }
    void set_next(N* n) { mNext = n; }
  };
  N n[3]{{nullptr, 0}, {nullptr, 1}, {nullptr, 2}};
  TAtomicStack<N> stack;
  EXPECT_EQ(stack.pop_atomic(), nullptr);
  for (N& x : n) stack.push_atomic(&x);
  EXPECT_EQ(stack.pop_atomic(), &n[2]);
  EXPECT_EQ(n[2].next(), nullptr) << "a taken node is cut off the stack";
  EXPECT_EQ(stack.pop_atomic(), &n[1]);
  stack.push_atomic(&n[2]);
  N* chain = stack.pop_all();
  ASSERT_EQ(chain, &n[2]);
  EXPECT_EQ(chain->next(), &n[0]);
  EXPECT_EQ(n[0].next(), nullptr);
  EXPECT_EQ(stack.pop_all(), nullptr);
}

}  // namespace
