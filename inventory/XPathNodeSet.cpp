#include "inventory/XPathNodeSet.h"

#include "inventory/XPathTree.h"

#include <tinyxml.h>

#include <algorithm>
#include <utility>

namespace XPath {

namespace {
std::size_t Hash(const void* item, std::size_t mask) {
  std::uint64_t x = reinterpret_cast<std::uintptr_t>(item);
  x ^= x >> 33;
  x *= 0xff51afd7ed558ccdULL;
  x ^= x >> 33;
  return static_cast<std::size_t>(x) & mask;
}

// A large table is given back rather than wiped, so a set reused for
// small results does not pay for a big one it once held.
const std::size_t kKeptSlots = 1 << 14;
}  // namespace

bool PointerSet::Insert(const void* item) {
  if ((size_ + 1) * 2 > slots_.size()) Grow();
  std::size_t mask = slots_.size() - 1;
  for (std::size_t i = Hash(item, mask);; i = (i + 1) & mask) {
    if (slots_[i] == item) return false;
    if (slots_[i] == nullptr) {
      slots_[i] = item;
      ++size_;
      return true;
    }
  }
}

bool PointerSet::Contains(const void* item) const {
  if (size_ == 0) return false;
  std::size_t mask = slots_.size() - 1;
  for (std::size_t i = Hash(item, mask);; i = (i + 1) & mask) {
    if (slots_[i] == item) return true;
    if (slots_[i] == nullptr) return false;
  }
}

void PointerSet::Clear() {
  if (slots_.size() > kKeptSlots) {
    std::vector<const void*>().swap(slots_);
  } else if (size_ != 0) {
    std::fill(slots_.begin(), slots_.end(), nullptr);
  }
  size_ = 0;
}

void PointerSet::Grow() {
  std::vector<const void*> old;
  old.swap(slots_);
  slots_.assign(old.empty() ? 16 : old.size() * 2, nullptr);
  size_ = 0;
  for (const void* item : old) {
    if (item != nullptr) Insert(item);
  }
}

std::string_view NodeSet::Entry::Value() const {
  if (isAttribute) return static_cast<const TiXmlAttribute*>(item)->ValueStr();
  return static_cast<const TiXmlNode*>(item)->ValueStr();
}

void NodeSet::EnsureIndex() const {
  if (indexed_) return;
  index_.Clear();
  for (const Entry& entry : entries_) index_.Insert(entry.item);
  indexed_ = true;
}

void NodeSet::IndexDropped() { indexed_ = false; }

bool NodeSet::Add(const Entry& entry) {
  EnsureIndex();
  if (!index_.Insert(entry.item)) return false;
  entries_.push_back(entry);
  return true;
}

bool NodeSet::Add(TiXmlNode* node) { return Add(Entry{node, nullptr, 0, 0, false}); }

bool NodeSet::Add(TiXmlAttribute* attribute, TiXmlNode* owner, std::uint32_t index) {
  return Add(Entry{attribute, owner, index, 0, true});
}

void NodeSet::AddUnique(const Entry& entry) {
  entries_.push_back(entry);
  if (indexed_) index_.Insert(entry.item);
}

void NodeSet::AddUnique(TiXmlNode* node, std::uint32_t position, std::uint32_t number) {
  AddUnique(Entry{node, nullptr, 0, position, false, number});
}

void NodeSet::AddUnique(TiXmlAttribute* attribute, TiXmlNode* owner, std::uint32_t index) {
  AddUnique(Entry{attribute, owner, index, 0, true});
}

bool NodeSet::Contains(const void* item) const {
  EnsureIndex();
  return index_.Contains(item);
}

void NodeSet::Remove(const void* item) {
  auto end = std::remove_if(entries_.begin(), entries_.end(), [item](const Entry& e) { return e.item == item; });
  if (end == entries_.end()) return;
  entries_.erase(end, entries_.end());
  IndexDropped();
}

void NodeSet::Clear() {
  entries_.clear();
  IndexDropped();
  order_ = Order::Document;
  flat_ = true;
}

void NodeSet::Swap(NodeSet& other) {
  entries_.swap(other.entries_);
  std::swap(index_, other.index_);
  std::swap(indexed_, other.indexed_);
  std::swap(order_, other.order_);
  std::swap(flat_, other.flat_);
}

void NodeSet::Sort() {
  if (order_ == Order::Document) return;
  order_ = Order::Document;
  if (documentOrder_ == nullptr || entries_.size() < 2) return;
  documentOrder_->Ensure();
  std::vector<std::pair<std::uint64_t, std::uint32_t>> keys;
  keys.reserve(entries_.size());
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    keys.emplace_back(documentOrder_->Key(entries_[i]), static_cast<std::uint32_t>(i));
  }
  std::sort(keys.begin(), keys.end());
  std::vector<Entry> sorted;
  sorted.reserve(entries_.size());
  for (const auto& key : keys) sorted.push_back(entries_[key.second]);
  entries_.swap(sorted);
}

const NodeSet::Entry* NodeSet::FirstInDocumentOrder() const {
  if (entries_.empty()) return nullptr;
  if (order_ == Order::Document || documentOrder_ == nullptr) return &entries_[0];
  documentOrder_->Ensure();
  const Entry* first = &entries_[0];
  std::uint64_t firstKey = documentOrder_->Key(*first);
  for (const Entry& entry : entries_) {
    std::uint64_t key = documentOrder_->Key(entry);
    if (key < firstKey) {
      first = &entry;
      firstKey = key;
    }
  }
  return first;
}

}  // namespace XPath
