// Node sets of the XPath evaluator: TinyXML nodes and attributes without
// duplicates, with what is known about their order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

class TiXmlNode;
class TiXmlAttribute;

namespace XPath {

class DocumentOrder;

// Open-addressing set of pointers; inserting and looking up cost O(1) on
// average, so building a set of n entries never costs more than O(n).
class PointerSet {
 public:
  // True when `item` was not yet present.
  bool Insert(const void* item);
  bool Contains(const void* item) const;
  void Clear();
  std::size_t Size() const { return size_; }

 private:
  void Grow();
  std::vector<const void*> slots_;
  std::size_t size_ = 0;
};

class NodeSet {
 public:
  // Document: in document order. Pending: belongs in document order but
  // has not been sorted yet (a later step or the caller sorts it when the
  // order matters). Listed: the order the entries were added in (a union).
  enum class Order : std::uint8_t { Document, Pending, Listed };

  struct Entry {
    void* item;                     // TiXmlNode* or TiXmlAttribute*
    TiXmlNode* owner;               // an attribute's element; null for nodes
    std::uint32_t attributeIndex;   // an attribute's place in its element
    std::uint32_t position;         // sibling place found by a step; 0 unknown
    bool isAttribute;
    std::uint32_t number = 0;       // document-order number, when a step over the index knew it

    TiXmlNode* Node() const { return isAttribute ? nullptr : static_cast<TiXmlNode*>(item); }
    TiXmlAttribute* Attribute() const { return isAttribute ? static_cast<TiXmlAttribute*>(item) : nullptr; }
    // An attribute's value or a node's value (an element's name, a text's text).
    std::string_view Value() const;
  };

  NodeSet() = default;
  NodeSet(const NodeSet&) = delete;
  NodeSet& operator=(const NodeSet&) = delete;

  unsigned Count() const { return static_cast<unsigned>(entries_.size()); }
  bool Empty() const { return entries_.empty(); }
  const Entry& At(unsigned index) const { return entries_[index]; }
  bool IsAttribute(unsigned index) const { return index < Count() && entries_[index].isAttribute; }
  // Entry `index` when it exists and is of that kind, else null.
  TiXmlNode* GetNode(unsigned index) const { return index < Count() ? entries_[index].Node() : nullptr; }
  TiXmlAttribute* GetAttribute(unsigned index) const {
    return index < Count() ? entries_[index].Attribute() : nullptr;
  }

  // Adding an entry that is already present does nothing (result false).
  bool Add(TiXmlNode* node);
  bool Add(TiXmlAttribute* attribute, TiXmlNode* owner, std::uint32_t index);
  bool Add(const Entry& entry);
  // For callers that know the entry is not present yet (steps whose
  // results cannot repeat); skips the duplicate check.
  void AddUnique(TiXmlNode* node, std::uint32_t position = 0, std::uint32_t number = 0);
  void AddUnique(TiXmlAttribute* attribute, TiXmlNode* owner, std::uint32_t index);
  void AddUnique(const Entry& entry);
  bool Contains(const void* item) const;
  // Drops every entry whose item is `item`.
  void Remove(const void* item);

  void Clear();
  void Swap(NodeSet& other);
  // Room for `count` entries in all, so that a step that knows roughly how
  // much it will add grows the set once.
  void Reserve(std::size_t count) { entries_.reserve(count); }

  Order GetOrder() const { return order_; }
  void SetOrder(Order order) { order_ = order; }
  // No entry is an ancestor of another.
  bool IsFlat() const { return flat_; }
  void SetFlat(bool flat) { flat_ = flat; }

  // Where document-order numbers come from; without one the listed order
  // counts as document order.
  void SetDocumentOrder(DocumentOrder* order) { documentOrder_ = order; }
  // Sorts into document order (attributes right after their element, in
  // their own order); O(n log n).
  void Sort();
  // The first entry in document order, without reordering; null when empty.
  const Entry* FirstInDocumentOrder() const;

  // Direct access for filters that keep a subset in place.
  std::vector<Entry>& MutableEntries() { return entries_; }
  // Call after changing entries through MutableEntries.
  void EntriesChanged() { IndexDropped(); }

 private:
  void IndexDropped();
  void EnsureIndex() const;

  std::vector<Entry> entries_;
  mutable PointerSet index_;
  mutable bool indexed_ = false;
  Order order_ = Order::Document;
  bool flat_ = true;
  DocumentOrder* documentOrder_ = nullptr;
};

}  // namespace XPath
