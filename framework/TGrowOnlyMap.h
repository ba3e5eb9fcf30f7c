// An ordered map from unsigned integer keys that only grows. Lookups and
// walks run on any thread, without lock or allocation, while one other thread
// adds an entry: an entry is built whole and then linked in with release
// stores, and no entry is freed before the map is destroyed, so a reader never
// meets freed memory and a reference to a value stays valid for the map's
// life. A skip list: a lookup costs a logarithmic number of steps. Each node's
// height comes from its key, so the layout depends neither on the order of
// additions nor on a random source.
//
// Adding is for one thread at a time; the owner serialises its writers.
#pragma once

#include <atomic>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <type_traits>
#include <utility>

template <class Key, class Value>
class TGrowOnlyMap {
  static_assert(std::is_integral_v<Key> && std::is_unsigned_v<Key>, "keys are unsigned integers");

 public:
  // [control] Made and destroyed with its element.
  TGrowOnlyMap() = default;
  TGrowOnlyMap(const TGrowOnlyMap&) = delete;
  TGrowOnlyMap& operator=(const TGrowOnlyMap&) = delete;
  ~TGrowOnlyMap() {
    Node* node = mHead[0].load(std::memory_order_acquire);
    while (node != nullptr) {
      Node* next = node->next[0].load(std::memory_order_relaxed);
      delete node;
      node = next;
    }
  }

  // [any] The stored value, or null. A small key present is found in one load.
  Value* Find(Key key) const {
    if (key < kDirectKeys) {
      if (Node* direct = mDirect[key].load(std::memory_order_acquire)) return &direct->value;
    }
    // Also for a small key not yet in its slot: Emplace fills the slot
    // after linking the node, and a walk may already have met it.
    Node* found = Search(key, nullptr);
    return found != nullptr ? &found->value : nullptr;
  }

  // [control] Adds key with value when it is missing (one adding thread at a
  // time). Returns the stored value and whether it was added. May throw
  // std::bad_alloc, changing nothing.
  std::pair<Value*, bool> Emplace(Key key, const Value& value) {
    Node* preds[kLevels];
    if (Node* found = Search(key, preds)) return {&found->value, false};
    const int height = HeightOf(key);
    Node* node = new Node(key, value, height);
    for (int level = 0; level < height; ++level)
      node->next[level].store(Link(preds[level], level).load(std::memory_order_relaxed),
                              std::memory_order_relaxed);
    // Level 0 first: from then on every walk and lookup can meet the node.
    for (int level = 0; level < height; ++level) Link(preds[level], level).store(node, std::memory_order_release);
    if (key < kDirectKeys) mDirect[key].store(node, std::memory_order_release);
    mSize.store(mSize.load(std::memory_order_relaxed) + 1, std::memory_order_release);
    return {&node->value, true};
  }

  // [any]
  size_t Size() const { return mSize.load(std::memory_order_acquire); }

  // [any] Calls f(key, value) in ascending key order, for at most `limit` entries.
  template <class F>
  void ForEach(F&& f, size_t limit = SIZE_MAX) const {
    for (Node* node = mHead[0].load(std::memory_order_acquire); node != nullptr && limit > 0; --limit) {
      f(node->key, node->value);
      node = node->next[0].load(std::memory_order_acquire);
    }
  }

 private:
  static constexpr int kLevels = 16;
  // Keys below this (parameter IDs mostly are) also have a slot of their own:
  // a render asks for a few parameters per call, and a search from the top
  // level costs a hundred instructions or more each time.
  static constexpr Key kDirectKeys = 16;

  struct Node {
    Node(Key k, const Value& v, int h) : key(k), value(v), height(h) {}
    const Key key;
    Value value;
    const int height;
    std::atomic<Node*> next[kLevels] = {};  // the first `height` are linked
  };

  // Half the nodes reach level 1, a quarter level 2, and so on; the key is
  // mixed first so that dense IDs do not all land on the same heights.
  static int HeightOf(Key key) {
    const uint64_t mixed = (static_cast<uint64_t>(key) + 1) * 0x9E3779B97F4A7C15ull;
    const int zeros = std::countr_zero(static_cast<uint32_t>(mixed >> 32) | (1u << (kLevels - 1)));
    return zeros + 1;
  }

  // The link at `level` that leaves pred (the head when pred is null).
  std::atomic<Node*>& Link(Node* pred, int level) const { return pred != nullptr ? pred->next[level] : mHead[level]; }

  // The node holding key, or null; fills preds (when given) with the last
  // node before key on each level (null: the head).
  Node* Search(Key key, Node** preds) const {
    Node* pred = nullptr;
    Node* found = nullptr;
    for (int level = kLevels - 1; level >= 0; --level) {
      Node* next = Link(pred, level).load(std::memory_order_acquire);
      while (next != nullptr && next->key < key) {
        pred = next;
        next = pred->next[level].load(std::memory_order_acquire);
      }
      if (next != nullptr && next->key == key) {
        found = next;
        if (preds == nullptr) return found;
      }
      if (preds != nullptr) preds[level] = pred;
    }
    return found;
  }

  mutable std::atomic<Node*> mHead[kLevels] = {};
  std::atomic<Node*> mDirect[kDirectKeys] = {};
  std::atomic<size_t> mSize{0};
};
